#pragma once

#include <QString>

// Address that closes every error report.
inline constexpr char SupportEmail[] = "support@kestrelworks.example";

// The locations that error reports name, one for each guarded procedure.
inline constexpr char ClearDataLocation[] = "Quillfold7/25/2013.Form1.PushButton3_Click";
inline constexpr char SampleDataLocation[] = "Quillfold7/25/2013.Form1.PushButton4_Click";
inline constexpr char GenerationRunLocation[] = "Quillfold7/25/2013.Form1.PushButton6_Click";
inline constexpr char SnapshotLocation[] = "Tallowmere.Form1.SaveDocAsJPG";
inline constexpr char BackLocation[] = "Quillfold7/25/2013.Form2.PushButton8_Click";
inline constexpr char SaveLocation[] = "Tallowmere.Form2.PushButton6_Click";
inline constexpr char ZoomInLocation[] = "Quillfold7/25/2013.Form2.PushButton1_Click";
inline constexpr char ZoomOutLocation[] = "Quillfold7/25/2013.Form2.PushButton2_Click";

// Text of the error report: the error's description, CR LF, "in <location> ",
// "at line <step>", two CRs and the request to send a screenshot to support.
QString ErrorReportText(const QString& description, const QString& location, int step);
