#include "UserTemplate.h"

#include "AppError.h"
#include "FileDescriptor.h"
#include "Fields.h"
#include "LetterFill.h"
#include "LetterList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <optional>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Why the bytes cannot be a file of that extension, from how such files begin; empty
// when they can.
QString ContentProblem(const QByteArray& bytes, const QString& extension)
{
    if (bytes.isEmpty())
        return QStringLiteral("the file is empty");
    if (extension == QLatin1String("doc") || extension == QLatin1String("dot")) {
        if (!bytes.startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")))
            return QStringLiteral("it is not a Word 97-2003 file, which its name ends in .%1 for").arg(extension);
    } else if (extension == QLatin1String("fodt")) {
        QByteArray start = bytes.left(64);
        if (start.startsWith("\xEF\xBB\xBF"))
            start.remove(0, 3);
        if (!start.trimmed().startsWith('<'))
            return QStringLiteral("it is not a flat OpenDocument text (XML), which its name ends in .fodt for");
    } else if (!bytes.startsWith("PK\x03\x04")) {
        return QStringLiteral("it is not a %1 file (a zip archive), which its name ends in .%2 for")
            .arg(extension.startsWith(QLatin1Char('d')) ? QStringLiteral("Word") : QStringLiteral("OpenDocument"), extension);
    }
    return QString();
}
}

UserTemplateFile ReadUserTemplate(const QString& path)
{
    const QString extension = QFileInfo(path).suffix().toLower();
    if (std::find_if(std::begin(TemplateExtensions), std::end(TemplateExtensions),
                     [&](const char* known) { return extension == QLatin1String(known); })
        == std::end(TemplateExtensions))
        throw AppError(QStringLiteral("The template \"%1\" is not a Word (.doc, .dot, .docx, .dotx) or OpenDocument (.odt, "
                                      ".ott, .fodt) file.")
                           .arg(Native(path)));
    const auto fail = [&](const QString& why) {
        return AppError(QStringLiteral("The template \"%1\" cannot be used: %2.").arg(Native(path), why));
    };
    // Opened without blocking, so that a FIFO there cannot hold the batch.
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        throw fail(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        throw fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(info.st_mode))
        throw fail(QStringLiteral("it is not a file"));
    if (info.st_size > TemplateSizeLimit)
        throw fail(QStringLiteral("it is larger than %1 MB").arg(TemplateSizeLimit / 1024 / 1024));
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw fail(file.errorString());
    const QByteArray bytes = file.read(TemplateSizeLimit + 1);
    if (file.error() != QFileDevice::NoError)
        throw fail(file.errorString());
    if (bytes.size() > TemplateSizeLimit)
        throw fail(QStringLiteral("it is larger than %1 MB").arg(TemplateSizeLimit / 1024 / 1024));
    if (const QString problem = ContentProblem(bytes, extension); !problem.isEmpty())
        throw fail(problem);
    return {bytes, QStringLiteral("template.") + extension};
}

QStringList FindTags(const QString& text)
{
    static const QRegularExpression tag(QStringLiteral("\\[[^\\[\\]\\n\\r]*[^\\[\\]\\s][^\\[\\]\\n\\r]*\\]"));
    QStringList tags;
    QSet<QString> seen;
    for (const QRegularExpressionMatch& match : tag.globalMatch(text)) {
        const QString found = match.captured();
        if (!seen.contains(found.toCaseFolded())) {
            seen.insert(found.toCaseFolded());
            tags << found;
        }
    }
    return tags;
}

namespace {
// Where a tag's text comes from: a field of the letter (its column, else the window's
// saved text or the letter's date), or a column that fills no field, by its key.
struct TagSource {
    QString tag;
    int field = -1;
    QString otherKey;
};

std::optional<TagSource> SourceOf(const QString& tag, const QSet<QString>& otherKeys)
{
    const QString name = tag.mid(1, tag.size() - 2);
    const QString key = ColumnKey(name);
    if (const int field = FieldOfColumn(name); field >= 0)
        return TagSource{tag, field, QString()};
    if (otherKeys.contains(key))
        return TagSource{tag, -1, key};
    const QString date = QString::fromLatin1(FieldTags[DateFieldIndex]);
    if (key == ColumnKey(date.mid(1, date.size() - 2)))
        return TagSource{tag, DateFieldIndex, QString()};
    return std::nullopt;
}

AppError UnknownTags(const QStringList& unknown)
{
    const bool one = unknown.size() == 1;
    return AppError(QStringLiteral("The template has %1 that no column of the list fills and no field of the window "
                                   "stands for: %2. Add %3 to the list, or take %4 out of the template.")
                        .arg(one ? QStringLiteral("a tag") : QStringLiteral("%1 tags").arg(unknown.size()),
                             unknown.join(QStringLiteral(", ")),
                             one ? QStringLiteral("a column of its name") : QStringLiteral("columns of their names"),
                             one ? QStringLiteral("the tag") : QStringLiteral("the tags")));
}
}

std::function<std::vector<TagText>(const LetterLine&)> ResolveTags(const QStringList& tags, const QStringList& otherColumns)
{
    QSet<QString> otherKeys;
    for (const QString& column : otherColumns)
        otherKeys.insert(ColumnKey(column));
    std::vector<TagSource> sources;
    QStringList unknown;
    for (const QString& tag : tags) {
        if (const std::optional<TagSource> source = SourceOf(tag, otherKeys))
            sources.push_back(*source);
        else
            unknown << tag;
    }
    if (!unknown.isEmpty())
        throw UnknownTags(unknown);
    return [sources](const LetterLine& line) {
        std::vector<TagText> texts;
        for (const TagSource& source : sources)
            texts.push_back({source.tag, source.field >= 0 ? line.fields[static_cast<std::size_t>(source.field)]
                                                           : line.otherValues.value(source.otherKey)});
        return texts;
    };
}

QStringList UnusedColumns(const QStringList& tags, const QStringList& otherColumns)
{
    QSet<QString> taken;
    for (const QString& tag : tags)
        taken.insert(ColumnKey(tag.mid(1, tag.size() - 2)));
    QStringList unused;
    for (const QString& column : otherColumns) {
        if (!taken.contains(ColumnKey(column)))
            unused << column;
    }
    return unused;
}
