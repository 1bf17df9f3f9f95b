#pragma once

#include <unistd.h>

// Owns one open descriptor and closes it on every way out of its scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : mFd(fd) {}
    ~FileDescriptor()
    {
        if (mFd >= 0)
            ::close(mFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : mFd(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            if (mFd >= 0)
                ::close(mFd);
            mFd = other.Release();
        }
        return *this;
    }
    int Get() const { return mFd; }
    // Gives up ownership, for a caller that must see the result of close itself.
    int Release()
    {
        const int fd = mFd;
        mFd = -1;
        return fd;
    }

private:
    int mFd;
};
