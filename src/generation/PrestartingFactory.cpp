#include "PrestartingFactory.h"

PrestartingFactory::PrestartingFactory(Word::ApplicationFactory& engine, int spares)
    : mEngine(engine), mSpares(spares), mStarter([this] { StartInstances(); })
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
            request = std::move(mRequests.front());
            mRequests.pop_front();
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

void PrestartingFactory::Prestart(int count)
{
    const std::lock_guard<std::mutex> lock(mMutex);
    while (static_cast<int>(mStarting.size()) < count) {
        mRequests.emplace_back();
        mStarting.push_back(mRequests.back().get_future());
    }
    mWake.notify_one();
}

std::shared_ptr<Word::Application> PrestartingFactory::CreateApplication()
{
    Prestart(1);
    std::future<std::shared_ptr<Word::Application>> start;
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        start = std::move(mStarting.front());
        mStarting.pop_front();
    }
    Prestart(mSpares);
    return start.get();
}
