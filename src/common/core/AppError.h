#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <memory>

// The error every operation of the system raises: it carries a description that is
// meant for the user and ends up in the error report.
class AppError : public std::exception {
public:
    explicit AppError(QString description);
    const QString& Description() const { return mDescription; }
    const char* what() const noexcept override { return mUtf8.constData(); }

private:
    QString mDescription;
    QByteArray mUtf8;
};

// Describes any exception for the error report.
QString DescribeException(std::exception_ptr error);

// The object behind p; throws AppError when there is none, as when an earlier step
// that should have obtained it failed.
template <class T>
T& Use(const std::shared_ptr<T>& p)
{
    if (!p)
        throw AppError(QStringLiteral("Object variable not set"));
    return *p;
}
