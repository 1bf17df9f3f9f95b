#include "GuardedProcedure.h"

#include "AppError.h"
#include "Dialogs.h"
#include "ErrorReport.h"

GuardedProcedure::GuardedProcedure(QString location, Dialogs& dialogs)
    : mLocation(std::move(location)), mDialogs(dialogs)
{
}

bool GuardedProcedure::Step(int number, const std::function<void()>& action)
{
    try {
        action();
        return true;
    } catch (...) {
        ++mFailures;
        mDialogs.ShowErrorReport(ErrorReportText(DescribeException(std::current_exception()), mLocation, number));
        return false;
    }
}

bool GuardedProcedure::Condition(int number, const std::function<bool()>& test)
{
    bool result = true;
    Step(number, [&] { result = test(); });
    return result;
}
