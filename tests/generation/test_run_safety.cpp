// The generation run against the word-processor double where input or surroundings are
// hostile: texts the letter cannot take as they are, texts that look like tags (in stories
// and shapes), and the lock that makes the runs of two instances follow one another. The
// end-to-end tests in tests/app cover the same against the real office.
#include "generation/Fields.h"
#include "generation/GenerationRun.h"
#include "generation/LetterText.h"
#include "generation/RunLock.h"
#include "support/FakeDialogs.h"
#include "support/FakeGenerationHost.h"
#include "support/FakePlatform.h"
#include "support/FakeWord.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {
QString AllTags()
{
    QStringList tags;
    for (const char* tag : FieldTags)
        tags << QLatin1String(tag);
    return tags.join(QLatin1Char('|'));
}
}

class RunSafetyTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void letterText_data();
    void letterText();
    void tagLikeTextsComeOutAsTyped();
    void foreignWorkingFilesAreNeitherUsedNorDeleted();
    void runHoldsTheLockAndWaitsBoundedForIt();
    void runGoesOnWithoutAPlaceForTheLock();

private:
    void Run(std::chrono::milliseconds lockWait = RunLockWait);

    QTemporaryDir mRuntime;
    std::unique_ptr<QTemporaryDir> mTemp;
    FakeGenerationHost mHost;
    std::unique_ptr<FakeWord> mWord;
    FakeDialogs mDialogs;
    FakeClock mClock;
    FakeRandom mRandom;
};

// A runtime folder of the test's own, so that the runs of other programs do not hold its lock.
void RunSafetyTest::initTestCase()
{
    QVERIFY(mRuntime.isValid());
    qputenv("XDG_RUNTIME_DIR", mRuntime.path().toUtf8());
}

void RunSafetyTest::init()
{
    mTemp = std::make_unique<QTemporaryDir>();
    qputenv("TEMP", mTemp->path().toUtf8());
    mHost = FakeGenerationHost();
    mWord = std::make_unique<FakeWord>();
    mDialogs = FakeDialogs();
    mRandom.values = {0.3};
}

void RunSafetyTest::Run(std::chrono::milliseconds lockWait)
{
    RunGeneration(mHost, GenerationServices{*mWord, mDialogs, mClock, mRandom, {}, lockWait});
}

void RunSafetyTest::letterText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("letter");
    QTest::addColumn<bool>("replaced");
    const QString r(QChar(QChar::ReplacementCharacter));
    QTest::newRow("plain and patterns") << QStringLiteral("A & $1 \\n ^p ^& \\\\") << QStringLiteral("A & $1 \\n ^p ^& \\\\") << false;
    QTest::newRow("tab") << QStringLiteral("a\tb") << QStringLiteral("a\tb") << false;
    QTest::newRow("line breaks") << QStringLiteral("a\r\nb\rc\nd\ve\ff") << QStringLiteral("a\nb\nc\nd\ne\nf") << false;
    QTest::newRow("NUL and C0") << QString::fromUtf16(u"a\u0000b\u0001c\u001Fd\u0013e", 9)
                                << QStringLiteral("a") + r + QStringLiteral("b") + r + QStringLiteral("c") + r
            + QStringLiteral("d") + r + QStringLiteral("e")
                                << true;
    QTest::newRow("DEL and C1 kept") << QString::fromUtf16(u"a\u007Fb\u0085c") << QString::fromUtf16(u"a\u007Fb\u0085c") << false;
    QTest::newRow("scripts and emoji") << QString::fromUtf16(u"Жя 中文 שלום سلام 😀👍🏽")
                                       << QString::fromUtf16(u"Жя 中文 שלום سلام 😀👍🏽") << false;
    QTest::newRow("lone high surrogate") << QString::fromUtf16(u"a") + QChar(0xD83D) + QStringLiteral("b")
                                         << QStringLiteral("a") + r + QStringLiteral("b") << true;
    QTest::newRow("lone low surrogate at end") << QStringLiteral("a") + QChar(0xDE00) << QStringLiteral("a") + r << true;
    QTest::newRow("non-characters") << QString::fromUtf16(u"a\uFDD0b\uFFFEc\U0001FFFFd")
                                    << QStringLiteral("a") + r + QStringLiteral("b") + r + QStringLiteral("c") + r + QStringLiteral("d")
                                    << true;
}

void RunSafetyTest::letterText()
{
    QFETCH(QString, typed);
    QFETCH(QString, letter);
    QFETCH(bool, replaced);
    const LetterText result = ToLetterText(typed);
    QCOMPARE(result.text, letter);
    QCOMPARE(result.replaced, replaced);
}

// A text that holds tags of other fields, of any letter case and in stories and shapes
// alike, comes out exactly as typed; the later fields still fill their own tags.
void RunSafetyTest::tagLikeTextsComeOutAsTyped()
{
    mWord->document.stories = {AllTags(), QStringLiteral("Dear [RecipientName]")};
    mWord->document.shapes = {{true, QStringLiteral("[YourName] / [CompanyName]")}};
    mHost.fields[0] = QStringLiteral("[City] [companyname] [YourName]");
    mHost.fields[1] = QStringLiteral("Boise");
    mHost.fields[7] = QStringLiteral("[YourTitle] & $1 [CURRENTDATE]");
    mHost.fields[11] = QStringLiteral("ACME [ST]");
    mHost.fields[12] = QStringLiteral("Owner");
    Run();

    QCOMPARE(mDialogs.ErrorReports(), QStringList());
    const QString date = mHost.fields[DateFieldIndex];
    QVERIFY(!date.isEmpty());
    const FakeWord::Content& saved = mWord->saved.value(mHost.wordFile);
    QStringList expected;
    for (int i = 0; i < FieldCount; ++i)
        expected << mHost.fields[i];
    QCOMPARE(saved.stories.at(0), expected.join(QLatin1Char('|')));
    QCOMPARE(saved.stories.at(1), QStringLiteral("Dear [YourTitle] & $1 [CURRENTDATE]"));
    QCOMPARE(saved.shapes.at(0).text, QStringLiteral("[City] [companyname] [YourName] / ACME [ST]"));
}

// What stands at "template.dot" or "temp.bmp" without being the run's own file (a link to
// someone else's file, a FIFO that would block whoever opens it) is neither filled as the
// letter, shown, written through nor deleted, and the run does not wait on it.
void RunSafetyTest::foreignWorkingFilesAreNeitherUsedNorDeleted()
{
    QTemporaryDir elsewhere;
    const QString foreign = elsewhere.filePath(QStringLiteral("foreign.dot"));
    QFile file(foreign);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("someone else's template");
    file.close();
    const QString copy = QDir(mTemp->path()).filePath(QStringLiteral("template.dot"));
    QVERIFY(QFile::link(foreign, copy));
    Run();

    QCOMPARE(mDialogs.FailedSteps().mid(0, 2), QList<int>({104, 110}));
    QVERIFY2(mDialogs.ErrorReports().at(0).contains(QStringLiteral("symbolic link")), qPrintable(mDialogs.ErrorReports().at(0)));
    QVERIFY2(mDialogs.ErrorReports().at(1).startsWith(
                 QStringLiteral("The letter template could not be written to \"%1\", so there is no template to fill.").arg(copy)),
             qPrintable(mDialogs.ErrorReports().at(1)));
    QVERIFY(mWord->log.filter(QStringLiteral("Open(%1").arg(copy)).isEmpty());
    QVERIFY(QFileInfo(copy).isSymLink());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("someone else's template"));
    QVERIFY(QFile::remove(copy));

    const QString snapshot = QDir(mTemp->path()).filePath(QStringLiteral("temp.bmp"));
    QCOMPARE(::mkfifo(QFile::encodeName(snapshot).constData(), 0666), 0);
    mDialogs = FakeDialogs();
    Run();
    QCOMPARE(mDialogs.FailedSteps(), QList<int>({122, 202, 210}));
    QVERIFY2(mDialogs.ErrorReports().at(0).contains(QStringLiteral("it is a FIFO")), qPrintable(mDialogs.ErrorReports().at(0)));
    QVERIFY(mHost.previewPicture.isNull());
    QVERIFY(QFileInfo(mHost.wordFile).isFile());
    struct stat info {};
    QVERIFY(::lstat(QFile::encodeName(snapshot).constData(), &info) == 0 && S_ISFIFO(info.st_mode));
}

void RunSafetyTest::runHoldsTheLockAndWaitsBoundedForIt()
{
    const QString path = RunLockPath();
    QCOMPARE(QFileInfo(path).absolutePath(), QDir(mRuntime.path()).absolutePath());
    bool heldDuringRun = false;
    mHost.duringRun = [&] {
        QLockFile probe(path);
        heldDuringRun = !probe.tryLock(0);
    };
    Run();
    QVERIFY(heldDuringRun);
    QCOMPARE(mDialogs.ErrorReports(), QStringList());

    // While another instance holds it, the run waits the bounded time and then goes on.
    QLockFile other(path);
    QVERIFY(other.tryLock(0));
    mHost.duringRun = nullptr;
    mDialogs = FakeDialogs();
    mRandom.values = {0.5}; // a name of its own for the second letter
    QElapsedTimer timer;
    timer.start();
    Run(std::chrono::milliseconds(400));
    QVERIFY2(timer.elapsed() >= 400, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(mDialogs.ErrorReports(), QStringList());
    QVERIFY(QFileInfo::exists(mHost.wordFile));
    QVERIFY(other.isLocked());
}

void RunSafetyTest::runGoesOnWithoutAPlaceForTheLock()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    // A regular file where the lock's folder would be: no folder can be made there, not even by root.
    const QString blocker = QDir(mTemp->path()).filePath(QStringLiteral("not-a-folder"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_CACHE_HOME", (blocker + QStringLiteral("/cache")).toUtf8());
    const QString path = RunLockPath();
    Run();
    for (const auto& [name, value] : {std::pair{"XDG_RUNTIME_DIR", runtime}, std::pair{"XDG_CACHE_HOME", cache}}) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QCOMPARE(path, QString());
    QCOMPARE(mDialogs.ErrorReports(), QStringList());
    QVERIFY(QFileInfo::exists(mHost.wordFile));
}

QTEST_MAIN(RunSafetyTest)
#include "test_run_safety.moc"
