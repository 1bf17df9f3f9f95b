#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <stop_token>

class Dialogs;

// Yields the members of a collection one after the other; std::nullopt after the last.
// Moving on may throw, like any call into another process.
template <class Item>
using Enumerator = std::function<std::optional<Item>()>;

// A procedure made of numbered steps. Each step runs on its own: when it throws, the
// error report names the procedure's location and the step number, and the
// procedure goes on with the next step. Nothing but the end of the application stops a
// guarded procedure early: once stop is requested on the token it was given, no further step
// runs and nothing more is reported; each step counts as failed.
class GuardedProcedure {
public:
    // Receives a failed step: the error's description and the step's number.
    using Reporter = std::function<void(const QString& description, int step)>;

    // Failures are shown as the standard error report.
    GuardedProcedure(QString location, Dialogs& dialogs, std::stop_token ending);
    // Failures go to report instead, for a procedure that runs without windows.
    GuardedProcedure(QString location, Reporter report, std::stop_token ending);

    // Runs one step; returns false when it failed (after the report was shown).
    bool Step(int number, const std::function<void()>& action);

    // A step that tests a condition. A failing test is reported and counts as true:
    // the procedure goes on with the first step inside the condition.
    bool Condition(int number, const std::function<bool()>& test);

    // A "for each" loop. Step headStep obtains the collection and its first member;
    // when it fails the body still runs once, with an empty member, and the loop ends.
    // Step nextStep moves to the next member; when it fails the loop is left.
    template <class Item>
    void ForEach(int headStep, int nextStep, const std::function<Enumerator<Item>()>& open,
                 const std::function<void(const Item&)>& body)
    {
        Enumerator<Item> members;
        std::optional<Item> current;
        if (!Step(headStep, [&] {
                members = open();
                current = members();
            })) {
            body(Item{});
            return;
        }
        while (current) {
            body(*current);
            if (!Step(nextStep, [&] { current = members(); }))
                return;
        }
    }

    const QString& Location() const { return mLocation; }
    int FailureCount() const { return mFailures; }

private:
    QString mLocation;
    Reporter mReport;
    std::stop_token mEnding;
    int mFailures = 0;
};
