// Office instances started ahead of need: handed over in order, replaced at once, started
// on one long-lived thread, failures passed on, unused ones ended.
#include "AppError.h"
#include "PrestartingFactory.h"

#include <QtTest>

#include <atomic>
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

// Starts numbered instances, remembering on which threads; can be told to fail.
class SlowEngine : public Word::ApplicationFactory {
public:
    std::shared_ptr<Word::Application> CreateApplication() override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::lock_guard<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
        const int number = ++started;
        if (fail)
            throw AppError(QStringLiteral("No office here."));
        return std::make_shared<CountedApplication>(number, alive);
    }

    std::mutex mutex;
    std::set<std::thread::id> threads;
    int started = 0;
    bool fail = false;
    std::atomic<int> alive{0};
};

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
        QTRY_COMPARE(engine.alive.load(), 1);
        const auto first = factory.CreateApplication();
        QCOMPARE(Number(first), 1);
        // Taking one starts replacements up to two spares.
        QTRY_COMPARE(engine.alive.load(), 3);
        QCOMPARE(Number(factory.CreateApplication()), 2);
        QCOMPARE(Number(factory.CreateApplication()), 3);
        QTRY_COMPARE(engine.started, 5);
        QCOMPARE(engine.threads.size(), size_t(1));
        QVERIFY(!engine.threads.count(std::this_thread::get_id()));
    }
    QCOMPARE(engine.alive.load(), 0);
}

void PrestartingFactoryTest::passesOnFailedStarts()
{
    SlowEngine engine;
    engine.fail = true;
    PrestartingFactory factory(engine, 1);
    QVERIFY_THROWS_EXCEPTION(AppError, factory.CreateApplication());
    engine.fail = false;
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
    QVERIFY(engine.started <= 2);
}

// Instances taken in quick succession (a run takes two) start no replacement beside the
// run; one taken before its start began starts at once all the same.
void PrestartingFactoryTest::replacementsWaitUntilNothingIsTaken()
{
    using namespace std::chrono_literals;
    SlowEngine engine;
    PrestartingFactory factory(engine, 2, 1500ms);
    factory.Prestart(2);
    QTRY_COMPARE(engine.alive.load(), 2);

    QElapsedTimer sinceLastTake;
    QCOMPARE(Number(factory.CreateApplication()), 1);
    QTest::qWait(300);
    sinceLastTake.start();
    QCOMPARE(Number(factory.CreateApplication()), 2);
    QTest::qWait(300);
    {
        const std::lock_guard<std::mutex> lock(engine.mutex);
        if (sinceLastTake.elapsed() < 1200)
            QCOMPARE(engine.started, 2);
    }

    // The third is wanted now: it does not wait for the quiet spell.
    QElapsedTimer wait;
    wait.start();
    QCOMPARE(Number(factory.CreateApplication()), 3);
    QVERIFY2(wait.elapsed() < 1000, qPrintable(QString::number(wait.elapsed())));
    // The spares follow once nothing has been taken for the quiet spell.
    QTRY_COMPARE(engine.started, 5);
}

QTEST_MAIN(PrestartingFactoryTest)
#include "test_prestarting_factory.moc"
