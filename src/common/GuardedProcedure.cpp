#include "GuardedProcedure.h"

#include "AppError.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "Leftovers.h"

GuardedProcedure::GuardedProcedure(QString location, Dialogs& dialogs)
    : mLocation(std::move(location)),
      mReport([location = mLocation, &dialogs](const QString& description, int step) {
          dialogs.ShowErrorReport(ErrorReportText(description, location, step));
      })
{
}

GuardedProcedure::GuardedProcedure(QString location, Reporter report)
    : mLocation(std::move(location)), mReport(std::move(report))
{
}

bool GuardedProcedure::Step(int number, const std::function<void()>& action)
{
    // An application that is ending runs no further step and reports nothing.
    if (ApplicationEnding()) {
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
