// The generation run against a real office that is killed or stops answering in the middle
// of the run: every failing step is reported with a description that names the office,
// the run ends (a hung office is ended by the watchdog), no office process, private folder
// or working file is left once the preview is gone, and the next run works. Prestarted
// offices killed or stopped while they wait cost the run nothing: it gets working ones.

#include "core/Platform.h"
#include "generation/Fields.h"
#include "generation/GenerationRun.h"
#include "office/LibreOfficeFactory.h"
#include "office/PrestartingFactory.h"
#include "process/TerminationSignals.h"
#include "support/ChildProcesses.h"
#include "support/DocumentText.h"
#include "support/FakeDialogs.h"
#include "support/FakeGenerationHost.h"
#include "support/FakePlatform.h"
#include "support/PageRendering.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <functional>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Short limits, so that a hung office is given up quickly; still far above what a healthy
// call on the letter takes.
constexpr OfficeTimeouts TestTimeouts{20s, 2s, 8s, 4s};

// The office processes this test started and has not reaped.
QSet<pid_t> OfficeChildren()
{
    QSet<pid_t> offices;
    for (const ChildProcess& child : ChildProcesses())
        if (child.name == QLatin1String("soffice.bin"))
            offices.insert(child.pid);
    return offices;
}

// The documents collection of one office, which acts on the office right after it opened
// a document.
class HookedDocuments : public Word::Documents {
public:
    HookedDocuments(std::shared_ptr<Word::Documents> real, std::function<void()> afterOpen)
        : mReal(std::move(real)), mAfterOpen(std::move(afterOpen))
    {
    }
    std::shared_ptr<Word::Document> Open(const QString& fileName, std::optional<bool> readOnly) override
    {
        auto document = mReal->Open(fileName, readOnly);
        if (mAfterOpen)
            mAfterOpen();
        return document;
    }

private:
    std::shared_ptr<Word::Documents> mReal;
    std::function<void()> mAfterOpen;
};

class HookedApplication : public Word::Application {
public:
    HookedApplication(std::shared_ptr<Word::Application> real, std::function<void()> afterOpen)
        : mReal(std::move(real)), mAfterOpen(std::move(afterOpen))
    {
    }
    std::shared_ptr<Word::Documents> Documents() override
    {
        return std::make_shared<HookedDocuments>(mReal->Documents(), mAfterOpen);
    }
    void SetDisplayAlerts(bool value) override { mReal->SetDisplayAlerts(value); }
    std::shared_ptr<Word::Document> ActiveDocument() override { return mReal->ActiveDocument(); }
    void Quit() override { mReal->Quit(); }

private:
    std::shared_ptr<Word::Application> mReal;
    std::function<void()> mAfterOpen;
};

// Real offices; the office of the instance-th application created (1: the run's own,
// 2: the snapshot's) gets signal right after it opened its document.
class FaultingFactory : public Word::ApplicationFactory {
public:
    explicit FaultingFactory(LibreOfficeFactory& real) : mReal(real) {}

    std::shared_ptr<Word::Application> CreateApplication() override
    {
        const QSet<pid_t> before = OfficeChildren();
        auto application = mReal.CreateApplication();
        if (++mCreated != instance)
            return application;
        const QList<pid_t> started = (OfficeChildren() - before).values();
        if (started.size() != 1)
            qFatal("expected one new office process, found %d", int(started.size()));
        const pid_t office = started[0];
        const int sent = signal;
        return std::make_shared<HookedApplication>(application, [office, sent] { ::kill(office, sent); });
    }

    int instance = 0;
    int signal = 0;

private:
    LibreOfficeFactory& mReal;
    int mCreated = 0;
};

// Counts the offices that have finished starting.
class CountingFactory : public Word::ApplicationFactory {
public:
    explicit CountingFactory(Word::ApplicationFactory& real) : mReal(real) {}
    std::shared_ptr<Word::Application> CreateApplication() override
    {
        auto application = mReal.CreateApplication();
        ++started;
        return application;
    }

    std::atomic<int> started{0};

private:
    Word::ApplicationFactory& mReal;
};

// The report of step, for the messages of a failed check.
QString ReportOf(const FakeDialogs& dialogs, int step)
{
    const QList<int> steps = dialogs.FailedSteps();
    const qsizetype at = steps.indexOf(step);
    return at < 0 ? QStringLiteral("<no report of step %1>").arg(step) : dialogs.ErrorReports()[at];
}

}

class OfficeFaultsTest : public QObject {
    Q_OBJECT

public:
    // Before anything starts an office: a write to an office that has just ended fails as
    // an error, as in the application.
    static void initMain() { IgnoreBrokenPipes(); }

private:
    QTemporaryDir mScratch;
    QString mTemp;
    QString mPrivate;
    LibreOfficeFactory mOffice{TestTimeouts};
    FakeClock mClock;
    // Fresh names: a run never depends on what an earlier one left.
    SystemRandom mRandom;

    struct Outcome {
        FakeGenerationHost host;
        FakeDialogs dialogs;
    };

    void Run(Word::ApplicationFactory& word, Outcome& outcome)
    {
        QFile letter(QStringLiteral(INKHAVEN_LETTER_TEMPLATE));
        QVERIFY(letter.open(QIODevice::ReadOnly));
        outcome.host.templateBytes = letter.readAll();
        outcome.host.fields[0] = QStringLiteral("Ada Quillon");
        outcome.host.fields[11] = QStringLiteral("Brightwater Mills");
        RunGeneration(outcome.host, GenerationServices{word, outcome.dialogs, mClock, mRandom});
    }

    // What "< Back" leaves: the preview deletes the working document it was handed.
    void CheckNothingLeft(const FakeGenerationHost& host)
    {
        if (!host.wordFile.isEmpty())
            QFile::remove(host.wordFile);
        mOffice.WaitForEndedOffices();
        QCOMPARE(OfficeChildren(), QSet<pid_t>());
        QCOMPARE(QDir(mPrivate).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        QCOMPARE(QDir(mTemp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mScratch.isValid());
        mTemp = QDir(mScratch.path()).filePath(QStringLiteral("temp"));
        mPrivate = QDir(mScratch.path()).filePath(QStringLiteral("private"));
        QVERIFY(QDir().mkpath(mTemp) && QDir().mkpath(mPrivate));
        // A TEMP of the user's own that no one else may enter: the working files go there.
        QVERIFY(QFile::setPermissions(mTemp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        qputenv("TEMP", QFile::encodeName(mTemp));
        qputenv("TMPDIR", QFile::encodeName(mPrivate));
        mClock.today = QDate(2024, 3, 9);
    }

    void idleSparesKilledOrStopped_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("every spare killed") << SIGKILL;
        QTest::newRow("every spare stopped") << SIGSTOP;
    }

    void idleSparesKilledOrStopped()
    {
        QFETCH(int, signal);
        Outcome outcome;
        {
            CountingFactory counting(mOffice);
            PrestartingFactory word(counting, 2);
            word.Prestart(2);
            QTRY_COMPARE_WITH_TIMEOUT(counting.started.load(), 2, 60000);
            const QSet<pid_t> spares = OfficeChildren();
            QCOMPARE(spares.size(), 2);
            for (const pid_t office : spares)
                ::kill(office, signal);
            Run(word, outcome);
        }
        QCOMPARE(outcome.dialogs.ErrorReports(), QStringList());
        const QString difference = DifferenceFromDocument(outcome.host.previewPicture, outcome.host.wordFile);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        const QString text = AntiwordText(outcome.host.wordFile);
        QVERIFY2(text.contains(QStringLiteral("Brightwater Mills")), qPrintable(text));
        CheckNothingLeft(outcome.host);
    }

    void officeKilledOrHungMidRun_data()
    {
        QTest::addColumn<int>("instance");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QList<int>>("failing");
        QTest::addColumn<QString>("description");

        const QList<int> runSteps = {116, 120, 146, 152, 154, 158, 182, 186, 188};
        const QList<int> snapshotSteps = {120, 122, 124, 126, 202};
        QTest::newRow("run's office killed after opening the template")
            << 1 << SIGKILL << runSteps << QString();
        QTest::newRow("run's office hangs after opening the template")
            << 1 << SIGSTOP << runSteps << QStringLiteral("did not answer within 2 seconds and was stopped.");
        QTest::newRow("snapshot's office killed after opening the letter")
            << 2 << SIGKILL << snapshotSteps << QString();
        // The snapshot's step 120 reads the text (a short call) and renders it (a long
        // one); the stopped office holds up whichever of them reaches it first.
        QTest::newRow("snapshot's office hangs after opening the letter")
            << 2 << SIGSTOP << snapshotSteps << QStringLiteral("did not answer within ");
    }

    void officeKilledOrHungMidRun()
    {
        QFETCH(int, instance);
        QFETCH(int, signal);
        QFETCH(QList<int>, failing);
        QFETCH(QString, description);

        FaultingFactory faulting(mOffice);
        faulting.instance = instance;
        faulting.signal = signal;
        Outcome faulty;
        Run(faulting, faulty);

        const QList<int> failed = faulty.dialogs.FailedSteps();
        for (int step : failing)
            QVERIFY2(failed.contains(step), qPrintable(QStringLiteral("step %1 not reported: %2").arg(step).arg(
                                                faulty.dialogs.ErrorReports().join(QLatin1String("\n----\n")))));
        // The step that met the fault, and those that used the office afterwards, say what
        // happened to it.
        const int first = failing[0];
        const int usedAfterwards = instance == 1 ? 188 : 126;
        for (int step : {first, usedAfterwards}) {
            const QString report = ReportOf(faulty.dialogs, step);
            QVERIFY2(report.startsWith(QStringLiteral("The office engine (LibreOffice) "))
                         || report.startsWith(QStringLiteral("The connection to the office engine (LibreOffice) was lost.")),
                     qPrintable(report));
            if (!description.isEmpty())
                QVERIFY2(report.contains(description), qPrintable(report));
        }
        if (instance == 1)
            QVERIFY(!failed.contains(110));
        else
            QVERIFY(!failed.contains(182) && !failed.contains(188));
        // The preview still gets the working document, which "< Back" deletes.
        QVERIFY(faulty.host.journal.contains(QStringLiteral("show preview")));
        QVERIFY(faulty.host.wordFile.startsWith(mTemp));
        CheckNothingLeft(faulty.host);

        Outcome next;
        Run(mOffice, next);
        QCOMPARE(next.dialogs.ErrorReports(), QStringList());
        const QString difference = DifferenceFromDocument(next.host.previewPicture, next.host.wordFile);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        const QString text = AntiwordText(next.host.wordFile);
        QVERIFY2(text.contains(QStringLiteral("Ada Quillon")) && text.contains(QStringLiteral("Brightwater Mills")),
                 qPrintable(text));
        CheckNothingLeft(next.host);
    }
};

QTEST_MAIN(OfficeFaultsTest)
#include "test_office_faults.moc"
