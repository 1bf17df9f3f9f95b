#include "PrestartingFactory.h"

#include <algorithm>

// Forwards every call to the instance; a Quit before any other call gives the instance
// back to the factory instead of ending it. The first other call asks for its replacement:
// until then it may still come back.
class PrestartingFactory::Lent : public Word::Application {
public:
    Lent(std::shared_ptr<Word::Application> instance, PrestartingFactory& owner)
        : mInstance(std::move(instance)), mOwner(owner)
    {
    }

    std::shared_ptr<Word::Documents> Documents() override { return Use().Documents(); }
    void SetDisplayAlerts(bool value) override { Use().SetDisplayAlerts(value); }
    std::shared_ptr<Word::Document> ActiveDocument() override { return Use().ActiveDocument(); }
    void Quit() override
    {
        if (mInstance && !mUsed) {
            mOwner.GiveBack(std::move(mInstance));
            return;
        }
        Use().Quit();
    }

private:
    Word::Application& Use()
    {
        if (!mInstance)
            throw AppError(QStringLiteral("The word processor has already quit."));
        if (!mUsed) {
            mUsed = true;
            mOwner.Replenish();
        }
        return *mInstance;
    }

    std::shared_ptr<Word::Application> mInstance;
    PrestartingFactory& mOwner;
    bool mUsed = false;
};

PrestartingFactory::PrestartingFactory(Word::ApplicationFactory& engine, int spares, std::chrono::milliseconds settle)
    : mEngine(engine), mSpares(spares), mSettle(settle)
{
    for (int i = 0; i < std::max(1, spares); ++i)
        mStarters.emplace_back([this] { StartInstances(); });
}

PrestartingFactory::~PrestartingFactory()
{
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
    }
    mWake.notify_all();
    for (std::thread& starter : mStarters)
        starter.join();
    // Instances that were started but never taken end here, with their objects.
    for (auto& start : mStarting) {
        try {
            start.get();
        } catch (...) {
            // An instance that failed to start has nothing left to end.
        }
    }
}

void PrestartingFactory::StartInstances()
{
    for (;;) {
        Start request;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mWake.wait(lock, [this] { return mStopping || !mRequests.empty(); });
            if (mRequests.empty())
                return;
            if (!mStopping && !mUrgent && std::chrono::steady_clock::now() < mQuietUntil) {
                mWake.wait_until(lock, mQuietUntil);
                continue;
            }
            request = std::move(mRequests.front());
            mRequests.pop_front();
            mUrgent = false;
            if (mStopping) {
                request.set_exception(std::make_exception_ptr(AppError(QStringLiteral("The application is ending."))));
                continue;
            }
        }
        try {
            request.set_value(mEngine.CreateApplication());
            mStartedOnce = true;
        } catch (...) {
            request.set_exception(std::current_exception());
        }
    }
}

void PrestartingFactory::Request(int count)
{
    while (static_cast<int>(mStarting.size()) < count) {
        mRequests.emplace_back();
        mStarting.push_back(mRequests.back().get_future());
    }
}

void PrestartingFactory::Prestart(int count)
{
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        Request(count);
        mQuietUntil = std::chrono::steady_clock::now();
    }
    mWake.notify_all();
}

std::future<std::shared_ptr<Word::Application>> PrestartingFactory::TakeOldest()
{
    std::future<std::shared_ptr<Word::Application>> start;
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        Request(1);
        // The requests not yet begun are the newest ones; when every one is still
        // waiting, the oldest, taken now, must begin at once.
        if (mRequests.size() == mStarting.size())
            mUrgent = true;
        start = std::move(mStarting.front());
        mStarting.pop_front();
    }
    mWake.notify_all();
    return start;
}

void PrestartingFactory::Replenish()
{
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        Request(mSpares);
        mQuietUntil = std::chrono::steady_clock::now() + mSettle;
    }
    mWake.notify_all();
}

std::shared_ptr<Word::Application> PrestartingFactory::CreateApplication()
{
    // Every instance is asked before it is handed over, even one just started (asking
    // costs a round trip); after the spares and a fresh one or two have failed, the next is
    // handed over, or its failure passed on, so that this never goes on without end.
    for (int checks = 0;; ++checks) {
        const bool lastTry = checks > mSpares + 1;
        std::shared_ptr<Word::Application> application;
        try {
            application = TakeOldest().get();
        } catch (...) {
            // Once an office has started here, a spare whose start failed (killed or
            // stopped while it started) is replaced like one that stopped working; before
            // that, the failure is what the caller has to hear, at once.
            if (lastTry || !mStartedOnce)
                throw;
            continue;
        }
        auto* checked = dynamic_cast<CheckedInstance*>(application.get());
        if (!checked || lastTry || checked->StillWorks())
            return std::make_shared<Lent>(std::move(application), *this);
    }
}

void PrestartingFactory::GiveBack(std::shared_ptr<Word::Application> application)
{
    Start ready;
    ready.set_value(std::move(application));
    const std::lock_guard<std::mutex> lock(mMutex);
    mStarting.push_front(ready.get_future());
}
