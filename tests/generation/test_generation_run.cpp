// The generation run against the word-processor double: step sequence and reports,
// replacement order, working files and the hand-over to the preview.
#include "generation/Fields.h"
#include "generation/GenerationRun.h"
#include "generation/GenerationSteps.h"
#include "generation/PageSnapshot.h"
#include "support/FakeDialogs.h"
#include "support/FakeGenerationHost.h"
#include "support/FakePlatform.h"
#include "support/FakeWord.h"
#include "support/PageRendering.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QList<int> Range(int from, int to)
{
    QList<int> steps;
    for (int s = from; s <= to; s += 2)
        steps << s;
    return steps;
}
}

class GenerationRunTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void fillsEveryStoryAndShapeAndHandsOver();
    void officeThatCannotStartIsReportedStepByStep();
    void ownTagDoesNotLoop();
    void emptyFieldsRemoveTheirTags();
    void nameCollisionDrawsNewName();

private:
    void Run();

    std::unique_ptr<QTemporaryDir> mTemp;
    FakeGenerationHost mHost;
    std::unique_ptr<FakeWord> mWordDouble;
    FakeDialogs mDialogs;
    FakeClock mClock;
    FakeRandom mRandom;
};

void GenerationRunTest::init()
{
    mTemp = std::make_unique<QTemporaryDir>();
    qputenv("TEMP", mTemp->path().toUtf8());
    mHost = FakeGenerationHost();
    mWordDouble = std::make_unique<FakeWord>();
    mDialogs = FakeDialogs();
    mRandom.values = {0.3};
}

void GenerationRunTest::Run()
{
    RunGeneration(mHost, GenerationServices{*mWordDouble, mDialogs, mClock, mRandom});
}

void GenerationRunTest::fillsEveryStoryAndShapeAndHandsOver()
{
    mWordDouble->document.stories = {QStringLiteral("Dear [recipientname], from [YourName] of [CITY], [ST] on [CurrentDate]"),
                              QStringLiteral("[Recipient Name] Page 2")};
    mWordDouble->document.shapes = {{true, QStringLiteral("Note for [RecipientName]")}, {true, QString()}};
    mHost.fields[0] = QStringLiteral("Ann & $1 \\n ^p");
    mHost.fields[1] = QStringLiteral("Boise");
    mHost.fields[7] = QStringLiteral("John Smith");
    mHost.fields[8] = QStringLiteral("ID");
    Run();

    QCOMPARE(mDialogs.ErrorReports(), QStringList());
    const QString date = QLocale::system().toString(mClock.today, QLocale::ShortFormat);
    QCOMPARE(mHost.fields[DateFieldIndex], date);
    QCOMPARE(mWordDouble->opened.size(), 2);
    const FakeWord::Content& filled = mWordDouble->saved.value(mHost.wordFile);
    QCOMPARE(filled.stories.at(0), QStringLiteral("Dear John Smith, from Ann & $1 \\n ^p of Boise, ID on ") + date);
    QCOMPARE(filled.stories.at(1), QStringLiteral("[Recipient Name] Page 2"));
    QCOMPARE(filled.shapes.at(0).text, QStringLiteral("Note for John Smith"));
    // The letter names its user as author and last to save it, not the template's maker.
    QCOMPARE(filled.properties.value(Word::wdPropertyAuthor), AccountName());
    QCOMPARE(filled.properties.value(Word::wdPropertyLastAuthor), AccountName());
    QVERIFY(!AccountName().isEmpty());

    // Field-major over the stories (fourteen fields, two stories), then shape by shape.
    QCOMPARE(mWordDouble->log.filter(QStringLiteral("Execute(Replace=2)")).size(), 2 * FieldCount);
    QCOMPARE(mWordDouble->log.filter(QStringLiteral("Execute(FindText=")).size(), FieldCount);
    QCOMPARE(mWordDouble->log.filter(QStringLiteral("Open(")).constFirst(),
             QStringLiteral("Open(%1, ReadOnly=true)").arg(QDir(mTemp->path()).filePath(QStringLiteral("template.dot"))));

    QCOMPARE(mHost.pointers, QList<PointerShape>({PointerShape::Hourglass, PointerShape::Default, PointerShape::Default}));
    QCOMPARE(mHost.journal.mid(mHost.journal.size() - 4),
             QStringList({"picture", "word file", "show preview", "hide"}));
    QCOMPARE(mHost.previewPicture.size(), RenderPdf(mWordDouble->pdf, 96).size());
    QCOMPARE(mHost.previewPages, mWordDouble->pdf);
    QVERIFY(QFileInfo(mHost.wordFile).fileName().contains(QRegularExpression(QStringLiteral("^varnel[1-9]{8}\\.doc$"))));
    QCOMPARE(QDir(mTemp->path()).entryList(QDir::Files), QStringList{QFileInfo(mHost.wordFile).fileName()});
    QCOMPARE(mWordDouble->running, 0);
}

void GenerationRunTest::officeThatCannotStartIsReportedStepByStep()
{
    mWordDouble->FailOn(QStringLiteral("CreateApplication"));
    Run();

    QList<int> expected{106, 110};
    for (int i = 0; i < FieldCount; ++i)
        expected << 116 << Range(120, 146);
    expected << 152 << 154 << QList<int>(FieldCount, 158) << Range(182, 188);
    expected << 116 << 118 << 120 << 122 << 124 << 126; // the snapshot reports its own
    expected << 202 << 210;
    QCOMPARE(mDialogs.FailedSteps(), expected);
    const QStringList reports = mDialogs.ErrorReports();
    QVERIFY(reports.at(0).startsWith(QStringLiteral("Simulated failure\r\nin %1 at line 106\r\r").arg(QLatin1String(GenerationRunLocation))));
    QVERIFY(reports.at(1).startsWith(QStringLiteral("Object variable not set\r\n")));
    QVERIFY(reports.at(expected.size() - 8).contains(QStringLiteral("in %1 at line 116").arg(QLatin1String(SnapshotLocation))));

    // The run still completes: template copy removed, preview shown with the document path.
    QCOMPARE(mHost.journal.mid(mHost.journal.size() - 3), QStringList({"word file", "show preview", "hide"}));
    QVERIFY(!QFile::exists(QDir(mTemp->path()).filePath(QStringLiteral("template.dot"))));
    QCOMPARE(mHost.pointers, QList<PointerShape>({PointerShape::Hourglass, PointerShape::Default, PointerShape::Default}));
}

void GenerationRunTest::ownTagDoesNotLoop()
{
    mWordDouble->document.stories = {QStringLiteral("Dear [RecipientName], yes [RecipientName]")};
    mHost.fields[7] = QStringLiteral("[RecipientName] Jr");
    Run();
    QCOMPARE(mWordDouble->saved.value(mHost.wordFile).stories.at(0),
             QStringLiteral("Dear [RecipientName] Jr, yes [RecipientName] Jr"));
}

void GenerationRunTest::emptyFieldsRemoveTheirTags()
{
    QString all;
    for (const char* tag : FieldTags)
        all += QLatin1String(tag) + QLatin1Char('|');
    mWordDouble->document.stories = {all};
    Run();
    const QString date = QLocale::system().toString(mClock.today, QLocale::ShortFormat);
    QCOMPARE(mWordDouble->saved.value(mHost.wordFile).stories.at(0), QString(TypedFieldCount, QLatin1Char('|')) + date + QLatin1Char('|'));
}

void GenerationRunTest::nameCollisionDrawsNewName()
{
    const QString taken = QDir(mTemp->path()).filePath(QStringLiteral("varnel11111111.doc"));
    QFile existing(taken);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("someone else's letter");
    existing.close();
    // First eight draws give 1s, the rest 5s.
    mRandom.values = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.5};
    Run();
    QCOMPARE(QFileInfo(mHost.wordFile).fileName(), QStringLiteral("varnel55555555.doc"));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("someone else's letter"));
    QCOMPARE(mDialogs.ErrorReports(), QStringList());

    FakeRandom edges;
    edges.values = {0.0, 0.999999, 0.111, 0.112, 0.5, 0.8888, 0.8889, 0.9999999999};
    QCOMPARE(DrawWorkingName(edges), QStringLiteral("varnel19125899"));
}

QTEST_MAIN(GenerationRunTest)
#include "test_generation_run.moc"
