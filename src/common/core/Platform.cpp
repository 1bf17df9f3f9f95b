#include "Platform.h"

#include <QDateTime>
#include <QTime>

#include <chrono>

double SystemClock::SecondsSinceMidnight() const
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

double SystemClock::MonotonicSeconds() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QDate SystemClock::Today() const
{
    return QDate::currentDate();
}

SystemRandom::SystemRandom()
    : mEngine(std::random_device{}())
{
}

void SystemRandom::Seed(std::uint64_t seed)
{
    mEngine.seed(seed);
}

double SystemRandom::Next()
{
    return std::uniform_real_distribution<double>(0.0, 1.0)(mEngine);
}
