#pragma once

#include "generation/WordModel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// An instance that can tell whether it still works. An instance that waited unused may
// have died or hung meanwhile: the prestarting factory asks before handing it over.
class CheckedInstance {
public:
    virtual ~CheckedInstance() = default;
    // False when the instance has ended or does not answer within a moment; it is ended
    // when its object is released.
    virtual bool StillWorks() = 0;
};

// How many spare instances the window application keeps. A run takes two, so with two
// ready the first run waits for none; only four would spare a run started again at once
// its wait, for two more idle offices and a start-up twice as long (all started side by
// side); three help no run. bench/click_to_preview again N weighs the choices.
inline constexpr int WindowSpareInstances = 2;

// Starts office instances before they are asked for, so that creating an application
// hands over one that is already running instead of waiting for a start. Every instance
// still serves exactly one operation and is quit by it; replacements start in the
// background once no instance has been put to use for a while: a generation run takes two
// instances in quick succession, and an office starting beside it would slow it down on a
// machine of few cores. An instance quit before anything else was asked of it (the
// start-up check only sees that one starts) comes back as the first spare instead of
// ending, and was never replaced: its replacement is asked for by the first call that
// uses it. Instances never taken end with this object, which must outlive every instance
// it handed over that may still be used or quit.
class PrestartingFactory : public Word::ApplicationFactory {
public:
    // engine starts the instances, on background threads, as many side by side as spares
    // (one at least); spares is how many are kept starting or ready once the first has
    // been used; replacements start once settle has passed since one was last put to use.
    PrestartingFactory(Word::ApplicationFactory& engine, int spares,
                       std::chrono::milliseconds settle = std::chrono::seconds(1));
    // Waits for starts still under way and ends every instance that was not taken.
    ~PrestartingFactory() override;
    PrestartingFactory(const PrestartingFactory&) = delete;
    PrestartingFactory& operator=(const PrestartingFactory&) = delete;

    // Begins starting instances, at once, until at least count are starting or ready.
    void Prestart(int count);

    // The oldest prestarted instance, waiting for it when its start is still under way
    // (and starting it at once when it had not begun). One that is a CheckedInstance that
    // no longer works is ended, and the next one taken instead; so is one whose start
    // failed once an instance has started here, and before that its failure is thrown.
    // Replacements, up to spares, are asked for when the instance handed over is first
    // used (any call but a Quit).
    std::shared_ptr<Word::Application> CreateApplication() override;

private:
    using Start = std::promise<std::shared_ptr<Word::Application>>;

    void StartInstances();
    // Takes the oldest instance asked for (asking for one when none is).
    std::future<std::shared_ptr<Word::Application>> TakeOldest();
    // An instance handed over is in use: replacements are asked for until spares are
    // starting or ready, to begin once settle has passed.
    void Replenish();
    // An instance as handed over, and how an untouched one comes back.
    class Lent;
    void GiveBack(std::shared_ptr<Word::Application> application);
    // Asks for instances until count are starting or ready; the lock must be held.
    void Request(int count);

    Word::ApplicationFactory& mEngine;
    int mSpares;
    std::chrono::milliseconds mSettle;
    // Futures of the instances asked for and not yet taken, oldest first (instances given
    // back come first).
    std::deque<std::future<std::shared_ptr<Word::Application>>> mStarting;
    // Long-lived threads start every instance: an office started with a parent-death
    // signal ends when the thread that started it ends, so that thread must live as long
    // as the instances may.
    std::mutex mMutex;
    std::condition_variable mWake;
    std::deque<Start> mRequests;
    // Requests wait until then, unless the oldest is urgent: it has been taken already.
    std::chrono::steady_clock::time_point mQuietUntil;
    bool mUrgent = false;
    bool mStopping = false;
    // Set once an instance has started: from then on the engine is known to work.
    std::atomic<bool> mStartedOnce{false};
    std::vector<std::thread> mStarters;
};
