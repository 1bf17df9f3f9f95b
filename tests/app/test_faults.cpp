// The whole job against a real office engine when the working folder fails it: TEMP
// missing, not writable, full, open to other users, or with the private folder's name
// taken by another user; and two instances of the application that work in the same TEMP
// at the same time. Every failure is reported, nothing the user has is lost,
// no part of a file is left to pass for the letter, and the next run works.
#include "app/DataEntryWindow.h"
#include "generation/Fields.h"
#include "generation/PageSnapshot.h"
#include "preview/PictureBox.h"
#include "preview/PreviewWindow.h"
#include "process/TerminationSignals.h"
#include "support/DocumentText.h"
#include "support/FakeDialogs.h"
#include "support/FakePlatform.h"
#include "support/FakeSettings.h"
#include "support/OfficeEngine.h"
#include "support/PageRendering.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <deque>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Office instances started ahead, handed out in order: they keep running with the limits
// they were started with when the test lowers its own.
class StartedInstances : public Word::ApplicationFactory {
public:
    StartedInstances(Word::ApplicationFactory& engine, int count)
    {
        for (int i = 0; i < count; ++i)
            mReady.push_back(engine.CreateApplication());
    }
    std::shared_ptr<Word::Application> CreateApplication() override
    {
        if (mReady.empty())
            throw AppError(QStringLiteral("No office instance is left."));
        std::shared_ptr<Word::Application> next = mReady.front();
        mReady.pop_front();
        return next;
    }

private:
    std::deque<std::shared_ptr<Word::Application>> mReady;
};

// Hands each request to the factory a test chooses.
class ForwardingFactory : public Word::ApplicationFactory {
public:
    std::shared_ptr<Word::Application> CreateApplication() override { return target->CreateApplication(); }
    Word::ApplicationFactory* target = nullptr;
};

// Lowers the limit on the size of the files this process writes, as a full disk would stop
// them (root included); SIGXFSZ is ignored so a write fails with EFBIG instead.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &mSaved);
        mSavedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = mSaved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &mSaved);
        std::signal(SIGXFSZ, mSavedHandler);
    }

private:
    rlimit mSaved{};
    void (*mSavedHandler)(int) = nullptr;
};

QStringList FilesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

mode_t ModeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(-1);
}

const char* const SampleTexts[] = {"Tillowmark", "Kestrelworks", "1234 East Main Street", "Boise, ID 91002",
                                   "John Smith", "Vavuraz Izerirez Inc.", "Hawthorne, CA 90250"};
}

class FaultsTest : public QObject {
    Q_OBJECT

public:
    // Before anything starts an office: a write to an office that has just ended fails as
    // an error, as in the application.
    static void initMain() { IgnoreBrokenPipes(); }

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    // In this order: each failing run after the first follows a good one, whose letter the
    // preview must not go on showing.
    void tempThatIsAFileIsReportedAndLosesNothing();
    void missingTempIsReportedAndLosesNothing();
    void fullTempIsReportedAndLosesNothing();
    void sharedTempGetsAPrivateFolder();
    void takenPrivateFolderIsLeftAlone();
    void twoInstancesKeepTheirOwnLetters();

private:
    // Back from the preview when it is shown, sample data, then a run with TEMP set to
    // temp through the given office.
    void RunWithTemp(const QString& temp, Word::ApplicationFactory& word);
    QImage PreviewPicture() const;
    // The run failed: the user's fields and settings are as before, the preview shows no
    // picture and offers no letter, and saving from it reports and creates nothing.
    void CheckNothingLost();
    // A run with a good TEMP through the given office works again and yields the sample letter.
    void CheckNextRunWorks(Word::ApplicationFactory& word);

    QTemporaryDir mFolder;
    QTemporaryDir mRuntime;
    // TEMP changes from run to run here, while the offices started ahead go on serving.
    std::unique_ptr<Word::ApplicationFactory> mOffice = MakeUnsandboxedOfficeEngine(mFolder.path());
    std::unique_ptr<Word::ApplicationFactory> mWord;
    // Instances for the runs under a file-size limit, all started before it is set.
    std::unique_ptr<Word::ApplicationFactory> mAhead;
    ForwardingFactory mFactory;
    FakeSettings mSettings;
    FakeDialogs mDialogs;
    FakeClock mClock;
    SystemRandom mRandom;
    FakeUrlOpener mUrls;
    std::unique_ptr<DataEntryWindow> mForm;
    QStringList mFieldsBefore;
};

void FaultsTest::initTestCase()
{
    QVERIFY(mFolder.isValid());
    // The run lock of this test and of the instances it starts is theirs alone, not held
    // by programs that happen to run at the same time.
    QVERIFY(mRuntime.isValid());
    qputenv("XDG_RUNTIME_DIR", mRuntime.path().toUtf8());
    mClock.today = QDate::currentDate();
    // One office starts while the other is in use, as in the application.
    mWord = MakePrestartingEngine(*mOffice, 1, 1);
    mAhead = MakePrestartingEngine(*mOffice, 0, 4);
    mForm = std::make_unique<DataEntryWindow>(DataEntryServices{mSettings, mDialogs, mFactory, mClock, mRandom, mUrls});
    mForm->endApplication = [] {};
    mForm->show();
}

void FaultsTest::init()
{
    mSettings = FakeSettings();
    mDialogs = FakeDialogs();
}

void FaultsTest::cleanupTestCase()
{
    if (PreviewWindow* preview = mForm->Preview()) {
        preview->SetExitAction([] {});
        preview->close();
    }
    mForm.reset();
}

QImage FaultsTest::PreviewPicture() const
{
    return mForm->Preview()->findChild<PictureBox*>(QStringLiteral("unscaledPage"))->Picture();
}

void FaultsTest::RunWithTemp(const QString& temp, Word::ApplicationFactory& word)
{
    if (PreviewWindow* preview = mForm->Preview(); preview && preview->isVisible())
        preview->findChild<QPushButton*>(QStringLiteral("backButton"))->click();
    mFactory.target = &word;
    mForm->LoadSampleData();
    mFieldsBefore.clear();
    for (int i = 0; i < TypedFieldCount; ++i)
        mFieldsBefore << mForm->ReadField(i);
    mSettings.writes.clear();
    mDialogs = FakeDialogs();
    qputenv("TEMP", temp.toUtf8());
    mForm->StartCreating();
}

void FaultsTest::CheckNothingLost()
{
    for (int i = 0; i < TypedFieldCount; ++i) {
        QCOMPARE(mForm->ReadField(i), mFieldsBefore.at(i));
        QCOMPARE(mSettings.Value(QStringLiteral("Text1_%1").arg(i)), mFieldsBefore.at(i));
    }
    // The run stores nothing but the date of the hidden field.
    for (const QString& write : mSettings.writes)
        QVERIFY2(write.startsWith(QStringLiteral("Text1_13=")), qPrintable(write));

    PreviewWindow* preview = mForm->Preview();
    QVERIFY(preview);
    QVERIFY(PreviewPicture().isNull());
    QVERIFY(!QFileInfo::exists(preview->mWordFile));

    const QString target = mFolder.filePath(QStringLiteral("kept.doc"));
    mDialogs = FakeDialogs();
    mDialogs.savePaths = {target};
    preview->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
    QCOMPARE(mDialogs.FailedSteps(), QList<int>{130});
    QVERIFY(!QFileInfo::exists(target));
    for (const FakeDialogs::Shown& shown : mDialogs.shown)
        QVERIFY(shown.text != QStringLiteral("Done."));
}

void FaultsTest::CheckNextRunWorks(Word::ApplicationFactory& word)
{
    QTemporaryDir good;
    RunWithTemp(good.path(), word);
    QCOMPARE(mDialogs.ErrorReports(), QStringList());
    const QString document = mForm->Preview()->mWordFile;
    QCOMPARE(FilesIn(good.path()), QStringList{QFileInfo(document).fileName()});
    const QString text = AntiwordText(document);
    for (const char* value : SampleTexts)
        QVERIFY2(text.contains(QLatin1String(value)), value);
    const QString difference = DifferenceFromDocument(PreviewPicture(), document);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// As root no permission stops a write, but nothing can be created below a regular file.
void FaultsTest::tempThatIsAFileIsReportedAndLosesNothing()
{
    const QString temp = mFolder.filePath(QStringLiteral("a-file"));
    QFile file(temp);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a folder");
    file.close();
    RunWithTemp(temp, *mWord);

    const QList<int> steps = mDialogs.FailedSteps();
    QCOMPARE(steps.constFirst(), 104);
    QVERIFY2(mDialogs.ErrorReports().constFirst().contains(QStringLiteral("Not a directory")),
             qPrintable(mDialogs.ErrorReports().constFirst()));
    for (int step : {110, 180, 182, 202})
        QVERIFY2(steps.contains(step), qPrintable(QString::number(step)));
    QCOMPARE(FileBytes(temp), QByteArray("not a folder"));
    CheckNothingLost();
    CheckNextRunWorks(*mWord);
}

void FaultsTest::missingTempIsReportedAndLosesNothing()
{
    const QString temp = mFolder.filePath(QStringLiteral("gone/deeper"));
    RunWithTemp(temp, *mWord);

    const QStringList reports = mDialogs.ErrorReports();
    const QList<int> steps = mDialogs.FailedSteps();
    QCOMPARE(steps.constFirst(), 104);
    QVERIFY2(reports.constFirst().startsWith(QStringLiteral("Cannot open the file \"%1/template.dot\": No such file or directory\r\n")
                                                 .arg(temp)),
             qPrintable(reports.constFirst()));
    for (int step : {110, 180, 182, 202})
        QVERIFY2(steps.contains(step), qPrintable(QString::number(step)));
    for (const QString& report : reports)
        QVERIFY2(!report.startsWith(QStringLiteral("\r\n")), qPrintable(report));
    QVERIFY(!QFileInfo::exists(mFolder.filePath(QStringLiteral("gone"))));
    CheckNothingLost();
    CheckNextRunWorks(*mWord);
}

void FaultsTest::fullTempIsReportedAndLosesNothing()
{
    // Every office these runs use has started before any limit is set.
    StartedInstances first(*mAhead, 2);
    StartedInstances second(*mAhead, 2);

    // Too full for the template copy: no part of it stays, and every step after it that
    // needs it reports.
    {
        QTemporaryDir temp;
        {
            const FileSizeLimit full(20000);
            RunWithTemp(temp.path(), first);
        }
        const QList<int> steps = mDialogs.FailedSteps();
        QCOMPARE(steps.constFirst(), 104);
        QVERIFY2(mDialogs.ErrorReports().constFirst().contains(QStringLiteral("File too large")),
                 qPrintable(mDialogs.ErrorReports().constFirst()));
        for (int step : {110, 182, 202})
            QVERIFY2(steps.contains(step), qPrintable(QString::number(step)));
        QCOMPARE(FilesIn(temp.path()), QStringList());
        CheckNothingLost();
    }

    // Room for the template and the letter but not for the page picture: the letter is
    // kept and can be saved, the preview shows no picture rather than an earlier one, and
    // no part of the picture file stays.
    {
        QTemporaryDir temp;
        const FileSizeLimit full(200000);
        RunWithTemp(temp.path(), second);
        const QList<int> steps = mDialogs.FailedSteps();
        QVERIFY2(mDialogs.ErrorReports().constFirst().contains(QStringLiteral("in %1 at line 122").arg(QLatin1String(SnapshotLocation))),
                 qPrintable(mDialogs.ErrorReports().constFirst()));
        QVERIFY(mDialogs.ErrorReports().constFirst().contains(QStringLiteral("File too large")));
        // The picture file is gone, so deleting it at the end of the run reports as well.
        QCOMPARE(steps, QList<int>({122, 202, 210}));
        PreviewWindow* preview = mForm->Preview();
        QVERIFY(PreviewPicture().isNull());
        QCOMPARE(FilesIn(temp.path()), QStringList{QFileInfo(preview->mWordFile).fileName()});

        const QString target = mFolder.filePath(QStringLiteral("saved while full.doc"));
        mDialogs = FakeDialogs();
        mDialogs.savePaths = {target};
        preview->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        QCOMPARE(mDialogs.ErrorReports(), QStringList());
        QCOMPARE(FileBytes(target), FileBytes(preview->mWordFile));
        const QString text = AntiwordText(target);
        for (const char* value : SampleTexts)
            QVERIFY2(text.contains(QLatin1String(value)), value);
    }
    // The prestarting factory may have been starting an office while a limit was set, and
    // that start failed; a plain office serves the next run.
    CheckNextRunWorks(*mOffice);
}

// A TEMP that others can write (the shared system folder, sticky) or read and enter (a ~/tmp
// of mode 0755): the run works in the user's private folder inside it, which the office is
// given instead; TEMP itself gets no file, and the letter is the user's alone.
void FaultsTest::sharedTempGetsAPrivateFolder()
{
    // One others may write without the sticky bit, where they could rename the private folder
    // away, holds none: the user's runtime folder does, and the user is told once.
    for (const mode_t mode : {mode_t(01777), mode_t(0755), mode_t(0777)}) {
        QTemporaryDir shared;
        QCOMPARE(::chmod(QFile::encodeName(shared.path()).constData(), mode), 0);
        RunWithTemp(shared.path(), *mWord);
        QCOMPARE(mDialogs.ErrorReports(), QStringList());
        const bool open = mode == 0777;
        QCOMPARE(mDialogs.shown.size(), open ? 1 : 0);
        const QString own = QDir(open ? mRuntime.path() : shared.path()).filePath(QStringLiteral("inkhaven-%1").arg(::geteuid()));
        const QString document = mForm->Preview()->mWordFile;
        QCOMPARE(QFileInfo(document).absolutePath(), own);
        QCOMPARE(FilesIn(shared.path()), QStringList());
        QCOMPARE(FilesIn(own), QStringList{QFileInfo(document).fileName()});
        QCOMPARE(ModeOf(own), mode_t(0700));
        QCOMPARE(ModeOf(document), mode_t(0600));
        const QString text = AntiwordText(document);
        for (const char* value : SampleTexts)
            QVERIFY2(text.contains(QLatin1String(value)), value);
        QVERIFY(!PreviewPicture().isNull());
    }
    // Nor does one whose owner is another user, who may rename every entry even of a sticky
    // folder (only root can give a folder away); without a runtime folder, the user's cache
    // folder serves.
    const auto runIn = [&](const QString& temp, const QString& folder) {
        RunWithTemp(temp, *mWord);
        QCOMPARE(mDialogs.ErrorReports(), QStringList());
        QCOMPARE(FilesIn(temp), QStringList());
        QCOMPARE(QFileInfo(mForm->Preview()->mWordFile).absolutePath(), folder);
    };
    const QString ownName = QStringLiteral("inkhaven-%1").arg(::geteuid());
    if (::geteuid() == 0) {
        QTemporaryDir theirs;
        QCOMPARE(::chmod(QFile::encodeName(theirs.path()).constData(), 01777), 0);
        QCOMPARE(::chown(QFile::encodeName(theirs.path()).constData(), 65534, 65534), 0);
        runIn(theirs.path(), QDir(mRuntime.path()).filePath(ownName));
    }
    QTemporaryDir open;
    QTemporaryDir cache;
    QCOMPARE(::chmod(QFile::encodeName(open.path()).constData(), 0777), 0);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray cacheHome = qgetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", runtime);
        if (cacheHome.isEmpty())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", cacheHome);
    });
    runIn(open.path(), QDir(cache.path()).filePath(ownName));
}

// The name of the private folder taken before the user's first run, by a link to another
// folder or (only root can give a folder away, and only root runs the tests in CI) by
// another user's folder open to all: nothing is written through it or into it, and
// every run works all the same, in a fresh private folder beside it; the user is told
// once what was found.
void FaultsTest::takenPrivateFolderIsLeftAlone()
{
    QTemporaryDir shared;
    QCOMPARE(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
    const QString own = QDir(shared.path()).filePath(QStringLiteral("inkhaven-%1").arg(::geteuid()));
    QTemporaryDir elsewhere;
    QVERIFY(QFile::link(elsewhere.path(), own));
    QString fallback;
    for (int run = 0; run < 2; ++run) {
        RunWithTemp(shared.path(), *mWord);
        QCOMPARE(mDialogs.ErrorReports(), QStringList());
        const QString document = mForm->Preview()->mWordFile;
        if (run == 0) {
            fallback = QFileInfo(document).absolutePath();
            QVERIFY2(fallback.startsWith(own + QLatin1Char('-')), qPrintable(document));
            QCOMPARE(mDialogs.shown.size(), 1);
            const QString notice = mDialogs.shown.constFirst().text;
            QVERIFY2(notice.contains(own) && notice.contains(QStringLiteral("symbolic link")) && notice.contains(fallback),
                     qPrintable(notice));
        } else {
            QCOMPARE(QFileInfo(document).absolutePath(), fallback);
            QCOMPARE(mDialogs.shown.size(), 0);
        }
        QCOMPARE(ModeOf(fallback), mode_t(0700));
        QCOMPARE(ModeOf(document), mode_t(0600));
        QCOMPARE(FilesIn(fallback), QStringList{QFileInfo(document).fileName()});
        QVERIFY(AntiwordText(document).contains(QLatin1String(SampleTexts[0])));
        QVERIFY(!PreviewPicture().isNull());
    }
    QVERIFY(QFileInfo(own).isSymLink());
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());

    if (::geteuid() != 0)
        QSKIP("the user's own folder passed; giving a folder to another user needs root");
    QTemporaryDir another;
    QCOMPARE(::chmod(QFile::encodeName(another.path()).constData(), 01777), 0);
    const QString theirs = QDir(another.path()).filePath(QStringLiteral("inkhaven-%1").arg(::geteuid()));
    QVERIFY(QDir().mkdir(theirs));
    QCOMPARE(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    QCOMPARE(::chmod(QFile::encodeName(theirs).constData(), 0777), 0);
    RunWithTemp(another.path(), *mWord);
    QCOMPARE(mDialogs.ErrorReports(), QStringList());
    QCOMPARE(mDialogs.shown.size(), 1);
    QVERIFY2(mDialogs.shown.constFirst().text.contains(QStringLiteral("65534")), qPrintable(mDialogs.shown.constFirst().text));
    QVERIFY(QFileInfo(mForm->Preview()->mWordFile).absolutePath().startsWith(theirs + QLatin1Char('-')));
    QCOMPARE(QDir(theirs).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(!PreviewPicture().isNull());
}

// Two processes of the application in the same TEMP, the second starting its run while the
// first is in the middle of its own (generate_letter arranges that). Without runs that
// follow one another, one instance deletes the template copy the other is about to open,
// or takes the other's page picture.
void FaultsTest::twoInstancesKeepTheirOwnLetters()
{
    QTemporaryDir temp;
    QTemporaryDir meeting;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TEMP"), temp.path());
    // The first company name fills several more pages, so the letters differ page by page.
    const QString longCompany = QStringLiteral("Alphaworks Holding ").repeated(300).trimmed();
    const struct {
        QString target, role, name, company;
    } jobs[] = {{mFolder.filePath(QStringLiteral("first.doc")), QStringLiteral("first"), QStringLiteral("Ada Firstinstance"), longCompany},
                {mFolder.filePath(QStringLiteral("second.doc")), QStringLiteral("second"), QStringLiteral("Bo Secondinstance"),
                 QStringLiteral("Bravo Second Company")}};
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const auto& job : jobs) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(INKHAVEN_GENERATE_LETTER), {job.target, job.name, job.company, job.role, meeting.path()});
        processes.push_back(std::move(process));
    }
    for (const auto& process : processes) {
        QVERIFY(process->waitForFinished(600000));
        const QString output = QString::fromUtf8(process->readAllStandardOutput());
        QVERIFY2(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0, qPrintable(output));
        // Each preview showed its own letter.
        QVERIFY2(output.contains(QStringLiteral("picture matches the letter")), qPrintable(output));
    }

    const QString first = AntiwordText(jobs[0].target);
    const QString second = AntiwordText(jobs[1].target);
    QVERIFY(first.contains(jobs[0].name) && first.contains(longCompany));
    QVERIFY(!first.contains(jobs[1].name) && !first.contains(jobs[1].company));
    QVERIFY(second.contains(jobs[1].name) && second.contains(jobs[1].company));
    QVERIFY(!second.contains(jobs[0].name) && !second.contains(QStringLiteral("Alphaworks")));
    // Both previews closed: nothing of either instance is left in TEMP.
    QCOMPARE(FilesIn(temp.path()), QStringList());
}

QTEST_MAIN(FaultsTest)
#include "test_faults.moc"
