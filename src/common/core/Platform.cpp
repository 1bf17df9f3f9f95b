#include "Platform.h"

#include <QDateTime>
#include <QTime>

#include <chrono>
#include <vector>

#include <pwd.h>
#include <unistd.h>

double SystemClock::SecondsSinceMidnight() const
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

double SystemClock::MonotonicSeconds() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QString AccountName()
{
    passwd entry {};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return qEnvironmentVariable("USER");
    // The first of the comma-separated parts of the account's comment is its full name.
    const QString fullName = QString::fromLocal8Bit(found->pw_gecos).section(QLatin1Char(','), 0, 0).trimmed();
    return fullName.isEmpty() ? QString::fromLocal8Bit(found->pw_name) : fullName;
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
