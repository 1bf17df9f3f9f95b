#include "WorkingFiles.h"

#include <QRegularExpression>

bool IsWorkingFileName(const QString& name)
{
    static const QRegularExpression letter(QStringLiteral("^%1[1-9]{8}\\.doc$").arg(QLatin1String(WorkingLetterPrefix)));
    return name == QLatin1String(TemplateCopyName) || name == QLatin1String(SnapshotFileName) || letter.match(name).hasMatch();
}
