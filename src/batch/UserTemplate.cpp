#include "UserTemplate.h"

#include "ConditionalText.h"
#include "LetterList.h"
#include "core/AppError.h"
#include "files/FileDescriptor.h"
#include "files/SafeFile.h"
#include "generation/Fields.h"
#include "generation/LetterFill.h"
#include "lists/ZipArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Why the bytes cannot be a file of that extension, from how such files begin; empty
// when they can.
QString ContentProblem(const QByteArray& bytes, const QString& extension, const QString& path)
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
        if (bytes.size() > TemplateMarkupLimit)
            return QStringLiteral("its text and markup are larger than %1 MB, more than a letter holds, and more than "
                                  "the office can lay out within the memory it may use").arg(TemplateMarkupLimit / 1024 / 1024);
    } else if (!bytes.startsWith("PK\x03\x04")) {
        return QStringLiteral("it is not a %1 file (a zip archive), which its name ends in .%2 for")
            .arg(extension.startsWith(QLatin1Char('d')) ? QStringLiteral("Word") : QStringLiteral("OpenDocument"), extension);
    } else {
        // Every part is weighed, not only those read here: the office unpacks them all.
        const ZipArchive archive(bytes, QStringLiteral("template \"%1\"").arg(QDir::toNativeSeparators(path)));
        if (archive.UnpackedBytes() > static_cast<quint64>(TemplateSizeLimit))
            return QStringLiteral("it unpacks to more than %1 MB, more than a letter holds").arg(TemplateSizeLimit / 1024 / 1024);
        // An OpenDocument file saved with a password holds its parts encrypted.
        for (const ZipEntry& entry : archive.Entries()) {
            if (entry.name == QLatin1String("META-INF/manifest.xml") && archive.Read(entry.name).contains("encryption-data"))
                return QStringLiteral("it is protected by a password; save it without one (in Writer: File, Save As, "
                                      "without \"Save with password\")");
        }
        const auto isMarkup = [](const QString& name) { return name.endsWith(QLatin1String(".xml")) || name.endsWith(QLatin1String(".rels")); };
        if (archive.UnpackedBytes(isMarkup) > static_cast<quint64>(TemplateMarkupLimit))
            return QStringLiteral("its text and markup unpack to more than %1 MB, more than a letter holds, and more than "
                                  "the office can lay out within the memory it may use").arg(TemplateMarkupLimit / 1024 / 1024);
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
                           .arg(QDir::toNativeSeparators(path)));
    const auto fail = [&](const QString& why) {
        return AppError(QStringLiteral("The template \"%1\" cannot be used: %2.").arg(QDir::toNativeSeparators(path), why));
    };
    // Opened once, without blocking, so that a FIFO there cannot hold the batch, and not
    // through a link, which whoever may write its folder could point at a file of the user's.
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0 && errno == ELOOP)
        throw fail(QStringLiteral("it is a symbolic link; name the file it leads to"));
    if (fd.Get() < 0)
        throw fail(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0)
        throw fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(info.st_mode))
        throw fail(QStringLiteral("it is not a file"));
    if (info.st_size > TemplateSizeLimit)
        throw fail(QStringLiteral("it is larger than %1 MB").arg(TemplateSizeLimit / 1024 / 1024));
    QFile file;
    if (!file.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw fail(file.errorString());
    const QByteArray bytes = file.read(TemplateSizeLimit + 1);
    if (file.error() != QFileDevice::NoError)
        throw fail(file.errorString());
    if (bytes.size() > TemplateSizeLimit)
        throw fail(QStringLiteral("it is larger than %1 MB").arg(TemplateSizeLimit / 1024 / 1024));
    if (const QString problem = ContentProblem(bytes, extension, path); !problem.isEmpty())
        throw fail(problem);
    return {bytes, QStringLiteral("template.") + extension};
}

namespace {
// The office would read the template as damaged, and say only that.
[[noreturn]] void NotWellFormed(const QXmlStreamReader& reader)
{
    QString error = reader.errorString();
    if (!error.endsWith(QLatin1Char('.')))
        error += QLatin1Char('.');
    throw AppError(QStringLiteral("The template is not well-formed XML, at line %1 of a part of it: %2").arg(reader.lineNumber()).arg(error));
}

constexpr char WordNamespace[] = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr char OpenDocumentText[] = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";

// The paragraphs' texts of a document part, each ending in a paragraph mark ("\r") as the
// office's text of a story has it: the text inside a paragraph's runs, spans and links, a
// line break as "\n", a paragraph in a text box as a paragraph of its own.
QString ParagraphsText(const QByteArray& xml, bool word)
{
    const QLatin1String space(word ? WordNamespace : OpenDocumentText);
    QXmlStreamReader reader(xml);
    QStringList open;
    QString text;
    while (!reader.atEnd()) {
        reader.readNext();
        const bool inSpace = reader.namespaceUri() == space;
        if (reader.isStartElement() && inSpace && (reader.name() == u"p" || (!word && reader.name() == u"h"))) {
            open << QString();
        } else if (reader.isEndElement() && inSpace && (reader.name() == u"p" || (!word && reader.name() == u"h"))) {
            if (!open.isEmpty())
                text += open.takeLast() + QLatin1Char('\r');
        } else if (reader.isStartElement() && inSpace && !open.isEmpty()) {
            const QStringView name = reader.name();
            if (word && name == u"t")
                open.last() += reader.readElementText();
            else if (name == u"tab")
                open.last() += QLatin1Char('\t');
            else if (!word && name == u"s")
                open.last() += QLatin1Char(' ');
            else if (name == (word ? QStringView(u"br") : QStringView(u"line-break")))
                open.last() += QLatin1Char('\n');
        } else if (reader.isCharacters() && !word && !open.isEmpty()) {
            open.last() += reader.text();
        }
    }
    if (reader.hasError())
        NotWellFormed(reader);
    return text;
}

// What the parts to be read unpack to is weighed first: a template from someone else may
// be made to unpack to far more than it holds.
void RefuseUnpackingBeyondLimit(const ZipArchive& archive, const std::function<bool(const QString&)>& isRead)
{
    if (archive.UnpackedBytes(isRead) > static_cast<quint64>(TemplateSizeLimit))
        throw AppError(QStringLiteral("The template's text unpacks to more than %1 MB, more than a letter holds.")
                           .arg(TemplateSizeLimit / 1024 / 1024));
}

// Whether the archive has a part of that name.
bool Holds(const ZipArchive& archive, const QString& name)
{
    return std::any_of(archive.Entries().begin(), archive.Entries().end(), [&](const ZipEntry& entry) { return entry.name == name; });
}

// The internal targets of the relationships in a Word package's relationship part rels,
// by the last word of their type ("officeDocument", "header"), as names of the package's
// parts: a target is relative to the folder of the part the relationships belong to.
std::vector<std::pair<QString, QString>> WordRelationships(const ZipArchive& archive, const QString& rels)
{
    std::vector<std::pair<QString, QString>> targets;
    if (!Holds(archive, rels))
        return targets;
    // "word/_rels/document.xml.rels" belongs to "word/document.xml", "_rels/.rels" to the package.
    const QString owner = QString(rels).remove(QStringLiteral("_rels/")).chopped(5);
    const QString base = owner.contains(QLatin1Char('/')) ? owner.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/') : QString();
    QXmlStreamReader reader(archive.Read(rels));
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement() || reader.name() != u"Relationship")
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (attributes.value(QLatin1String("TargetMode")) == u"External")
            continue;
        const QString target = attributes.value(QLatin1String("Target")).toString();
        const QString name = target.startsWith(QLatin1Char('/')) ? target.mid(1) : QDir::cleanPath(base + target);
        targets.emplace_back(attributes.value(QLatin1String("Type")).toString().section(QLatin1Char('/'), -1), name);
    }
    if (reader.hasError())
        NotWellFormed(reader);
    return targets;
}

// The parts of a Word package that hold text a letter shows, found as Word finds them:
// the main part the package's relationships name, and the headers, footers and notes the
// main part's relationships name, whatever the parts are called. Throws AppError when the
// package names no main part.
QSet<QString> WordStories(const ZipArchive& archive)
{
    QString main;
    for (const auto& [type, name] : WordRelationships(archive, QStringLiteral("_rels/.rels"))) {
        if (type == QLatin1String("officeDocument"))
            main = name;
    }
    if (main.isEmpty() || !Holds(archive, main))
        throw AppError(QStringLiteral("The template is no Word document: its package names no main part that it holds."));
    QSet<QString> stories = {main};
    const QString mainRels = (main.contains(QLatin1Char('/')) ? main.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/') : QString())
                             + QStringLiteral("_rels/") + main.section(QLatin1Char('/'), -1) + QStringLiteral(".rels");
    static const QStringList storyTypes = {QStringLiteral("header"), QStringLiteral("footer"), QStringLiteral("footnotes"),
                                           QStringLiteral("endnotes")};
    for (const auto& [type, name] : WordRelationships(archive, mainRels)) {
        if (storyTypes.contains(type))
            stories.insert(name);
    }
    return stories;
}
}

std::optional<QString> TextWithoutOffice(const QByteArray& bytes, const QString& workingName)
{
    const QString extension = QFileInfo(workingName).suffix();
    if (extension == QLatin1String("doc") || extension == QLatin1String("dot"))
        return std::nullopt;
    QString text;
    if (extension == QLatin1String("fodt")) {
        text = ParagraphsText(bytes, false);
    } else {
        const bool word = extension.startsWith(QLatin1Char('d'));
        const ZipArchive archive(bytes, QStringLiteral("template"));
        const QSet<QString> wordStories = word ? WordStories(archive) : QSet<QString>();
        const auto isStory = [&](const QString& name) {
            return word ? wordStories.contains(name) : name == QLatin1String("content.xml") || name == QLatin1String("styles.xml");
        };
        RefuseUnpackingBeyondLimit(archive, isStory);
        for (const ZipEntry& entry : archive.Entries()) {
            if (isStory(entry.name))
                text += ParagraphsText(archive.Read(entry.name), word);
        }
    }
    // Conditional texts out of place are refused as the office's reading would refuse them.
    FindConditionalTexts(text, QStringLiteral("the template's text"));
    return text;
}

namespace {
constexpr char XLinkNamespace[] = "http://www.w3.org/1999/xlink";
constexpr char RelationshipsNamespace[] = "http://schemas.openxmlformats.org/package/2006/relationships";

// A reference the office resolves outside the file: one with a scheme ("file:", "http:"),
// an absolute path, a path out of the package ("../"), and in a flat file, which has no
// package, any path.
bool LeadsOutside(const QString& reference, bool packaged)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    return (!packaged && !reference.isEmpty() && !reference.startsWith(QLatin1Char('#'))) || scheme.match(reference).hasMatch()
           || reference.startsWith(QLatin1Char('/')) || reference.startsWith(QLatin1String("../")) || reference.startsWith(QLatin1Char('\\'));
}

// What an OpenDocument element whose xlink:href is loaded into the document stands for.
QString LoadedElement(QStringView name)
{
    static const QHash<QString, QString> loaded = {
        {QStringLiteral("image"), QStringLiteral("a picture")},           {QStringLiteral("fill-image"), QStringLiteral("a picture")},
        {QStringLiteral("background-image"), QStringLiteral("a picture")}, {QStringLiteral("object"), QStringLiteral("an object")},
        {QStringLiteral("object-ole"), QStringLiteral("an object")},       {QStringLiteral("plugin"), QStringLiteral("an object")},
        {QStringLiteral("applet"), QStringLiteral("an object")},           {QStringLiteral("floating-frame"), QStringLiteral("a frame")},
        {QStringLiteral("section-source"), QStringLiteral("a section")},   {QStringLiteral("table-source"), QStringLiteral("a table")}};
    return loaded.value(name.toString());
}

void OpenDocumentLinks(const QByteArray& xml, bool packaged, std::vector<TemplateLink>& links)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        const QString what = LoadedElement(reader.name());
        const QString href = reader.attributes().value(QLatin1String(XLinkNamespace), QLatin1String("href")).toString();
        if (!what.isEmpty() && LeadsOutside(href, packaged))
            links.push_back({what, href});
    }
    if (reader.hasError())
        NotWellFormed(reader);
}

// The external targets of a Word part's relationships, hyperlinks aside.
void WordRelationshipLinks(const QByteArray& xml, std::vector<TemplateLink>& links)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement() || reader.name() != u"Relationship" || reader.namespaceUri() != QLatin1String(RelationshipsNamespace))
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        const QString type = attributes.value(QLatin1String("Type")).toString().section(QLatin1Char('/'), -1);
        if (attributes.value(QLatin1String("TargetMode")) == u"External" && type != QLatin1String("hyperlink"))
            links.push_back({type == QLatin1String("image") ? QStringLiteral("a picture") : QStringLiteral("an item (%1)").arg(type),
                             attributes.value(QLatin1String("Target")).toString()});
    }
    if (reader.hasError())
        NotWellFormed(reader);
}

// The fields among instructions that bring in another file; each instruction follows
// start (a pattern: a Word 97-2003 file's field-begin mark), or a word boundary when start
// is empty.
void FieldLinks(const QString& instructions, const QString& start, std::vector<TemplateLink>& links)
{
    const QRegularExpression field((start.isEmpty() ? QStringLiteral("\\b") : start + QStringLiteral("\\s*")) +
                                       QStringLiteral("(INCLUDEPICTURE|INCLUDETEXT|LINK|DDE|DDEAUTO|IMPORT)\\s+(\"[^\"]*\"|\\S+)"),
                                   QRegularExpression::CaseInsensitiveOption);
    for (const QRegularExpressionMatch& match : field.globalMatch(instructions))
        links.push_back({QStringLiteral("a field ") + match.captured(1).toUpper(), match.captured(2).remove(QLatin1Char('"'))});
}

// The fields of a Word part that bring in another file when they are updated.
void WordFieldLinks(const QByteArray& xml, std::vector<TemplateLink>& links)
{
    QXmlStreamReader reader(xml);
    QString instructions;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.namespaceUri() == QLatin1String(WordNamespace)) {
            if (reader.name() == u"instrText")
                instructions += reader.readElementText();
            else if (reader.name() == u"fldSimple")
                instructions += QLatin1Char(' ') + reader.attributes().value(QLatin1String(WordNamespace), QLatin1String("instr")).toString() + QLatin1Char(' ');
            else if (reader.name() == u"fldChar" && reader.attributes().value(QLatin1String(WordNamespace), QLatin1String("fldCharType")) == u"begin")
                instructions += QLatin1Char(' ');
        }
    }
    if (reader.hasError())
        NotWellFormed(reader);
    FieldLinks(instructions, QString(), links);
}

// A Word 97-2003 file keeps its fields' instructions in its text, each after the field-begin
// mark (U+0013), as 8-bit or as UTF-16 text: both are looked through.
void WordBinaryLinks(const QByteArray& bytes, std::vector<TemplateLink>& links)
{
    const QString fieldBegin = QStringLiteral("\\x{13}");
    FieldLinks(QString::fromLatin1(bytes), fieldBegin, links);
    // The binary parts between the texts read as halves of characters, which are replaced:
    // a regular expression matches nothing in a text that holds them.
    for (qsizetype offset : {0, 1}) {
        const QByteArrayView aligned = QByteArrayView(bytes).sliced(std::min(offset, bytes.size()));
        QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(aligned.data()), aligned.size() / 2);
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                ++i;
            else if (text[i].isSurrogate())
                text[i] = QChar::ReplacementCharacter;
        }
        FieldLinks(text, fieldBegin, links);
    }
}
}

std::vector<TemplateLink> TemplateLinks(const QByteArray& bytes, const QString& workingName, const QString& path)
{
    const QString extension = QFileInfo(workingName).suffix();
    std::vector<TemplateLink> links;
    if (extension == QLatin1String("doc") || extension == QLatin1String("dot")) {
        WordBinaryLinks(bytes, links);
    } else if (extension == QLatin1String("fodt")) {
        OpenDocumentLinks(bytes, false, links);
    } else {
        const bool word = extension.startsWith(QLatin1Char('d'));
        const ZipArchive archive(bytes, QStringLiteral("template \"%1\"").arg(QDir::toNativeSeparators(path)));
        const QSet<QString> wordStories = word ? WordStories(archive) : QSet<QString>();
        const auto isPart = [&](const QString& name) {
            return word ? name.endsWith(QLatin1String(".rels")) || wordStories.contains(name)
                        : name == QLatin1String("content.xml") || name == QLatin1String("styles.xml");
        };
        RefuseUnpackingBeyondLimit(archive, isPart);
        for (const ZipEntry& entry : archive.Entries()) {
            if (!isPart(entry.name))
                continue;
            const QByteArray xml = archive.Read(entry.name);
            if (!word)
                OpenDocumentLinks(xml, true, links);
            else if (entry.name.endsWith(QLatin1String(".rels")))
                WordRelationshipLinks(xml, links);
            else
                WordFieldLinks(xml, links);
        }
    }
    std::vector<TemplateLink> each;
    for (const TemplateLink& link : links) {
        if (std::none_of(each.begin(), each.end(), [&](const TemplateLink& seen) { return seen.what == link.what && seen.target == link.target; }))
            each.push_back(link);
    }
    return each;
}

QUrl LinkTarget(const QString& link, const QString& path)
{
    const QString extension = QFileInfo(path).suffix();
    const bool package = extension == QLatin1String("odt") || extension == QLatin1String("ott");
    const QUrl base = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath() + (package ? QStringLiteral("/") : QString()));
    return base.resolved(QUrl(link)).adjusted(QUrl::NormalizePathSegments);
}

std::optional<LinkedPicture> PictureInside(const QString& link, const QUrl& target, const QString& folder)
{
    const QString canonicalFolder = folder.isEmpty() ? QString() : QFileInfo(folder).canonicalFilePath();
    const QFileInfo file(target.isLocalFile() ? target.toLocalFile() : QString());
    // The file itself, wherever links on the way lead, must lie inside the folder; it is read
    // at that path through no link, so that nothing put in its place meanwhile is taken.
    const QString canonical = file.canonicalFilePath();
    if (canonicalFolder.isEmpty() || !file.isFile()
        || !canonical.startsWith(canonicalFolder + (canonicalFolder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/"))))
        return std::nullopt;
    return LinkedPicture{link, canonical, ReadFileOnce(canonical, FileOwner::Anyone, PictureSizeLimit, true)};
}

AppError OutsideLinks(const QString& path, const QStringList& links)
{
    return AppError(QStringLiteral("The template \"%1\" brings in what is outside it, which its letters must not show: %2. "
                                   "Embed it in the template (in Writer: Edit, Links to External Files, Break Link; in "
                                   "Word: File, Info, Edit Links to Files, Break Link), or take it out; a picture linked "
                                   "to a file of yours can also be embedded by the batch, with --embed-links and the "
                                   "folder that holds the file.")
                        .arg(QDir::toNativeSeparators(path), links.join(QStringLiteral("; "))));
}

std::vector<LinkedPicture> CheckLinks(const QByteArray& bytes, const QString& workingName, const QString& path,
                                      const QString& embedFolder)
{
    std::vector<LinkedPicture> pictures;
    QStringList refused;
    for (const TemplateLink& link : TemplateLinks(bytes, workingName, path)) {
        std::optional<LinkedPicture> picture;
        if (link.what == QLatin1String("a picture"))
            picture = PictureInside(link.target, LinkTarget(link.target, path), embedFolder);
        if (picture)
            pictures.push_back(std::move(*picture));
        else
            refused << (link.what.startsWith(QLatin1String("a field ")) ? QStringLiteral("%1 of \"%2\"") : QStringLiteral("%1 linked to \"%2\""))
                           .arg(link.what, link.target);
    }
    if (!refused.isEmpty())
        throw OutsideLinks(path, refused);
    return pictures;
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
// How many unknown tags a refusal names; the rest are counted.
constexpr qsizetype MostTagsNamed = 20;

AppError UnknownTags(const QStringList& unknown)
{
    const bool one = unknown.size() == 1;
    QString named = unknown.mid(0, MostTagsNamed).join(QStringLiteral(", "));
    if (unknown.size() > MostTagsNamed)
        named += QStringLiteral(" and %1 more").arg(unknown.size() - MostTagsNamed);
    return AppError(QStringLiteral("The template has %1 that no column of the list fills and no field of the window "
                                   "stands for: %2. Add %3 to the list, or take %4 out of the template.")
                        .arg(one ? QStringLiteral("a tag") : QStringLiteral("%1 tags").arg(unknown.size()),
                             named,
                             one ? QStringLiteral("a column of its name") : QStringLiteral("columns of their names"),
                             one ? QStringLiteral("the tag") : QStringLiteral("the tags")));
}
}

std::function<std::vector<TagText>(const LetterLine&)> ResolveTags(const QStringList& tags, const QSet<QString>& columnKeys)
{
    std::vector<std::pair<QString, ValueOf>> sources;
    QStringList unknown;
    for (const QString& tag : tags) {
        if (ValueOf value = ValueNamed(tag.mid(1, tag.size() - 2), columnKeys))
            sources.emplace_back(tag, std::move(value));
        else
            unknown << tag;
    }
    if (!unknown.isEmpty())
        throw UnknownTags(unknown);
    return [sources](const LetterLine& line) {
        std::vector<TagText> texts;
        for (const auto& [tag, value] : sources)
            texts.push_back({tag, value(line)});
        return texts;
    };
}

QStringList UnusedColumns(const QStringList& tags, const std::vector<ListColumn>& columns)
{
    QSet<QString> taken;
    for (const QString& tag : tags)
        taken.insert(ColumnKey(tag.mid(1, tag.size() - 2)));
    QStringList unused;
    for (const ListColumn& column : columns) {
        if (column.field < 0 && !column.mapped && !taken.contains(ColumnKey(column.name)))
            unused << column.name;
    }
    return unused;
}
