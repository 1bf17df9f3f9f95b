#include "OfficeSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

// What every sandbox is: its own network (loopback only, and down), inter-process
// communication, process numbers, host name and control groups; a session of its own, so
// that it cannot type into the user's terminal; and it ends with the process that started it.
// Its file system starts empty, with a device folder and process list of its own.
QStringList BaseArguments()
{
    return {QStringLiteral("--unshare-net"),  QStringLiteral("--unshare-ipc"),        QStringLiteral("--unshare-pid"),
            QStringLiteral("--unshare-uts"),  QStringLiteral("--unshare-cgroup-try"), QStringLiteral("--new-session"),
            QStringLiteral("--die-with-parent"),
            QStringLiteral("--dev"),          QStringLiteral("/dev"),
            QStringLiteral("--proc"),         QStringLiteral("/proc")};
}

// The system folders at the root that hold programs and libraries; on a merged /usr most are
// links into it.
constexpr const char* ProgramRoots[] = {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"};

// What the office reads of the system besides /usr: the dynamic linker's cache, font
// configuration and cache, locale and time zone, the user database (for the user's name and
// home), the paper size, and its own configuration (its registry lives in /etc/libreoffice
// on Debian, its shared extensions in /var/spool/libreoffice).
constexpr const char* SystemFiles[] = {
    "/usr",
    "/etc/ld.so.cache", "/etc/ld.so.conf", "/etc/ld.so.conf.d",
    "/etc/fonts", "/var/cache/fontconfig",
    "/etc/localtime", "/etc/timezone", "/etc/locale.alias", "/etc/locale.conf", "/etc/default/locale",
    "/etc/passwd", "/etc/group", "/etc/nsswitch.conf",
    "/etc/papersize",
    "/etc/libreoffice", "/var/spool/libreoffice",
};

// The links among ProgramRoots, as --symlink arguments, and the folders among them, as
// read-only binds.
QStringList ProgramRootArguments()
{
    QStringList arguments;
    for (const char* root : ProgramRoots) {
        const QFileInfo info {QString::fromLatin1(root)};
        if (info.isSymLink())
            arguments << QStringLiteral("--symlink") << info.symLinkTarget() << QLatin1String(root);
        else if (info.isDir())
            arguments << QStringLiteral("--ro-bind") << QLatin1String(root) << QLatin1String(root);
    }
    return arguments;
}

SandboxSupport ProbeSandbox()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("bwrap"));
    if (program.isEmpty())
        return {QString(), QStringLiteral("bubblewrap (bwrap) is not installed")};
    const QString trueProgram = QStandardPaths::findExecutable(QStringLiteral("true"), {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(program, BaseArguments() + QStringList{QStringLiteral("--ro-bind"), QStringLiteral("/usr"), QStringLiteral("/usr")}
                             + ProgramRootArguments()
                             + QStringList{QStringLiteral("--"), trueProgram.isEmpty() ? QStringLiteral("/usr/bin/true") : trueProgram});
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

}

const SandboxSupport& OfficeSandboxSupport()
{
    static const SandboxSupport support = ProbeSandbox();
    return support;
}

SandboxView OfficeSandboxView(const QString& officeFolder, const QString& programFolder, const QString& home)
{
    SandboxView view;
    view.programRoots = ProgramRootArguments();
    for (const char* path : SystemFiles) {
        if (QFileInfo::exists(QLatin1String(path)))
            view.readable << QLatin1String(path);
    }
    // The office's installation, wherever it lies, and the user's own fonts, which a letter
    // may use; none of them through a link, which could lead anywhere.
    QStringList wanted = {QDir::cleanPath(programFolder + QStringLiteral("/.."))};
    const QString ownHome = QDir::cleanPath(home);
    if (!home.isEmpty() && ownHome != QLatin1String("/")) {
        for (const char* fonts : {".fonts", ".local/share/fonts", ".config/fontconfig", ".fonts.conf"})
            wanted << QDir(ownHome).filePath(QLatin1String(fonts));
    }
    for (const QString& path : std::as_const(wanted)) {
        const QFileInfo info(path);
        if (info.exists() && !info.isSymLink() && !view.readable.contains(path) && !path.startsWith(QStringLiteral("/usr/")))
            view.readable << path;
    }
    view.writable = officeFolder;
    view.temporary = QDir(officeFolder).filePath(QStringLiteral("tmp"));
    return view;
}

QStringList SandboxArguments(const SandboxView& view)
{
    QStringList arguments = BaseArguments() + view.programRoots;
    for (const QString& path : view.readable)
        arguments << QStringLiteral("--ro-bind") << path << path;
    // /tmp first: the writable folder may lie in it, and a later mount on /tmp would hide it.
    arguments << QStringLiteral("--bind") << view.temporary << QStringLiteral("/tmp");
    arguments << QStringLiteral("--bind") << view.writable << view.writable;
    arguments << QStringLiteral("--");
    return arguments;
}
