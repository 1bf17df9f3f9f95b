// The real application (and the one-job instance) ended from outside at awkward moments:
// signals during the splash, with a message box open and in the middle of a run; the
// display going away; and instances killed outright, whose leftovers the next start
// removes without touching what a running instance uses. Every ending leaves no office
// process, no office folder, no office socket and no working file.
#include "support/DocumentText.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <map>

#include <unistd.h>

namespace {
QString ReadText(const QString& path)
{
    return QString::fromUtf8(FileBytes(path));
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}
}

class EndingsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void signalsEndTheApplicationAtAnyMoment();
    void signalInTheMiddleOfARunLeavesNothing();
    void lostDisplayEndsTheApplication();
    void commandLineAndNoDisplay();
    void nextStartRemovesWhatKilledInstancesLeft();

private:
    QProcessEnvironment Environment() const;
    std::unique_ptr<QProcess> Start(const QString& program, const QStringList& arguments = {},
                                    const QString& display = QString());
    // The one-job instance on its own: the instance it would meet has been and gone.
    std::unique_ptr<QProcess> GenerateLetter(const QString& name, const QString& company);
    QString Path(const QString& name) const { return mRoot.filePath(name); }
    // The private folders of offices in the temporary folder of the instances.
    QStringList OfficeFolders() const;
    // The office folders whose office still runs; only those of parent's offices when given.
    // Notes the socket of each office seen.
    QStringList LiveOfficeFolders(qint64 parent = 0) const;
    // The sockets of the offices seen with these folders (all seen when none are given)
    // that are still there.
    QStringList LeftSockets(const QStringList& folders = {}) const;
    void WriteSettings(const QByteArray& content);
    // The instances end on signal, and leave no office, office folder or working file.
    void CheckEndsCleanly(std::initializer_list<QProcess*> processes, int signal);

    QTemporaryDir mRoot;
    QString mApplication;
    // The socket each office seen listens on, by its folder.
    mutable std::map<QString, QString> mSockets;
};

void EndingsTest::initTestCase()
{
    QVERIFY(mRoot.isValid());
    // A copy of the application with a splash picture beside it.
    mApplication = Path(QStringLiteral("app/inkhaven"));
    QVERIFY(QDir().mkpath(Path(QStringLiteral("app/Splash"))));
    QVERIFY(QFile::copy(QStringLiteral(INKHAVEN_APPLICATION), mApplication));
    QImage splash(400, 300, QImage::Format_RGB32);
    splash.fill(Qt::darkBlue);
    QVERIFY(splash.save(Path(QStringLiteral("app/Splash/splash.png"))));
}

void EndingsTest::init()
{
    for (const char* folder : {"temp", "tmpdir", "cache", "config", "runtime"}) {
        QDir(Path(QLatin1String(folder))).removeRecursively();
        QVERIFY(QDir().mkpath(Path(QLatin1String(folder))));
        QFile::setPermissions(Path(QLatin1String(folder)), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    WriteSettings("[Inkhaven]\nShowAgain=1\n");
}

void EndingsTest::WriteSettings(const QByteArray& content)
{
    QVERIFY(QDir().mkpath(Path(QStringLiteral("config"))));
    QFile file(Path(QStringLiteral("config/Kestrelworks.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QProcessEnvironment EndingsTest::Environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TEMP"), Path(QStringLiteral("temp")));
    environment.insert(QStringLiteral("TMPDIR"), Path(QStringLiteral("tmpdir")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), Path(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Path(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path(QStringLiteral("runtime")));
    return environment;
}

std::unique_ptr<QProcess> EndingsTest::Start(const QString& program, const QStringList& arguments, const QString& display)
{
    QProcessEnvironment environment = Environment();
    if (display.isEmpty()) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), display);
    }
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, arguments);
    return process;
}

std::unique_ptr<QProcess> EndingsTest::GenerateLetter(const QString& name, const QString& company)
{
    const QString meeting = Path(QStringLiteral("meeting"));
    QDir().mkpath(meeting);
    for (const char* marker : {"first-in-run", "first-done"}) {
        QFile file(QDir(meeting).filePath(QLatin1String(marker)));
        file.open(QIODevice::WriteOnly);
    }
    return Start(QStringLiteral(INKHAVEN_GENERATE_LETTER),
                 {Path(QStringLiteral("out.doc")), name, company, QStringLiteral("second"), meeting});
}

QStringList EndingsTest::OfficeFolders() const
{
    QStringList folders;
    for (const QString& name : QDir(Path(QStringLiteral("temp"))).entryList({QStringLiteral("inkhaven-office-*")}, QDir::Dirs))
        folders << Path(QStringLiteral("temp/") + name);
    return folders;
}

QStringList EndingsTest::LiveOfficeFolders(qint64 parent) const
{
    static const QRegularExpression profile(QStringLiteral("UserInstallation=file://(\\S+)/profile"));
    static const QRegularExpression pipe(QStringLiteral("--accept=pipe,name=([^; ]+);"));
    QStringList folders;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QString commandLine = ReadText(QStringLiteral("/proc/%1/cmdline").arg(pid)).replace(QChar(0), QLatin1Char(' '));
        const QRegularExpressionMatch match = profile.match(commandLine);
        // The office runs in a sandbox, a descendant of the application rather than its child.
        bool descendant = parent == 0;
        for (qint64 up = pid.toLongLong(); up > 1 && !descendant;) {
            const QStringList status = ReadText(QStringLiteral("/proc/%1/stat").arg(up)).section(QLatin1Char(')'), -1).split(QLatin1Char(' '));
            up = status.size() > 2 ? status.at(2).toLongLong() : 0;
            descendant = up == parent;
        }
        const bool office = commandLine.section(QLatin1Char(' '), 0, 0).endsWith(QLatin1String("/soffice.bin"));
        if (office && match.hasMatch() && match.captured(1).startsWith(Path(QStringLiteral("temp"))) && descendant) {
            folders << match.captured(1);
            const QRegularExpressionMatch name = pipe.match(commandLine);
            // In the office's own /tmp in its sandbox; in the shared one without a sandbox.
            const QString inFolder = QStringLiteral("%1/tmp/OSL_PIPE_%2_%3").arg(match.captured(1)).arg(::getuid()).arg(name.captured(1));
            if (name.hasMatch())
                mSockets[match.captured(1)] = QFileInfo::exists(inFolder) ? inFolder : QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(::getuid()).arg(name.captured(1));
        }
    }
    return folders;
}

QStringList EndingsTest::LeftSockets(const QStringList& folders) const
{
    QStringList left;
    for (const auto& [folder, socket] : mSockets) {
        if ((folders.isEmpty() || folders.contains(folder)) && QFileInfo::exists(socket))
            left << socket;
    }
    return left;
}

void EndingsTest::CheckEndsCleanly(std::initializer_list<QProcess*> processes, int signal)
{
    for (QProcess* process : processes)
        QVERIFY(::kill(static_cast<pid_t>(process->processId()), signal) == 0);
    for (QProcess* process : processes) {
        QVERIFY2(process->waitForFinished(60000), "the application did not end on the signal");
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    }
    QVERIFY(WaitFor([&] { return LiveOfficeFolders().isEmpty(); }));
    QVERIFY2(OfficeFolders().isEmpty(), qPrintable(OfficeFolders().join(QLatin1Char(' '))));
    QVERIFY2(LeftSockets().isEmpty(), qPrintable(LeftSockets().join(QLatin1Char(' '))));
    const QStringList working = QDir(Path(QStringLiteral("temp"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QVERIFY2(working.isEmpty(), qPrintable(working.join(QLatin1Char(' '))));
}

void EndingsTest::signalsEndTheApplicationAtAnyMoment()
{
    // During the four seconds of the splash: its office is starting at the same time.
    WriteSettings("[Inkhaven]\nShowAgain=0\n");
    std::unique_ptr<QProcess> splash = Start(mApplication);
    QVERIFY(WaitFor([&] { return !OfficeFolders().isEmpty(); }));
    CheckEndsCleanly({splash.get()}, SIGTERM);

    // With the message about a damaged settings file open, which is left as it was.
    const QByteArray damaged("[Inkhaven\n\x01\x02garbage\n");
    WriteSettings(damaged);
    std::unique_ptr<QProcess> message = Start(mApplication);
    QVERIFY(WaitFor([&] { return !LiveOfficeFolders().isEmpty(); }));
    QTest::qWait(500);
    CheckEndsCleanly({message.get()}, SIGINT);
    QFile settings(Path(QStringLiteral("config/Kestrelworks.ini")));
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), damaged);

    // The data-entry window waiting for the user, with its two spare offices running: the
    // start-up check's office came back as one of them, and no third one started for it
    // (one did while the check waited for the first start, and stayed idle).
    WriteSettings("[Inkhaven]\nShowAgain=1\n");
    std::unique_ptr<QProcess> idle = Start(mApplication);
    QVERIFY(WaitFor([&] { return LiveOfficeFolders().size() >= 2; }));
    QTest::qWait(4000);
    QCOMPARE(LiveOfficeFolders().size(), 2);
    CheckEndsCleanly({idle.get()}, SIGHUP);
}

void EndingsTest::signalInTheMiddleOfARunLeavesNothing()
{
    // A long company name makes a long letter, so the run is still at work when the
    // working document has been claimed.
    const QString company = QStringLiteral("Alphaworks Holding ").repeated(400).trimmed();
    std::unique_ptr<QProcess> run = GenerateLetter(QStringLiteral("Ada"), company);
    QVERIFY(WaitFor([&] {
        return !QDir(Path(QStringLiteral("temp"))).entryList({QStringLiteral("varnel*.doc")}, QDir::Files).isEmpty();
    }));
    CheckEndsCleanly({run.get()}, SIGTERM);
    QVERIFY(!QFileInfo::exists(Path(QStringLiteral("out.doc"))));
}

void EndingsTest::lostDisplayEndsTheApplication()
{
    const QString display = QStringLiteral(":97");
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(server.waitForStarted());
    QVERIFY(WaitFor([] { return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X97")); }));

    std::unique_ptr<QProcess> application = Start(mApplication, {}, display);
    QVERIFY(WaitFor([&] { return LiveOfficeFolders().size() >= 2; }));
    server.terminate();
    QVERIFY(server.waitForFinished(30000));
    QVERIFY2(application->waitForFinished(60000), "the application did not end with its display");
    // Other threads still start and watch offices: the ending must not crash under them.
    QCOMPARE(application->exitStatus(), QProcess::NormalExit);
    QVERIFY(WaitFor([&] { return LiveOfficeFolders().isEmpty(); }));
    // The ending removes the office folders; on a heavily loaded machine an office may
    // still be dying then, and the next start removes what is left.
    if (!OfficeFolders().isEmpty()) {
        qWarning() << "left at the lost display:" << OfficeFolders();
        std::unique_ptr<QProcess> next = Start(mApplication);
        const QString journal = QString::number(next->processId()) + QStringLiteral("-*.journal");
        QVERIFY(WaitFor([&] {
            return !QDir(Path(QStringLiteral("cache/Kestrelworks/Inkhaven/instances"))).entryList({journal}).isEmpty();
        }));
        CheckEndsCleanly({next.get()}, SIGTERM);
    }
    QVERIFY2(OfficeFolders().isEmpty(), qPrintable(OfficeFolders().join(QLatin1Char(' '))));
    QVERIFY2(LeftSockets().isEmpty(), qPrintable(LeftSockets().join(QLatin1Char(' '))));
}

void EndingsTest::commandLineAndNoDisplay()
{
    // From a console without a display: help and the version are printed; the window says
    // in one line why it cannot open, ends without a core and leaves nothing behind.
    QProcessEnvironment console = Environment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        console.remove(QLatin1String(name));
    const auto run = [&](const QStringList& arguments, const QProcessEnvironment& environment) {
        QProcess application;
        application.setProcessEnvironment(environment);
        application.start(mApplication, arguments);
        application.waitForFinished(60000);
        return std::tuple(application.exitStatus() == QProcess::NormalExit ? application.exitCode() : -1,
                          QString::fromUtf8(application.readAllStandardOutput()),
                          QString::fromUtf8(application.readAllStandardError()));
    };
    const auto [helpStatus, help, helpErrors] = run({QStringLiteral("--help")}, console);
    QCOMPARE(helpStatus, 0);
    QVERIFY2(help.startsWith(QLatin1String("Usage: inkhaven [OPTION]...\n")) && help.contains(QLatin1String("--version"))
                 && helpErrors.isEmpty(),
             qPrintable(help + helpErrors));
    const auto [versionStatus, version, versionErrors] = run({QStringLiteral("--version")}, console);
    QCOMPARE(versionStatus, 0);
    QVERIFY2(version.startsWith(QLatin1String("inkhaven (Inkhaven) ")) && version.contains(QLatin1String("GPL")),
             qPrintable(version + versionErrors));

    const auto [status, out, errors] = run({}, console);
    QCOMPARE(status, 1);
    QVERIFY2(errors.startsWith(QLatin1String("inkhaven: no display")) && errors.count(QLatin1Char('\n')) == 1
                 && errors.contains(QLatin1String("inkhaven-batch")),
             qPrintable(errors));
    QCOMPARE(out, QString());
    for (const char* folder : {"temp", "tmpdir", "cache"})
        QCOMPARE(QDir(Path(QLatin1String(folder))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());

    // On a display, what Qt does not take is a usage error.
    QProcessEnvironment offscreen = Environment();
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const auto [wrongStatus, wrongOut, wrong] = run({QStringLiteral("--bogus")}, offscreen);
    QCOMPARE(wrongStatus, 2);
    QCOMPARE(wrong, QStringLiteral("inkhaven: Unknown option 'bogus'.\nTry 'inkhaven --help'.\n"));
}

void EndingsTest::nextStartRemovesWhatKilledInstancesLeft()
{
    // A running instance, whose offices must survive the next start's clean-up.
    std::unique_ptr<QProcess> running = Start(mApplication);
    QVERIFY(WaitFor([&] { return LiveOfficeFolders().size() >= 2; }));

    // An instance killed outright in the middle of its run leaves its letter and its
    // office folders behind.
    std::unique_ptr<QProcess> killed = GenerateLetter(QStringLiteral("Bo"), QStringLiteral("Bravo ").repeated(2000));
    QStringList letters;
    QVERIFY(WaitFor([&] {
        letters = QDir(Path(QStringLiteral("temp"))).entryList({QStringLiteral("varnel*.doc")}, QDir::Files);
        return !letters.isEmpty();
    }));
    const QStringList left = LiveOfficeFolders(killed->processId());
    QVERIFY(!left.isEmpty());
    ::kill(static_cast<pid_t>(killed->processId()), SIGKILL);
    QVERIFY(killed->waitForFinished(30000));
    QVERIFY(WaitFor([&] {
        const QStringList live = LiveOfficeFolders();
        return std::none_of(left.begin(), left.end(), [&](const QString& folder) { return live.contains(folder); });
    }));
    for (const QString& folder : left)
        QVERIFY2(QFileInfo::exists(folder), qPrintable(folder));
    const QStringList runningFolders = LiveOfficeFolders();

    std::unique_ptr<QProcess> next = Start(mApplication);
    // Its journal, named after its process, is made once the clean-up is over.
    const QString journal = QString::number(next->processId()) + QStringLiteral("-*.journal");
    QVERIFY(WaitFor([&] {
        return !QDir(Path(QStringLiteral("cache/Kestrelworks/Inkhaven/instances"))).entryList({journal}).isEmpty();
    }));
    for (const QString& folder : left)
        QVERIFY2(!QFileInfo::exists(folder), qPrintable(folder));
    QVERIFY2(LeftSockets(left).isEmpty(), qPrintable(LeftSockets(left).join(QLatin1Char(' '))));
    for (const QString& letter : letters)
        QVERIFY2(!QFileInfo::exists(Path(QStringLiteral("temp/") + letter)), qPrintable(letter));
    for (const QString& folder : runningFolders)
        QVERIFY2(QFileInfo::exists(folder), qPrintable(folder));

    // The template copy has a name that every run uses; the next run writes over it and
    // deletes it, so a start leaves it alone.
    QFile::remove(Path(QStringLiteral("temp/template.dot")));
    CheckEndsCleanly({next.get(), running.get()}, SIGTERM);
}

QTEST_MAIN(EndingsTest)
#include "test_endings.moc"
