#include "GuardedProcedure.h"

#include "AppError.h"
#include "Dialogs.h"
#include "ErrorReport.h"

GuardedProcedure::GuardedProcedure(QString location, Dialogs& dialogs, std::stop_token ending)
    : mLocation(std::move(location)),
      mReport([location = mLocation, &dialogs](const QString& description, int step) {
          dialogs.ShowErrorReport(ErrorReportText(description, location, step));
      }),
      mEnding(std::move(ending))
{
}

GuardedProcedure::GuardedProcedure(QString location, Reporter report, std::stop_token ending)
    : mLocation(std::move(location)), mReport(std::move(report)), mEnding(std::move(ending))
{
}

bool GuardedProcedure::Step(int number, const std::function<void()>& action)
{
    // An application that is ending runs no further step and reports nothing.
    if (mEnding.stop_requested()) {
        ++mFailures;
        return false;
    }
    try {
        action();
        return true;
    } catch (...) {
        ++mFailures;
        mReport(DescribeException(std::current_exception()), number);
        return false;
    }
}

bool GuardedProcedure::Condition(int number, const std::function<bool()>& test)
{
    bool result = true;
    Step(number, [&] { result = test(); });
    return result;
}
