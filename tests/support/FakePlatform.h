#pragma once

#include "core/Platform.h"

#include <QList>
#include <QUrl>

#include <deque>

// A clock that only moves when told to (or by a fixed step on every monotonic read).
class FakeClock : public Clock {
public:
    double SecondsSinceMidnight() const override { return secondsSinceMidnight; }
    double MonotonicSeconds() const override
    {
        const double now = monotonic;
        monotonic += stepPerRead;
        return now;
    }
    QDate Today() const override { return today; }

    double secondsSinceMidnight = 43200.0;
    mutable double monotonic = 1000.0;
    double stepPerRead = 0.0;
    QDate today = QDate(2026, 12, 7);
};

// Returns the scripted values in order, then repeats the last one; records the seeds.
class FakeRandom : public RandomSource {
public:
    void Seed(std::uint64_t seed) override { seeds.append(seed); }
    double Next() override
    {
        if (values.size() > 1) {
            const double v = values.front();
            values.pop_front();
            return v;
        }
        return values.empty() ? 0.0 : values.front();
    }

    std::deque<double> values;
    QList<std::uint64_t> seeds;
};

class FakeUrlOpener : public UrlOpener {
public:
    bool Open(const QUrl& url) override
    {
        opened.append(url);
        return succeed;
    }

    QList<QUrl> opened;
    bool succeed = true;
};
