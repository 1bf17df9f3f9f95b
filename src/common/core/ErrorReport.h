#pragma once

#include <QString>

// Address that closes every error report.
inline constexpr char SupportEmail[] = "support@kestrelworks.example";

// Text of the error report: the error's description, CR LF, "in <location> ",
// "at line <step>", two CRs and the request to send a screenshot to support.
QString ErrorReportText(const QString& description, const QString& location, int step);
