#include "OfficeSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

// What every sandbox is: its own network (loopback only, and down), inter-process
// communication and process numbers; a session of its own, so that it cannot type into the
// user's terminal; and it ends with the process that started it. The system is seen
// read-only, with a device folder and process list of its own.
QStringList BaseArguments()
{
    return {QStringLiteral("--unshare-net"), QStringLiteral("--unshare-ipc"), QStringLiteral("--unshare-pid"),
            QStringLiteral("--new-session"),  QStringLiteral("--die-with-parent"),
            QStringLiteral("--ro-bind"),      QStringLiteral("/"), QStringLiteral("/"),
            QStringLiteral("--dev"),          QStringLiteral("/dev"),
            QStringLiteral("--proc"),         QStringLiteral("/proc")};
}

SandboxSupport ProbeSandbox()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("bwrap"));
    if (program.isEmpty())
        return {QString(), QStringLiteral("bubblewrap (bwrap) is not installed")};
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(program, BaseArguments() + QStringList{QStringLiteral("--tmpfs"), QStringLiteral("/tmp"),
                                                       QStringLiteral("--"), QStringLiteral("true")});
    if (!probe.waitForFinished(10000)) {
        probe.kill();
        probe.waitForFinished();
        return {QString(), QStringLiteral("bwrap could not be run: %1").arg(probe.errorString())};
    }
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(probe.readAll()).trimmed();
        return {QString(), QStringLiteral("the system does not let bwrap make one (%1)")
                               .arg(said.isEmpty() ? QStringLiteral("exit code %1").arg(probe.exitCode()) : said)};
    }
    return {program, QString()};
}

bool IsFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

}

const SandboxSupport& OfficeSandboxSupport()
{
    static const SandboxSupport support = ProbeSandbox();
    return support;
}

SandboxView OfficeSandboxView(const QString& privateFolder, const QString& officeFolder, const QString& programFolder,
                              const QString& home)
{
    SandboxView view;
    QStringList hidden = {QStringLiteral("/home"), QStringLiteral("/root"), QStringLiteral("/tmp"), QStringLiteral("/var/tmp"),
                          QStringLiteral("/run/user"), QStringLiteral("/media"), QStringLiteral("/mnt")};
    const QString ownHome = QDir::cleanPath(home);
    if (!home.isEmpty() && ownHome != QLatin1String("/") && !hidden.contains(ownHome))
        hidden.prepend(ownHome);
    for (const QString& folder : std::as_const(hidden)) {
        if (IsFolder(folder))
            view.hidden << folder;
    }
    // The office's installation, which may lie in a hidden folder, and the user's own
    // fonts, which a letter may use.
    QStringList readable = {QDir::cleanPath(programFolder + QStringLiteral("/.."))};
    if (!home.isEmpty()) {
        for (const char* fonts : {".fonts", ".local/share/fonts", ".config/fontconfig"})
            readable << QDir(ownHome).filePath(QLatin1String(fonts));
    }
    for (const QString& folder : std::as_const(readable)) {
        if (IsFolder(folder))
            view.readable << folder;
    }
    view.writable = privateFolder;
    view.temporary = QDir(officeFolder).filePath(QStringLiteral("tmp"));
    return view;
}

QStringList SandboxArguments(const SandboxView& view)
{
    QStringList arguments = BaseArguments();
    for (const QString& folder : view.hidden)
        arguments << QStringLiteral("--tmpfs") << folder;
    for (const QString& folder : view.readable)
        arguments << QStringLiteral("--ro-bind") << folder << folder;
    // /tmp first: the writable folder may lie in it, and a later mount on /tmp would hide it.
    arguments << QStringLiteral("--bind") << view.temporary << QStringLiteral("/tmp");
    arguments << QStringLiteral("--bind") << view.writable << view.writable;
    arguments << QStringLiteral("--");
    return arguments;
}
