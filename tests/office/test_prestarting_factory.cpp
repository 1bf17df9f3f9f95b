// Office instances started ahead of need: handed over in order, replaced at once, started
// on one long-lived thread, failures passed on, unused ones ended.
#include "AppError.h"
#include "PrestartingFactory.h"

#include <QtTest>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <thread>

namespace {
class CountedApplication : public Word::Application {
public:
    CountedApplication(int number, std::atomic<int>& alive) : number(number), mAlive(alive) { ++mAlive; }
    ~CountedApplication() override { --mAlive; }
    std::shared_ptr<Word::Documents> Documents() override { return nullptr; }
    void SetDisplayAlerts(bool) override {}
    std::shared_ptr<Word::Document> ActiveDocument() override { return nullptr; }
    void Quit() override {}

    const int number;

private:
    std::atomic<int>& mAlive;
};

// Starts numbered instances, remembering on which threads; can be told to fail. The
// factory's thread and the test share it: what both touch is read under its lock.
class SlowEngine : public Word::ApplicationFactory {
public:
    std::shared_ptr<Word::Application> CreateApplication() override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::lock_guard<std::mutex> lock(mMutex);
        mThreads.insert(std::this_thread::get_id());
        const int number = ++mStarted;
        if (mFail)
            throw AppError(QStringLiteral("No office here."));
        return std::make_shared<CountedApplication>(number, alive);
    }

    int Started() const
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        return mStarted;
    }
    std::set<std::thread::id> Threads() const
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        return mThreads;
    }
    void SetFail(bool fail)
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        mFail = fail;
    }

    std::atomic<int> alive{0};

private:
    mutable std::mutex mMutex;
    std::set<std::thread::id> mThreads;
    int mStarted = 0;
    bool mFail = false;
};

// How long a check waits for the factory's thread: long, so that a loaded machine passes.
constexpr int Patience = 60000;

int Number(const std::shared_ptr<Word::Application>& application)
{
    return static_cast<CountedApplication&>(*application).number;
}
}

class PrestartingFactoryTest : public QObject {
    Q_OBJECT

private slots:
    void handsOverInOrderAndReplaces();
    void passesOnFailedStarts();
    void endsInstancesNeverTaken();
    void replacementsWaitUntilNothingIsTaken();
};

void PrestartingFactoryTest::handsOverInOrderAndReplaces()
{
    SlowEngine engine;
    {
        PrestartingFactory factory(engine, 2);
        factory.Prestart(1);
        QTRY_COMPARE_WITH_TIMEOUT(engine.alive.load(), 1, Patience);
        const auto first = factory.CreateApplication();
        QCOMPARE(Number(first), 1);
        // Taking one starts replacements up to two spares.
        QTRY_COMPARE_WITH_TIMEOUT(engine.alive.load(), 3, Patience);
        QCOMPARE(Number(factory.CreateApplication()), 2);
        QCOMPARE(Number(factory.CreateApplication()), 3);
        QTRY_COMPARE_WITH_TIMEOUT(engine.Started(), 5, Patience);
        QCOMPARE(engine.Threads().size(), size_t(1));
        QVERIFY(!engine.Threads().count(std::this_thread::get_id()));
    }
    QCOMPARE(engine.alive.load(), 0);
}

void PrestartingFactoryTest::passesOnFailedStarts()
{
    SlowEngine engine;
    engine.SetFail(true);
    PrestartingFactory factory(engine, 1);
    QVERIFY_THROWS_EXCEPTION(AppError, factory.CreateApplication());
    engine.SetFail(false);
    // The replacement asked for while the first failed may have failed as well; a later one works.
    std::shared_ptr<Word::Application> application;
    for (int attempt = 0; attempt < 3 && !application; ++attempt) {
        try {
            application = factory.CreateApplication();
        } catch (const AppError&) {
        }
    }
    QVERIFY(application);
}

void PrestartingFactoryTest::endsInstancesNeverTaken()
{
    SlowEngine engine;
    {
        PrestartingFactory factory(engine, 2);
        factory.Prestart(2);
    }
    QCOMPARE(engine.alive.load(), 0);
    QVERIFY(engine.Started() <= 2);
}

// Instances taken in quick succession (a run takes two) start no replacement beside the
// run, however long that is; one taken before its start began starts at once all the same.
// (That replacements follow once the quiet spell has passed is seen above.)
void PrestartingFactoryTest::replacementsWaitUntilNothingIsTaken()
{
    SlowEngine engine;
    // A quiet spell that never passes while the test runs.
    PrestartingFactory factory(engine, 2, std::chrono::hours(1));
    factory.Prestart(2);
    QTRY_COMPARE_WITH_TIMEOUT(engine.alive.load(), 2, Patience);

    QCOMPARE(Number(factory.CreateApplication()), 1);
    QCOMPARE(Number(factory.CreateApplication()), 2);
    QTest::qWait(300);
    QCOMPARE(engine.Started(), 2);

    // The third is wanted now: it does not wait for the quiet spell.
    auto third = std::async(std::launch::async, [&] { return Number(factory.CreateApplication()); });
    QVERIFY(third.wait_for(std::chrono::minutes(1)) == std::future_status::ready);
    QCOMPARE(third.get(), 3);
    QCOMPARE(engine.Started(), 3);
}

QTEST_MAIN(PrestartingFactoryTest)
#include "test_prestarting_factory.moc"
