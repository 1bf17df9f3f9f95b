#include "PrestartingFactory.h"

PrestartingFactory::PrestartingFactory(Word::ApplicationFactory& engine, int spares, std::chrono::milliseconds settle)
    : mEngine(engine), mSpares(spares), mSettle(settle), mStarter([this] { StartInstances(); })
{
}

PrestartingFactory::~PrestartingFactory()
{
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
    }
    mWake.notify_all();
    mStarter.join();
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
    mWake.notify_one();
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
        Request(mSpares);
        mQuietUntil = std::chrono::steady_clock::now() + mSettle;
    }
    mWake.notify_one();
    return start;
}

std::shared_ptr<Word::Application> PrestartingFactory::CreateApplication()
{
    for (;;) {
        std::future<std::shared_ptr<Word::Application>> start = TakeOldest();
        // An instance whose start was waited for has just answered; one that waited
        // unused is asked.
        const bool waitedUnused = start.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        std::shared_ptr<Word::Application> application = start.get();
        auto* checked = dynamic_cast<CheckedInstance*>(application.get());
        if (!waitedUnused || !checked || checked->StillWorks())
            return application;
    }
}
