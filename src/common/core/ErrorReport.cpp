#include "ErrorReport.h"

QString ErrorReportText(const QString& description, const QString& location, int step)
{
    return description + QStringLiteral("\r\n") + QStringLiteral("in ") + location + QLatin1Char(' ')
        + QStringLiteral("at line ") + QString::number(step) + QStringLiteral("\r\r")
        + QStringLiteral("Please email screenshot of this message to ") + QLatin1String(SupportEmail);
}
