#include "Progress.h"

#include <cmath>

std::optional<double> SecondsLeft(int done, int total, double secondsSinceFirst)
{
    if (done < 2)
        return std::nullopt;
    return secondsSinceFirst / (done - 1) * std::max(0, total - done);
}

QString TimeLeftText(std::optional<double> seconds)
{
    if (!seconds)
        return QString();
    const auto whole = static_cast<long long>(std::ceil(*seconds));
    if (whole < 60)
        return QStringLiteral("about %1 s left").arg(whole);
    const long long minutes = (whole + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(minutes);
    return QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

QString TerminalProgressLine(int done, int total, const QString& current, std::optional<double> secondsLeft, int width)
{
    QString line = QStringLiteral("%1 of %2 letters").arg(done).arg(total);
    const QString left = TimeLeftText(secondsLeft);
    if (!left.isEmpty())
        line += QStringLiteral(", ") + left;
    if (!current.isEmpty())
        line += QStringLiteral(": ") + current;
    // The last column stays free: writing into it makes some terminals wrap at once.
    const qsizetype room = std::max(width - 1, 0);
    if (line.size() > room) {
        line.truncate(room);
        if (!line.isEmpty() && line.back().isHighSurrogate())
            line.chop(1);
    }
    return line;
}

QString PlainProgressLine(int done, int total, const QString& fileName)
{
    return QStringLiteral("[%1/%2] %3").arg(done).arg(total).arg(fileName);
}
