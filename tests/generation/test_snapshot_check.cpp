// The page snapshot and the office check against the in-memory word processor.

#include "core/AppError.h"
#include "generation/PageSnapshot.h"
#include "generation/WordCheck.h"
#include "support/FakeDialogs.h"
#include "support/FakeWord.h"
#include "support/PageRendering.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Location = QLatin1String(SnapshotLocation);

QImage Filled(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Images compared pixel for pixel, whatever their storage format.
bool SamePicture(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

}

class SnapshotAndCheckTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir mTemp;
    QString mDocument;

    QString SnapshotPath() const { return mTemp.filePath(QStringLiteral("temp.bmp")); }

private slots:
    void initTestCase()
    {
        QVERIFY(mTemp.isValid());
        qputenv("TEMP", QFile::encodeName(mTemp.path()));
        mDocument = mTemp.filePath(QStringLiteral("varnel12345678.doc"));
        QFile document(mDocument);
        QVERIFY(document.open(QIODevice::WriteOnly));
        document.write("working document");
    }

    void init()
    {
        QFile::remove(SnapshotPath());
        QGuiApplication::clipboard()->setImage(Filled(40, 30, Qt::red));
    }

    void snapshotWritesTheRenderedPagesAndLeavesThemOnTheClipboard()
    {
        FakeWord word;
        word.pdf = LetterPdf(2, [](QPainter& painter, int) { painter.fillRect(QRectF(0, 0, 612, 792), Qt::blue); });
        const QImage pages = RenderPdf(word.pdf, 96);
        QCOMPARE(pages.size(), QSize(816, 2112));
        // An older, longer snapshot: the new one replaces it whole.
        QFile older(SnapshotPath());
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write(QByteArray(20'000'000, 'x'));
        older.close();
        FakeDialogs dialogs;

        TakePageSnapshot(mDocument, word, dialogs, {});

        QCOMPARE(dialogs.shown.size(), 0);
        QCOMPARE(word.log, QStringList({QStringLiteral("CreateApplication"), QStringLiteral("Documents"),
                                        QStringLiteral("Open(") + mDocument + QLatin1Char(')'), QStringLiteral("Range"),
                                        QStringLiteral("PagesAsPdf"), QStringLiteral("ActiveDocument"),
                                        QStringLiteral("Close(0)"), QStringLiteral("Quit")}));
        QCOMPARE(word.running, 0);
        const QImage written(SnapshotPath(), "BMP");
        QVERIFY(SamePicture(written, pages));
        QVERIFY(QFileInfo(SnapshotPath()).size() < 20'000'000);
        QVERIFY(SamePicture(QGuiApplication::clipboard()->image(), pages));
        // The document was only read.
        QCOMPARE(word.saved.size(), 0);
    }

    // Without an office every step that needs it fails in turn; the user's clipboard
    // picture is never taken for the letter, and an older snapshot is not left to stand
    // for it either.
    void snapshotWithoutOfficeReportsEveryStepAndWritesNothing()
    {
        FakeWord word;
        word.FailOn(QStringLiteral("CreateApplication"), 0, QStringLiteral("No office here"));
        QFile older(SnapshotPath());
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write("picture of an earlier letter");
        older.close();
        FakeDialogs dialogs;

        TakePageSnapshot(mDocument, word, dialogs, {});

        QCOMPARE(dialogs.FailedSteps(), QList<int>({116, 118, 120, 122, 124, 126}));
        const QStringList reports = dialogs.ErrorReports();
        QVERIFY(reports[0].startsWith(QStringLiteral("No office here\r\nin ") + Location + QStringLiteral(" at line 116\r\r")));
        QVERIFY(reports[1].startsWith(QStringLiteral("Object variable not set\r\n")));
        QVERIFY(reports[3].startsWith(QStringLiteral("There is no picture of the document to save")));
        QVERIFY(!QFileInfo::exists(SnapshotPath()));
        QVERIFY(SamePicture(QGuiApplication::clipboard()->image(), Filled(40, 30, Qt::red)));
    }

    void snapshotWhoseRenderingFailsStillClosesAndQuits()
    {
        FakeWord word;
        word.FailOn(QStringLiteral("PagesAsPdf"), 0, QStringLiteral("Rendering failed"));
        FakeDialogs dialogs;

        TakePageSnapshot(mDocument, word, dialogs, {});

        QCOMPARE(dialogs.FailedSteps(), QList<int>({120, 122}));
        QVERIFY(dialogs.ErrorReports()[0].startsWith(QStringLiteral("Rendering failed\r\nin ") + Location));
        QCOMPARE(word.log.mid(word.log.size() - 3),
                 QStringList({QStringLiteral("ActiveDocument"), QStringLiteral("Close(0)"), QStringLiteral("Quit")}));
        QCOMPARE(word.running, 0);
        QVERIFY(!QFileInfo::exists(SnapshotPath()));
        QVERIFY(SamePicture(QGuiApplication::clipboard()->image(), Filled(40, 30, Qt::red)));
    }

    void snapshotOfAMissingDocument()
    {
        FakeWord word;
        FakeDialogs dialogs;

        TakePageSnapshot(mTemp.filePath(QStringLiteral("absent.doc")), word, dialogs, {});

        // Nothing is open to render or to close; the instance still quits.
        QCOMPARE(dialogs.FailedSteps(), QList<int>({118, 120, 122, 124}));
        QCOMPARE(word.log.last(), QStringLiteral("Quit"));
        QCOMPARE(word.running, 0);
    }

    // A failing Quit is reported; releasing the object still ends the instance.
    void snapshotWhoseQuitFails()
    {
        FakeWord word;
        word.FailOn(QStringLiteral("Quit"));
        FakeDialogs dialogs;

        TakePageSnapshot(mDocument, word, dialogs, {});

        QCOMPARE(dialogs.FailedSteps(), QList<int>({126}));
        QCOMPARE(word.running, 0);
        QVERIFY(QFileInfo::exists(SnapshotPath()));
    }

    void checkWithoutOfficeShowsTheMessageOnce()
    {
        FakeWord word;
        word.FailOn(QStringLiteral("CreateApplication"));
        FakeDialogs dialogs;

        CheckWordInstalled(word, dialogs);

        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].kind, QStringLiteral("message"));
        QCOMPARE(dialogs.shown[0].text.section(QStringLiteral("\r\n\r\n"), 0, 0),
                 QStringLiteral("Word is not installed on this computer. You need to have it installed to use this software."));
        QCOMPARE(dialogs.shown[0].caption, QLatin1String(ApplicationTitle));
        QCOMPARE(word.log, QStringList({QStringLiteral("CreateApplication")}));
    }

    void checkWithOfficeQuitsItSilently()
    {
        FakeWord word;
        FakeDialogs dialogs;

        CheckWordInstalled(word, dialogs);

        QCOMPARE(dialogs.shown.size(), 0);
        QCOMPARE(word.log, QStringList({QStringLiteral("CreateApplication"), QStringLiteral("Quit")}));
        QCOMPARE(word.running, 0);
    }

    void checkWhoseQuitFailsShowsNothingAndLeavesNoInstance()
    {
        FakeWord word;
        word.FailOn(QStringLiteral("Quit"));
        FakeDialogs dialogs;

        CheckWordInstalled(word, dialogs);

        QCOMPARE(dialogs.shown.size(), 0);
        QCOMPARE(word.running, 0);
    }

    // The double replaces the way the engine does, since tests of the run rely on it.
    void fakeWordReplacesLiterallyIgnoringCase()
    {
        FakeWord word;
        word.document.stories = {QStringLiteral("[City], [CITY] and x[city]y"), QStringLiteral("header [City]")};
        word.document.shapes = {{true, QStringLiteral("shape [city]")}, {false, QString()}};
        const auto application = word.CreateApplication();
        const auto document = application->Documents()->Open(mDocument, true);

        Word::ExecuteArguments arguments;
        arguments.FindText = QStringLiteral("[City]");
        arguments.ReplaceWith = QStringLiteral("$1 & [City]");
        arguments.Replace = Word::wdReplaceAll;
        QVERIFY(document->StoryRanges()->Item(0)->Find()->Execute(arguments));
        QVERIFY(document->Shapes()->Item(0)->TextFrame()->TextRange()->Find()->Execute(arguments));
        QVERIFY(!document->Shapes()->Item(0)->TextFrame()->TextRange()->Find()->Execute(
            Word::ExecuteArguments{QStringLiteral("absent"), QString(), Word::wdReplaceAll}));
        QVERIFY_THROWS_EXCEPTION(AppError, document->Shapes()->Item(1)->TextFrame());

        QCOMPARE(word.opened[0]->stories,
                 QStringList({QStringLiteral("$1 & [City], $1 & [City] and x$1 & [City]y"), QStringLiteral("header [City]")}));
        QCOMPARE(word.opened[0]->shapes[0].text, QStringLiteral("shape $1 & [City]"));
    }
};

QTEST_MAIN(SnapshotAndCheckTest)
#include "test_snapshot_check.moc"
