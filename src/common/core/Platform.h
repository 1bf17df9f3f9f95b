#pragma once

#include <QDate>
#include <QUrl>

#include <cstdint>
#include <random>

// The clock, the random source and the URL opener, reached through small interfaces
// so that start-up, the splash and the naming are tested without waiting or a browser.

// The name of the user running the program, as documents name their author: the account's
// full name, else its login name.
QString AccountName();

class Clock {
public:
    virtual ~Clock() = default;
    // Time of day in seconds since midnight, with fraction.
    virtual double SecondsSinceMidnight() const = 0;
    // A clock that only moves forward, in seconds; used to measure waits.
    virtual double MonotonicSeconds() const = 0;
    virtual QDate Today() const = 0;
};

class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void Seed(std::uint64_t seed) = 0;
    // Uniform in [0, 1).
    virtual double Next() = 0;
};

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Hands the address to the user's web browser without waiting for it; false when that failed.
    virtual bool Open(const QUrl& url) = 0;
};

class SystemClock : public Clock {
public:
    double SecondsSinceMidnight() const override;
    double MonotonicSeconds() const override;
    QDate Today() const override;
};

class SystemRandom : public RandomSource {
public:
    SystemRandom();
    void Seed(std::uint64_t seed) override;
    double Next() override;

private:
    std::mt19937_64 mEngine;
};
