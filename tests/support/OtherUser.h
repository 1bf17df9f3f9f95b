#pragma once

#include <QString>

#include <sys/types.h>

// A user of this machine made for a test and removed with the object: the other user from
// whose side a test acts. Only root can make one; without it, reason() says why there is none.
class OtherUser {
public:
    OtherUser();
    ~OtherUser();
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;

    bool isValid() const { return mReason.isEmpty(); }
    const QString& reason() const { return mReason; }
    uid_t uid() const { return mUid; }
    // Meant for a child process: it becomes that user, with no group of the test's; false when
    // it could not.
    bool become() const;

private:
    QString mName;
    QString mReason;
    uid_t mUid = 0;
    gid_t mGid = 0;
};
