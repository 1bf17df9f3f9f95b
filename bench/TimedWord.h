#pragma once

// A word-processor factory that passes every call through to another one and adds up how
// long the calls take, per office instance and per kind of call, so that a benchmark can
// say where a generation run spends its time.

#include "generation/WordModel.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QString>

#include <condition_variable>
#include <mutex>

namespace Bench {

// Milliseconds per "<instance>: <kind>" key. The instances are named in the order they are
// created (names[0] for the first, and so on); the kinds are "wait for office", "open",
// "replace", "save", "close", "quit" and "render" (the office's export of the pages; the
// snapshot renders them afterwards, outside the office).
class CallTimes {
public:
    explicit CallTimes(QStringList names) : mNames(std::move(names)) { mClock.start(); }
    QString NextInstance();
    // Adds a call that has just ended.
    void Add(const QString& key, double ms);
    const QMap<QString, double>& Ms() const { return mMs; }
    // When the latest call ended, in ms since Clear.
    double LastCallEndMs() const { return mLastEndMs; }
    // Forgets every call and instance; the clock of LastCallEndMs starts again.
    void Clear();

private:
    QStringList mNames;
    int mCreated = 0;
    QMap<QString, double> mMs;
    QElapsedTimer mClock;
    double mLastEndMs = 0;
};

// Wraps every object the inner factory hands out; to be called on one thread.
class TimedFactory : public Word::ApplicationFactory {
public:
    TimedFactory(Word::ApplicationFactory& inner, CallTimes& times) : mInner(inner), mTimes(times) {}
    std::shared_ptr<Word::Application> CreateApplication() override;

private:
    Word::ApplicationFactory& mInner;
    CallTimes& mTimes;
};

// Counts the instances the inner factory has finished creating and how long each took;
// callable from any thread (the prestarting factory creates on a thread of its own).
class CountingFactory : public Word::ApplicationFactory {
public:
    explicit CountingFactory(Word::ApplicationFactory& inner) : mInner(inner) {}
    std::shared_ptr<Word::Application> CreateApplication() override;
    // Waits until count creations have ended (successfully or not); false on timeout.
    bool WaitForCreated(int count, int timeoutMs);
    QList<double> CreateMs();

private:
    Word::ApplicationFactory& mInner;
    std::mutex mMutex;
    std::condition_variable mCreated;
    QList<double> mCreateMs;
};

} // namespace Bench
