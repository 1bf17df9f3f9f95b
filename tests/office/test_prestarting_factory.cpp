// Office instances started ahead of need: handed over in order, replaced at once, started
// on long-lived threads, failures passed on or replaced, unused ones ended, broken ones
// skipped, ones quit untouched kept.
#include "core/AppError.h"
#include "office/PrestartingFactory.h"

#include <QtTest>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <thread>

namespace {
// The number of the instance whose SetDisplayAlerts was called last.
std::atomic<int> lastUsed{0};

class CountedApplication : public Word::Application, public CheckedInstance {
public:
    CountedApplication(int number, std::atomic<int>& alive) : number(number), mAlive(alive) { ++mAlive; }
    ~CountedApplication() override { --mAlive; }
    std::shared_ptr<Word::Documents> Documents() override { return nullptr; }
    void SetDisplayAlerts(bool) override { lastUsed = number; }
    std::shared_ptr<Word::Document> ActiveDocument() override { return nullptr; }
    void Quit() override {}
    bool StillWorks() override { return works; }

    const int number;
    std::atomic<bool> works{true};

private:
    std::atomic<int>& mAlive;
};

// Starts numbered instances, remembering on which threads; can be told to fail. The
// factory's thread and the test share it: what both touch is read under its lock.
class SlowEngine : public Word::ApplicationFactory {
public:
    std::shared_ptr<Word::Application> CreateApplication() override
    {
        std::this_thread::sleep_for(startTime);
        const std::lock_guard<std::mutex> lock(mMutex);
        mThreads.insert(std::this_thread::get_id());
        const int number = ++mStarted;
        if (mFail)
            throw AppError(QStringLiteral("No office here."));
        auto application = std::make_shared<CountedApplication>(number, alive);
        mInstances.push_back(application);
        return application;
    }

    std::weak_ptr<CountedApplication> Instance(int number) const
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        return mInstances.at(static_cast<size_t>(number - 1));
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
    // How long each start takes; set before the factory starts anything.
    std::chrono::milliseconds startTime{20};

private:
    mutable std::mutex mMutex;
    std::set<std::thread::id> mThreads;
    int mStarted = 0;
    bool mFail = false;
    std::vector<std::weak_ptr<CountedApplication>> mInstances;
};

// How long a check waits for the factory's thread: long, so that a loaded machine passes.
constexpr int Patience = 60000;

// Which instance the object handed over is; this uses it.
int Number(const std::shared_ptr<Word::Application>& application)
{
    application->SetDisplayAlerts(false);
    return lastUsed;
}
}

class PrestartingFactoryTest : public QObject {
    Q_OBJECT

private slots:
    void handsOverInOrderAndReplaces();
    void passesOnFailedStarts();
    void endsInstancesNeverTaken();
    void replacementsWaitUntilNothingIsTaken();
    void skipsAndEndsSparesThatStoppedWorking();
    void untouchedInstanceComesBack();
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
        // Using the one taken starts replacements up to two spares.
        QTRY_COMPARE_WITH_TIMEOUT(engine.alive.load(), 3, Patience);
        // The two replacements start side by side: either may be numbered first.
        const int second = Number(factory.CreateApplication());
        const int third = Number(factory.CreateApplication());
        QCOMPARE(QSet<int>({second, third}), QSet<int>({2, 3}));
        QTRY_COMPARE_WITH_TIMEOUT(engine.Started(), 5, Patience);
        QVERIFY(engine.Threads().size() <= 2);
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

    // Once an instance has started, a spare whose start failed is replaced, not passed on.
    // The spare is asked for once the instance is used.
    const int started = engine.Started();
    engine.SetFail(true);
    Number(application);
    QTRY_VERIFY_WITH_TIMEOUT(engine.Started() > started, Patience);
    engine.SetFail(false);
    // The failed start was number started + 1; the one started in its place comes next.
    std::shared_ptr<Word::Application> replaced;
    QVERIFY_THROWS_NO_EXCEPTION(replaced = factory.CreateApplication());
    QCOMPARE(Number(replaced), started + 2);
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

    // The two prestarted ones start side by side: either may be numbered first.
    const int first = Number(factory.CreateApplication());
    QCOMPARE(QSet<int>({first, Number(factory.CreateApplication())}), QSet<int>({1, 2}));
    QTest::qWait(300);
    QCOMPARE(engine.Started(), 2);

    // The third is wanted now: it does not wait for the quiet spell.
    auto third = std::async(std::launch::async, [&] { return Number(factory.CreateApplication()); });
    QVERIFY(third.wait_for(std::chrono::minutes(1)) == std::future_status::ready);
    QCOMPARE(third.get(), 3);
    QCOMPARE(engine.Started(), 3);
}

// Spares that died or hang while they waited are ended, and the next instance, a fresh one
// here, is handed over instead, without an error.
void PrestartingFactoryTest::skipsAndEndsSparesThatStoppedWorking()
{
    SlowEngine engine;
    PrestartingFactory factory(engine, 2);
    factory.Prestart(2);
    QTRY_COMPARE_WITH_TIMEOUT(engine.alive.load(), 2, Patience);
    for (int number : {1, 2}) {
        const auto spare = engine.Instance(number).lock();
        QVERIFY(spare);
        spare->works = false;
    }
    const auto application = factory.CreateApplication();
    QCOMPARE(Number(application), 3);
    QVERIFY(engine.Instance(1).expired());
    QVERIFY(engine.Instance(2).expired());
}

// The start-up check quits its instance untouched: it comes back as the first spare, and
// no replacement starts for it, even when the offices take longer to start than the quiet
// spell (as real ones do, two side by side on two cores: a third office then started
// while the check still waited, and stayed idle). One that was used ends.
void PrestartingFactoryTest::untouchedInstanceComesBack()
{
    using namespace std::chrono_literals;
    SlowEngine engine;
    engine.startTime = 400ms;
    PrestartingFactory factory(engine, 2, 100ms);
    factory.Prestart(2);
    const auto checked = factory.CreateApplication();
    checked->Quit();
    QVERIFY_THROWS_EXCEPTION(AppError, checked->Documents());
    QTRY_COMPARE_WITH_TIMEOUT(engine.alive.load(), 2, Patience);
    QTest::qWait(1000);
    QCOMPARE(engine.Started(), 2);

    // Both taken now are the two started first: the one given back did not end, and the
    // one quit after use was not given back.
    const auto first = factory.CreateApplication();
    const int number = Number(first);
    first->Quit();
    QCOMPARE(QSet<int>({number, Number(factory.CreateApplication())}), QSet<int>({1, 2}));
}

QTEST_MAIN(PrestartingFactoryTest)
#include "test_prestarting_factory.moc"
