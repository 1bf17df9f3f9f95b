#include "OtherUser.h"

#include <QProcess>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

OtherUser::OtherUser() : mName(QStringLiteral("inkhaven-test-%1").arg(::getpid()))
{
    if (::geteuid() != 0) {
        mReason = QStringLiteral("only root can make another user");
        return;
    }
    QProcess add;
    add.start(QStringLiteral("useradd"), {QStringLiteral("--system"), QStringLiteral("--user-group"), QStringLiteral("--no-create-home"),
                                          QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"), mName});
    const bool added = add.waitForFinished(30000) && add.exitStatus() == QProcess::NormalExit && add.exitCode() == 0;
    const passwd* entry = added ? ::getpwnam(mName.toLocal8Bit().constData()) : nullptr;
    if (!entry) {
        mReason = QStringLiteral("useradd could not make a user: ") + QString::fromLocal8Bit(add.readAllStandardError()).trimmed()
            + add.errorString();
        mName.clear();
        return;
    }
    mUid = entry->pw_uid;
    mGid = entry->pw_gid;
}

OtherUser::~OtherUser()
{
    if (!mName.isEmpty())
        QProcess::execute(QStringLiteral("userdel"), {mName});
}

bool OtherUser::become() const
{
    return isValid() && ::setgroups(0, nullptr) == 0 && ::setresgid(mGid, mGid, mGid) == 0 && ::setresuid(mUid, mUid, mUid) == 0;
}
