#pragma once

#include "WordModel.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

// Starts office instances before they are asked for, so that creating an application
// hands over one that is already running instead of waiting for a start. Every instance
// still serves exactly one operation and is quit by it; a replacement starts in the
// background as soon as one is taken. Instances never taken end with this object.
class PrestartingFactory : public Word::ApplicationFactory {
public:
    // engine starts the instances (on background threads); spares is how many are kept
    // starting or ready once the first has been taken.
    PrestartingFactory(Word::ApplicationFactory& engine, int spares);
    // Waits for starts still under way and ends every instance that was not taken.
    ~PrestartingFactory() override;
    PrestartingFactory(const PrestartingFactory&) = delete;
    PrestartingFactory& operator=(const PrestartingFactory&) = delete;

    // Begins starting instances until at least count are starting or ready.
    void Prestart(int count);

    // The oldest prestarted instance, waiting for it when its start is still under way;
    // throws what its start threw. A replacement starts before this returns.
    std::shared_ptr<Word::Application> CreateApplication() override;

private:
    using Start = std::promise<std::shared_ptr<Word::Application>>;

    void StartInstances();

    Word::ApplicationFactory& mEngine;
    int mSpares;
    // Futures of the instances asked for and not yet taken, oldest first.
    std::deque<std::future<std::shared_ptr<Word::Application>>> mStarting;
    // One long-lived thread starts every instance: an office started with a parent-death
    // signal ends when the thread that started it ends, so that thread must live as long
    // as the instances may.
    std::mutex mMutex;
    std::condition_variable mWake;
    std::deque<Start> mRequests;
    bool mStopping = false;
    std::thread mStarter;
};
