#include "FakeDialogs.h"

#include <QRegularExpression>

void FakeDialogs::ShowErrorReport(const QString& text)
{
    shown.append({QStringLiteral("error"), text, QStringLiteral("Application Error")});
}

void FakeDialogs::ShowMessage(const QString& text, const QString& caption)
{
    shown.append({QStringLiteral("message"), text, caption});
}

bool FakeDialogs::AskYesNo(const QString& text, const QString& caption)
{
    shown.append({QStringLiteral("question"), text, caption});
    if (answers.empty())
        return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

QString FakeDialogs::GetSaveFileName(const QString& title, const QString& filter, const QString& fileName)
{
    shown.append({QStringLiteral("save"), title, QString()});
    lastSaveFilter = filter;
    lastSaveFileName = fileName;
    if (savePaths.empty())
        return QString();
    const QString path = savePaths.front();
    savePaths.pop_front();
    return path;
}

QStringList FakeDialogs::ErrorReports() const
{
    QStringList texts;
    for (const Shown& s : shown)
        if (s.kind == QLatin1String("error"))
            texts.append(s.text);
    return texts;
}

QList<int> FakeDialogs::FailedSteps() const
{
    static const QRegularExpression atLine(QStringLiteral("at line (\\d+)\\r\\r"));
    QList<int> steps;
    for (const QString& text : ErrorReports()) {
        const QRegularExpressionMatch m = atLine.match(text);
        steps.append(m.hasMatch() ? m.captured(1).toInt() : -1);
    }
    return steps;
}
