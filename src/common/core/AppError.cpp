#include "AppError.h"

AppError::AppError(QString description)
    : mDescription(std::move(description)), mUtf8(mDescription.toUtf8())
{
}

QString DescribeException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const AppError& e) {
        return e.Description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unexpected error");
    }
}
