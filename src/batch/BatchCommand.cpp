#include "BatchCommand.h"

#include "ConditionalText.h"
#include "LetterSelection.h"
#include "OfficeCount.h"
#include "UserTemplate.h"
#include "core/AppError.h"
#include "core/CommandLine.h"
#include "files/FileDescriptor.h"
#include "files/Paths.h"
#include "files/SafeFile.h"
#include "generation/LetterFill.h"
#include "lists/ListReader.h"
#include "lists/SpreadsheetReader.h"
#include "resources/Resources.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QHash>

#include <algorithm>
#include <climits>
#include <functional>
#include <utility>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The name of the built-in letter as the run hands it to its offices.
constexpr char BuiltInTemplateName[] = "template.dot";

// The largest number of offices the command takes.
constexpr int MaxOffices = 64;

// Puts an option's value (empty for an option without one) into the command; throws
// AppError with a one-line message when the value cannot be used.
using ReadOption = std::function<void(const QString& value, BatchCommand& command)>;

// An option of the command: how it is written and described, and where its value goes.
struct CommandOption {
    QCommandLineOption option;
    ReadOption read;
};

// An option without a value, which sets flag.
ReadOption SetFlag(bool BatchOptions::*flag)
{
    return [flag](const QString&, BatchCommand& command) {
        command.options.*flag = true;
    };
}

ReadOption SetFlag(bool BatchCommand::*flag)
{
    return [flag](const QString&, BatchCommand& command) {
        command.*flag = true;
    };
}

// An option whose value is taken as it stands, into text of the command or of its options.
ReadOption SetText(QString BatchCommand::*text)
{
    return [text](const QString& value, BatchCommand& command) {
        command.*text = value;
    };
}

ReadOption SetText(QString BatchOptions::*text)
{
    return [text](const QString& value, BatchCommand& command) {
        command.options.*text = value;
    };
}

void ReadOffices(const QString& value, BatchCommand& command)
{
    bool ok = false;
    command.options.offices = value.toInt(&ok);
    if (!ok || command.options.offices < 1 || command.options.offices > MaxOffices) {
        throw AppError(QStringLiteral("--offices takes a number from 1 to %1, not '%2'.").arg(MaxOffices).arg(value));
    }
}

void ReadEncoding(const QString& value, BatchCommand& command)
{
    command.encoding = value;
}

void ReadSeparator(const QString& value, BatchCommand& command)
{
    const QString name = value.toLower();
    if (name == QLatin1String(",") || name == QLatin1String("comma"))
        command.separator = QLatin1Char(',');
    else if (name == QLatin1String(";") || name == QLatin1String("semicolon"))
        command.separator = QLatin1Char(';');
    else if (name == QLatin1String("\t") || name == QLatin1String("\\t") || name == QLatin1String("tab"))
        command.separator = QLatin1Char('\t');
    else {
        throw AppError(QStringLiteral("--separator takes comma, semicolon or tab, not '%1'.").arg(value));
    }
}

void ReadDate(const QString& value, BatchCommand& command)
{
    static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    command.options.date = QDate::fromString(value, Qt::ISODate);
    if (!form.match(value).hasMatch() || !command.options.date.isValid()) {
        throw AppError(QStringLiteral("--date takes a date as YYYY-MM-DD, not '%1'.").arg(value));
    }
}

// --pdf is --format doc,pdf; with --format (read before it) the two are added to its files.
void ReadPdf(const QString&, BatchCommand& command)
{
    for (const LetterFormat format : {LetterFormat::Doc, LetterFormat::Pdf}) {
        if (std::find(command.options.formats.begin(), command.options.formats.end(), format) == command.options.formats.end())
            command.options.formats.push_back(format);
    }
}

// A format must show some part of the date: one that shows two dates that differ in day,
// month and year alike the same way shows none.
void ReadDateFormat(const QString& value, BatchCommand& command)
{
    if (LetterDate(QDate(2001, 2, 3), value) == LetterDate(QDate(2012, 11, 24), value)) {
        throw AppError(QStringLiteral("--date-format '%1' shows no part of the date; use the letters d, M and y, as in "
                                      "'d MMMM yyyy'.")
                           .arg(value));
    }
    command.options.dateFormat = value;
}

void ReadLanguage(const QString& value, BatchCommand& command)
{
    const QLocale locale(QString(value).replace(QLatin1Char('-'), QLatin1Char('_')));
    if (locale.language() == QLocale::C && value.compare(QLatin1String("C"), Qt::CaseInsensitive) != 0) {
        throw AppError(QStringLiteral("--language takes a language such as de, fr_CH or en_GB, not '%1'.").arg(value));
    }
    command.options.language = locale;
}

void ReadMap(const QString& value, BatchCommand& command)
{
    const qsizetype equals = value.lastIndexOf(QLatin1Char('='));
    const QString column = value.left(equals).trimmed();
    const QString tag = TagName(value.mid(equals + 1));
    if (equals < 0 || column.isEmpty() || tag.isEmpty()) {
        throw AppError(QStringLiteral("--map takes COLUMN=FIELD, such as \"Ort=City2\", not '%1'.").arg(value));
    }
    command.map.append({column, tag});
}

void ReadAllowedEmpty(const QString& value, BatchCommand& command)
{
    for (const QString& part : value.split(QLatin1Char(','))) {
        if (TagName(part).isEmpty()) {
            throw AppError(QStringLiteral("--allow-empty takes fields or tags, comma-separated, such as YourTitle,ST, not '%1'.").arg(value));
        }
        command.allowedEmpty.insert(ColumnKey(TagName(part)));
    }
}

void ReadFormats(const QString& value, BatchCommand& command)
{
    command.options.formats = ParseFormats(value);
}

// The part of PDF/A --pdf-a=N asks for: the parser takes no option that may or may not have
// a value, so that form is passed to it as this hidden one.
const QCommandLineOption& PdfAPartOption()
{
    static const QCommandLineOption option = [] {
        QCommandLineOption part(QStringLiteral("pdf-a-part"), QString(), QStringLiteral("N"));
        part.setFlags(QCommandLineOption::HiddenFromHelp);
        return part;
    }();
    return option;
}

// Every option the command takes, in the order --help lists them; an option is added here
// and nowhere else.
const std::vector<CommandOption>& CommandOptions()
{
    static const std::vector<CommandOption> options = {
        {QCommandLineOption(QStringLiteral("format"),
                            QStringLiteral("the files of each letter, any of doc, docx, odt and pdf, comma-separated "
                                           "(default: doc)"),
                            QStringLiteral("LIST")),
         ReadFormats},
        {QCommandLineOption(QStringLiteral("pdf"), QStringLiteral("a PDF of each letter beside it as well: --format doc,pdf")),
         ReadPdf},
        {QCommandLineOption(QStringLiteral("merged"),
                            QStringLiteral("every letter made, in list order, in one PDF for printing as well"),
                            QStringLiteral("FILE.pdf")),
         SetText(&BatchOptions::merged)},
        {QCommandLineOption(QStringLiteral("pdf-a"),
                            QStringLiteral("every PDF (each letter's and the merged file) an archivable PDF/A-2b, its "
                                           "fonts embedded; --pdf-a=3 for PDF/A-3b")),
         [](const QString&, BatchCommand& command) {
             if (command.options.archivePart == 0)
                 command.options.archivePart = 2;
         }},
        {PdfAPartOption(),
         [](const QString& value, BatchCommand& command) {
             if (value != QLatin1String("2") && value != QLatin1String("3"))
                 throw AppError(QStringLiteral("--pdf-a takes the part of PDF/A, 2 or 3 (as --pdf-a=3), not '%1'.").arg(value));
             command.options.archivePart = value.toInt();
         }},
        {QCommandLineOption(QStringLiteral("watermark"),
                            QStringLiteral("TEXT across every page of each letter's PDF, light enough to read the "
                                           "letter through, such as DRAFT (not on the pages --append adds)"),
                            QStringLiteral("TEXT")),
         SetText(&BatchOptions::watermark)},
        {QCommandLineOption(QStringLiteral("append"),
                            QStringLiteral("the pages of this PDF (your terms and conditions) follow each letter's own "
                                           "in its PDF and in the merged file; may be given again"),
                            QStringLiteral("FILE.pdf")),
         [](const QString& value, BatchCommand& command) { command.options.appended.push_back({value, {}}); }},
        {QCommandLineOption(QStringLiteral("template"),
                            QStringLiteral("fill this letter template of yours (.doc .dot .docx .dotx .odt .ott .fodt) "
                                           "instead of the built-in letter: each [Tag] in it takes the list's column "
                                           "of its name"),
                            QStringLiteral("FILE")),
         SetText(&BatchCommand::templatePath)},
        {QCommandLineOption(QStringLiteral("embed-links"),
                            QStringLiteral("the pictures your template links to files inside FOLDER are embedded in "
                                           "the letters; any other link in the template refuses it"),
                            QStringLiteral("FOLDER")),
         SetText(&BatchCommand::embedLinksFolder)},
        {QCommandLineOption(QStringLiteral("items"),
                            QStringLiteral("the line items of the letters: a sheet of the list's workbook, by its name, or "
                                           "a list of its own (CSV, .xlsx, .ods); each item belongs to the letter whose key "
                                           "it shares, and a table row of the template with the items' [Tags] is written "
                                           "once per item; [SUM Column] adds up a column as its cells show it, [COUNT] "
                                           "counts the items"),
                            QStringLiteral("SOURCE")),
         SetText(&BatchCommand::itemsSource)},
        {QCommandLineOption(QStringLiteral("items-key"),
                            QStringLiteral("the column that tells whose each item is, in both lists, or LIST-COLUMN=ITEMS-COLUMN "
                                           "(default: the one column both have)"),
                            QStringLiteral("COLUMN")),
         [](const QString& value, BatchCommand& command) {
             command.itemsKey = ParseItemsKey(value);
             if (!command.itemsKey)
                 throw AppError(QStringLiteral("--items-key takes COLUMN or LIST-COLUMN=ITEMS-COLUMN, such as "
                                               "\"Nummer=Angebot\", not '%1'.")
                                    .arg(value));
         }},
        {QCommandLineOption(QStringLiteral("allow-no-items"),
                            QStringLiteral("make the letters whose key has no items as well, their item rows left out "
                                           "(else the run stops before any letter, unless the template shows them a text "
                                           "of their own with [IF COUNT = 0])")),
         SetFlag(&BatchCommand::allowNoItems)},
        {QCommandLineOption(QStringLiteral("map"),
                            QStringLiteral("the list's column COLUMN fills the letter's field (or your template's tag) "
                                           "FIELD, whatever its name says; may be given again for other columns"),
                            QStringLiteral("COLUMN=FIELD")),
         ReadMap},
        {QCommandLineOption(QStringLiteral("sender"),
                            QStringLiteral("take the sender, and every field the list has no column for, from this "
                                           "settings file (a copy of ~/.config/Kestrelworks.ini, which Inkhaven's "
                                           "window saves) instead of yours"),
                            QStringLiteral("FILE")),
         SetText(&BatchCommand::senderFile)},
        {QCommandLineOption(QStringLiteral("allow-empty"),
                            QStringLiteral("make the letters even though these fields or tags, comma-separated, would "
                                           "be empty in every letter (else the run stops before any letter)"),
                            QStringLiteral("FIELDS")),
         ReadAllowedEmpty},
        {QCommandLineOption(QStringLiteral("dry-run"),
                            QStringLiteral("only tell what the run would do: the rows, which column fills which field, "
                                           "every letter's files and the rows that give none; starts no office, makes "
                                           "no file, and exits as the run would")),
         SetFlag(&BatchCommand::dryRun)},
        {QCommandLineOption(QStringLiteral("name"),
                            QStringLiteral("name the files after columns, such as \"{CompanyName} - {RecipientName}\" "
                                           "(default: the row number and the company or recipient); of two rows that "
                                           "give one name, the later gets its row number as well"),
                            QStringLiteral("PATTERN")),
         SetText(&BatchCommand::namePattern)},
        {QCommandLineOption(QStringLiteral("where"),
                            QStringLiteral("only the rows whose COLUMN (or field) is VALUE, ignoring case and surrounding "
                                           "spaces; also COLUMN!=VALUE, \"COLUMN is empty\", \"COLUMN is not empty\"; may be "
                                           "given again, and every one must hold; the letters keep the names a run of "
                                           "the whole list gives them"),
                            QStringLiteral("CONDITION")),
         [](const QString& value, BatchCommand& command) {
             const std::optional<RowCondition> condition = RowConditionOf(value);
             if (!condition)
                 throw AppError(QStringLiteral("--where takes COLUMN=VALUE, COLUMN!=VALUE, \"COLUMN is empty\" or "
                                               "\"COLUMN is not empty\", not '%1'.")
                                    .arg(value));
             command.where.push_back(*condition);
         }},
        {QCommandLineOption(QStringLiteral("lines"),
                            QStringLiteral("only these rows of the list, such as 2-50,75,100- (rows as a spreadsheet "
                                           "program numbers them: the column names are row 1)"),
                            QStringLiteral("RANGES")),
         [](const QString& value, BatchCommand& command) { command.lines = ParseRowRanges(value); }},
        {QCommandLineOption(QStringLiteral("shard"),
                            QStringLiteral("only the K-th of N parts of the list, for N runs side by side (on as many "
                                           "machines, into one folder): disjoint, together the whole list, each letter "
                                           "named as in one run"),
                            QStringLiteral("K/N")),
         [](const QString& value, BatchCommand& command) { command.shard = ParseShard(value); }},
        {QCommandLineOption(QStringLiteral("keep-empty-paragraphs"),
                            QStringLiteral("keep a paragraph whose tags are all empty as a blank line (else it is left "
                                           "out of the letter, as an address line without text)")),
         SetFlag(&BatchOptions::keepEmptyParagraphs)},
        {QCommandLineOption(QStringLiteral("force"),
                            QStringLiteral("replace files that are already there (else the row is skipped)")),
         SetFlag(&BatchOptions::force)},
        {QCommandLineOption(QStringLiteral("offices"),
                            QStringLiteral("how many offices make letters side by side (default: one per CPU the "
                                           "process may use, within its control group's CPU and memory limits)"),
                            QStringLiteral("N")),
         ReadOffices},
        {QCommandLineOption(QStringLiteral("encoding"),
                            QStringLiteral("the encoding of a text list, such as Windows-1250 or ISO-8859-15 (default: "
                                           "UTF-8, or UTF-16 with a byte-order mark; other bytes as Windows-1252)"),
                            QStringLiteral("NAME")),
         ReadEncoding},
        {QCommandLineOption(QStringLiteral("separator"),
                            QStringLiteral("what separates the values of a text list: comma, semicolon or tab "
                                           "(default: the one that splits its first lines alike)"),
                            QStringLiteral("SEP")),
         ReadSeparator},
        {QCommandLineOption(QStringLiteral("date"), QStringLiteral("the letter's date (default: today)"),
                            QStringLiteral("YYYY-MM-DD")),
         ReadDate},
        {QCommandLineOption(QStringLiteral("date-format"),
                            QStringLiteral("how the letter writes its date, in its text and in the header of the pages "
                                           "after the first, as 'd MMMM yyyy' (default: the short date of the language "
                                           "in the text, as the window writes it, and the template's own in the header)"),
                            QStringLiteral("FORMAT")),
         ReadDateFormat},
        {QCommandLineOption(QStringLiteral("language"),
                            QStringLiteral("the language of the letter's dates, its month and day names and short date, "
                                           "such as de or fr_CH (default: your locale, from LANG or LC_TIME); German "
                                           "writes the date as German letters do, 8. Dezember 2026, unless --date-format "
                                           "says otherwise"),
                            QStringLiteral("LANG")),
         ReadLanguage},
    };
    return options;
}

// The parser of the command's options and arguments, with their descriptions for --help.
void Describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Makes the letter for every row of LIST and saves each as a Word 97-2003 document\n"
                       "in OUTPUT-FOLDER, named after the row number and the recipient's company or name.\n"
                       "The first row of the list names the columns, in any letter case, with or without\n"
                       "spaces, underscores or hyphens. A list is of recipients: Name, Title, Company and\n"
                       "address columns that do not say whose (Street Address, City, State, ZIP) fill the\n"
                       "recipient's fields; the sender's take only columns named as the sender's (YourName,\n"
                       "Your Title, Sender City), or StreetAddress, City, ST and ZIPCode while the list has\n"
                       "the recipient's City2... as well; --map decides otherwise. A field without a column\n"
                       "takes the value saved by Inkhaven's window (or --sender's file); one that would be\n"
                       "empty in every letter stops the run unless --allow-empty names it. Rows are numbered\n"
                       "as a spreadsheet numbers them. A list is a text file (CSV, or values separated by\n"
                       "semicolons or tabs), read as it goes however long it is, one record of at most %1\n"
                       "characters; or a spreadsheet (.xlsx or .ods: its first sheet, each cell as it shows)\n"
                       "of at most %2 MB, unpacked.")
            .arg(MaxRecordChars)
            .arg(MaxSpreadsheetBytes / (1024 * 1024)));
    for (const CommandOption& option : CommandOptions())
        parser.addOption(option.option);
    parser.addOption(HelpOption());
    parser.addOption(VersionOption());
    parser.addPositionalArgument(QStringLiteral("LIST"),
                                 QStringLiteral("the list of recipients: a CSV, .xlsx or .ods file; - for standard input"));
    parser.addPositionalArgument(QStringLiteral("OUTPUT-FOLDER"), QStringLiteral("where the letters go; made when missing"));
}

// A text the letter shows: a field of the built-in letter, or a tag of the user's template,
// and where each line's text for it comes from.
struct ShownText {
    QString tag;
    NameSource source;
};

QString Described(const ShownText& shown)
{
    return shown.source.field >= 0 && shown.source.columnKey.isEmpty()
               ? QStringLiteral("%1 (%2)").arg(FieldMeaning(shown.source.field), shown.tag)
               : shown.tag;
}

// The sender's and the recipient's fields, which the built-in letter shows.
std::vector<ShownText> BuiltInLetterShows()
{
    std::vector<ShownText> shown;
    for (const int field : FieldsInLetterOrder)
        shown.push_back({QString::fromLatin1(FieldTags[static_cast<std::size_t>(field)]), {QString(), field}});
    return shown;
}

std::vector<ShownText> TemplateShows(const QStringList& tags, const QSet<QString>& columnKeys)
{
    std::vector<ShownText> shown;
    for (const QString& tag : tags)
        shown.push_back({tag, SourceNamed(tag.mid(1).chopped(1), columnKeys)});
    return shown;
}

// No letter is made with a hole: a text the letter shows that every usable line of the whole
// list leaves empty (the sender, when none was saved) stops the run before any letter,
// unless the command allows it. The fields without a column were read from senderFile, or
// from the window's settings when it is empty.
void RefuseHoles(const std::vector<ShownText>& shown, const EmptyCounts& whole, const QSet<QString>& allowed,
                 const QString& senderFile)
{
    QStringList holes;
    QStringList names;
    for (const ShownText& each : shown) {
        const QString name = each.tag.mid(1).chopped(1);
        if (whole.lines > 0 && whole.Of(each.source) == whole.lines && !allowed.contains(ColumnKey(name))) {
            holes << Described(each);
            names << name;
        }
    }
    if (holes.isEmpty())
        return;
    const bool one = holes.size() == 1;
    holes.front()[0] = holes.front()[0].toUpper();
    const QString them = one ? QStringLiteral("it") : QStringLiteral("them");
    const QString saved = senderFile.isEmpty()
                              ? QStringLiteral("Inkhaven's window saved no text for %1").arg(them)
                              : QStringLiteral("the settings file \"%1\" holds none for %2").arg(QDir::toNativeSeparators(senderFile), them);
    throw AppError(QStringLiteral("%1 would be empty in every letter: no row of the list gives %2 a text, and %3. Fill "
                                  "%2 from a column with --map COLUMN=%4, type %2 into Inkhaven's window or give a "
                                  "settings file that holds %2 with --sender FILE, or make the letters without %2 with "
                                  "--allow-empty %5.")
                       .arg(holes.join(QStringLiteral(", ")), them, saved, one ? names.front() : QStringLiteral("FIELD"),
                            names.join(QLatin1Char(','))));
}

// "3 letters without the recipient's company ([CompanyName])", for each text some (not all)
// of the run's letters leave empty.
QStringList PartlyEmpty(const std::vector<ShownText>& shown, const EmptyCounts& run)
{
    QStringList notes;
    for (const ShownText& each : shown) {
        const qsizetype empty = run.Of(each.source);
        if (empty > 0 && empty < run.lines)
            notes << QStringLiteral("%1 without %2").arg(empty == 1 ? QStringLiteral("1 letter") : QStringLiteral("%1 letters").arg(empty),
                                                          Described(each));
    }
    return notes;
}

// What each tag of the user's template takes: a column, a field's column, or the text saved
// for a field.
QStringList TagPlan(const std::vector<ShownText>& shown, const std::vector<ListColumn>& columns)
{
    const auto column = [&columns](const std::function<bool(const ListColumn&)>& matches) {
        const auto found = std::find_if(columns.begin(), columns.end(), matches);
        return found == columns.end() ? QString() : found->name;
    };
    QStringList lines;
    for (const ShownText& each : shown) {
        const NameSource& source = each.source;
        const QString name = source.field < 0 ? column([&](const ListColumn& c) { return c.keys.contains(source.columnKey); })
                                              : column([&](const ListColumn& c) { return c.field == source.field; });
        if (!name.isEmpty())
            lines << QStringLiteral("%1 takes the column \"%2\"").arg(each.tag, name);
        else if (source.field == DateFieldIndex)
            lines << QStringLiteral("%1 takes the letter's date").arg(each.tag);
        else
            lines << QStringLiteral("%1 takes the text saved for %2").arg(each.tag, FieldMeaning(source.field));
    }
    return lines;
}

// The list at path ("-" for standard input) opened for reading more than once: the file
// itself when it is one, else what it gives (standard input, a pipe, a device) copied first
// into a file without a name in the private working folder. One that goes on past
// MaxStandardInputBytes is refused there, before it fills the disk.
FileDescriptor OpenList(const QString& path)
{
    const bool standardInput = path == QLatin1String("-");
    const QString name = standardInput ? QStringLiteral("on standard input") : QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(path));
    const auto fail = [&](const QString& what) {
        return AppError(QStringLiteral("The list %1 cannot be %2: %3.").arg(name, what, QString::fromLocal8Bit(std::strerror(errno))));
    };
    // A named list is opened once, and a file not through a link, which whoever may write
    // its folder could point at a file of the user's; a link to a stream (<(command),
    // /dev/stdin) is followed.
    const QByteArray native = QFile::encodeName(path);
    FileDescriptor source(standardInput ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0) : ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    bool throughLink = false;
    if (!standardInput && source.Get() < 0 && errno == ELOOP) {
        source = FileDescriptor(::open(native.constData(), O_RDONLY | O_CLOEXEC));
        throughLink = true;
    }
    struct stat info {};
    if (source.Get() < 0 || ::fstat(source.Get(), &info) != 0)
        throw fail(QStringLiteral("read"));
    if (throughLink && S_ISREG(info.st_mode))
        throw AppError(QStringLiteral("The list %1 is a symbolic link; name the file it leads to.").arg(name));
    if (S_ISREG(info.st_mode))
        return source;
    const QString folder = WorkingFolder();
    FileDescriptor spool(::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (spool.Get() < 0) {
        // A file system without unnamed files: a named one, whose name goes at once.
        QByteArray spoolName = QFile::encodeName(JoinPath(folder, QStringLiteral("list-XXXXXX")));
        spool = FileDescriptor(::mkostemp(spoolName.data(), O_CLOEXEC));
        if (spool.Get() >= 0)
            ::unlink(spoolName.constData());
    }
    if (spool.Get() < 0)
        throw fail(QStringLiteral("kept for reading in \"%1\"").arg(QDir::toNativeSeparators(folder)));
    std::vector<char> buffer(1024 * 1024);
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::read(source.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw fail(QStringLiteral("read"));
        if (got == 0)
            break;
        total += got;
        if (total > MaxStandardInputBytes)
            throw AppError(QStringLiteral("The list %1 is longer than %2 MB, the most taken from standard input, a pipe or a "
                                          "device; save it to a file and name the file instead.")
                               .arg(name)
                               .arg(MaxStandardInputBytes / (1024 * 1024)));
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(spool.Get(), buffer.data() + written, static_cast<size_t>(got - written));
            if (put < 0 && errno != EINTR)
                throw fail(QStringLiteral("kept for reading in \"%1\"").arg(QDir::toNativeSeparators(folder)));
            written += std::max<ssize_t>(put, 0);
        }
    }
    return spool;
}

// The template of the user's, read and refused when it links to what is outside it, but
// for the pictures it may link to, which notes name.
UserTemplateFile CheckedUserTemplate(const BatchCommand& command, QStringList& notes)
{
    UserTemplateFile file = ReadUserTemplate(command.templatePath);
    file.pictures = CheckLinks(file.bytes, file.workingName, command.templatePath, command.embedLinksFolder);
    QStringList files;
    for (const LinkedPicture& picture : file.pictures)
        files << QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(picture.file));
    if (!files.isEmpty())
        notes << QStringLiteral("The letters hold the pictures the template links to: %1.").arg(files.join(QStringLiteral(", ")));
    return file;
}

// The keys of the columns whose values a letter, its name or the choice of rows needs beyond
// the fields: those the name pattern's braces, the template's tags, --where and the items'
// key name. Every
// column's while the template's tags are known only once the office reads it (a Word
// 97-2003 file).
std::optional<QSet<QString>> ShownColumnKeys(const BatchCommand& command, const std::optional<QStringList>& tags,
                                             const std::optional<ItemsKey>& itemsKey = std::nullopt)
{
    if (!command.templatePath.isEmpty() && !tags)
        return std::nullopt;
    QSet<QString> keys;
    for (const QString& name : NamePatternNames(command.namePattern))
        keys.insert(ColumnKey(name));
    for (const RowCondition& condition : command.where)
        keys.insert(ColumnKey(condition.name));
    for (const QString& tag : tags.value_or(QStringList())) {
        const std::optional<RowCondition> condition = MarkerCondition(tag);
        keys.insert(ColumnKey(condition ? condition->name : TagName(tag)));
    }
    if (itemsKey)
        keys.insert(ColumnKey(itemsKey->listColumn));
    return keys;
}

// Where the line items come from: a sheet of the list's workbook, or a list of their own.
struct ItemsSource {
    QString sheet;
    std::optional<FileDescriptor> file;
    // What they are called in messages.
    QString name;

    bool Given() const { return !name.isEmpty(); }
    // A reader of the items from their start; the list's encoding and separator are the
    // list's, and a list of their own tells its own.
    std::unique_ptr<ListReader> Reader(const BatchCommand& command, const FileDescriptor& listFile) const
    {
        if (file)
            return std::make_unique<ListReader>(command.itemsSource, file->Get(), QString(), QChar());
        return std::make_unique<ListReader>(command.listPath, listFile.Get(), command.encoding, command.separator, sheet);
    }
};

// The items --items names: the sheet of that name of the list's workbook, else the file.
ItemsSource OpenItems(const BatchCommand& command, const FileDescriptor& listFile, bool builtIn)
{
    ItemsSource source;
    if (command.itemsSource.isEmpty())
        return source;
    if (builtIn)
        throw AppError(QStringLiteral("--items fills the table rows of a template of yours; name it with --template."));
    const QStringList sheets = ListSheets(listFile.Get());
    if (sheets.contains(command.itemsSource)) {
        source.sheet = command.itemsSource;
        source.name = QStringLiteral("the sheet \"%1\"").arg(command.itemsSource);
        return source;
    }
    if (!sheets.isEmpty() && !QFileInfo::exists(command.itemsSource))
        throw AppError(QStringLiteral("--items names \"%1\", which is neither a sheet of the list's workbook (its sheets are %2) "
                                      "nor a file.")
                           .arg(command.itemsSource, QLatin1Char('"') + sheets.join(QStringLiteral("\", \"")) + QLatin1Char('"')));
    source.file.emplace(OpenList(command.itemsSource));
    source.name = QStringLiteral("the items list \"%1\"").arg(QDir::toNativeSeparators(command.itemsSource));
    return source;
}

// The built-in letter without a path, else the user's template, whose tags take the list's
// columns and the fields, and with items, the items' columns in the rows that repeat for them
// and their totals; once the office has read it, its tags are checked for holes over the
// whole list, and plan learns the columns none of them takes and the tags some of the run's
// letters leave empty.
LetterTemplate LetterTemplateOf(const BatchCommand& command, const std::optional<UserTemplateFile>& userTemplate,
                                const LetterList& list, const EmptyCounts& whole, const EmptyCounts& run, BatchPlan& plan)
{
    if (!userTemplate)
        return {LetterTemplateBytes(), QLatin1String(BuiltInTemplateName), QString(), {}, {}, {}, {}, {}, {}};
    const UserTemplateFile& file = *userTemplate;
    const std::shared_ptr<const LetterItems> items = plan.items;
    const auto knows = [keys = list.columnKeys](const QString& name) { return static_cast<bool>(ValueNamed(name, keys)); };
    // The key's column ties the items to the letter; it repeats nothing.
    const auto itemTag = [items](const QString& tag) {
        const int column = items->ColumnNamed(TagName(tag));
        return column >= 0 && column != items->keyColumn && !SummedColumn(TagName(tag));
    };
    const auto onlyItemTag = [itemTag, knows](const QString& tag) { return itemTag(tag) && !knows(TagName(tag)); };
    std::vector<LetterKey> lines;
    for (const LetterJob& job : plan.jobs)
        lines.push_back({job.letter.row, items ? items->KeyOf(job.letter) : QString()});
    return {file.bytes, file.workingName, command.templatePath, file.pictures, command.embedLinksFolder,
            [keys = list.columnKeys, columns = list.columns, whole, run, allowed = command.allowedEmpty, senderFile = command.senderFile,
             unused = plan.columnsNoTagTakes, partlyEmpty = plan.partlyEmpty, tagPlan = plan.tagPlan,
             where = command.where, items, totals = plan.totals, lines, itemTag, onlyItemTag,
             allowNoItems = command.allowNoItems](const QStringList& tags) {
                // The markers of conditional texts are no tags; their conditions name columns or
                // fields, as --where does.
                QStringList plain;
                QStringList conditionNames;
                QStringList itemTags;
                QStringList sums;
                for (const RowCondition& condition : where)
                    conditionNames << QLatin1Char('[') + condition.name + QLatin1Char(']');
                // (A condition on a name that is neither column nor field was refused with its place
                // when the template's text was read.)
                std::vector<RowCondition> conditions;
                for (const QString& tag : tags) {
                    const std::optional<RowCondition> condition = MarkerCondition(tag);
                    if (items && SummedColumn(TagName(tag)))
                        sums << TagName(tag);
                    else if (items && itemTag(tag) && (itemTags << tag, onlyItemTag(tag)))
                        continue;
                    else if (!IsConditionMarker(tag))
                        plain << tag;
                    if (condition) {
                        conditions.push_back(*condition);
                        conditionNames << QLatin1Char('[') + condition->name + QLatin1Char(']');
                    }
                }
                LineTags texts{ResolveTags(plain, keys),
                               [keys](const LetterLine& line, const RowCondition& condition) { return RowConditions({condition}, keys)(line); },
                               conditions, {}, {}};
                if (items) {
                    RefuseWithoutItems(*items, lines, conditions, allowNoItems);
                    *totals = ItemTotals(*items, lines, sums);
                    texts.texts = [plainTexts = texts.texts, items, totals](const LetterLine& line) {
                        std::vector<TagText> all = plainTexts(line);
                        const std::vector<TagText> own = totals->value(line.columnValues.value(items->listKey).trimmed());
                        all.insert(all.end(), own.begin(), own.end());
                        return all;
                    };
                    texts.items = [items, itemTags](const LetterLine& line) { return ItemTexts(*items, line, itemTags); };
                    conditionNames << QLatin1Char('[') + items->listKey + QLatin1Char(']');
                }
                QStringList listTags = plain;
                QStringList itemsPlan;
                if (items) {
                    for (const QString& tag : itemTags)
                        itemsPlan << QStringLiteral("%1 takes the column \"%2\" of %3, in a table row written once for each item")
                                         .arg(tag, items->columns[items->ColumnNamed(TagName(tag))], items->name);
                    for (const QString& sum : sums)
                        itemsPlan << QStringLiteral("[%1] takes the sum of the column \"%2\" of the letter's items, as its cells show it")
                                         .arg(sum, items->columns[items->ColumnNamed(*SummedColumn(sum))]);
                    for (const QString& tag : plain) {
                        if (ColumnKey(TagName(tag)) == QLatin1String(CountKey)) {
                            itemsPlan << QStringLiteral("%1 takes the number of the letter's items").arg(tag);
                            listTags.removeOne(tag);
                        }
                    }
                }
                const std::vector<ShownText> shown = TemplateShows(listTags, keys);
                *tagPlan = TagPlan(shown, columns) + itemsPlan;
                RefuseHoles(shown, whole, allowed, senderFile);
                *unused = UnusedColumns(plain + conditionNames, columns);
                *partlyEmpty = PartlyEmpty(shown, run);
                return texts;
            },
            knows, items ? std::function<bool(const QString&)>(itemTag) : nullptr,
            items ? std::function<bool(const QString&)>(onlyItemTag) : nullptr};
}

// Which column fills which field, one line each.
QStringList ColumnPlan(const std::vector<ListColumn>& columns)
{
    QStringList lines;
    for (const ListColumn& column : columns) {
        if (column.field >= 0)
            lines << QStringLiteral("\"%1\" fills %2%3")
                         .arg(column.name, Described({QString::fromLatin1(FieldTags[static_cast<std::size_t>(column.field)]),
                                                      {QString(), column.field}}),
                              column.mapped ? QStringLiteral(", as --map says") : QString());
    }
    return lines;
}

// Which part of the list a run with --lines or --shard makes.
QString SelectionNote(const std::vector<LetterLine>& selected, qsizetype rows)
{
    if (selected.empty())
        return QStringLiteral("None of the list's %1 is this run's.").arg(rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows));
    if (selected.size() == 1)
        return QStringLiteral("1 of the list's %1 is this run's: row %2.")
            .arg(rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows))
            .arg(selected.front().row);
    return QStringLiteral("%1 of the list's %2 rows are this run's, from row %3 to row %4.")
        .arg(selected.size())
        .arg(rows)
        .arg(selected.front().row)
        .arg(selected.back().row);
}

// The rows --lines names one by one that give no letter, being empty or past the list's
// end: those not among the rows of lines found.
QString RowsNamedInVain(const std::vector<RowRange>& ranges, const QSet<int>& found)
{
    QStringList rows;
    for (const RowRange& range : ranges) {
        if (range.first == range.last && !found.contains(range.first))
            rows << QString::number(range.first);
    }
    if (rows.isEmpty())
        return QString();
    return QStringLiteral("--lines names %1 %2, which %3 nothing or %4 past the list's end, so no letter comes of %5.")
        .arg(rows.size() == 1 ? QStringLiteral("row") : QStringLiteral("rows"), rows.join(QStringLiteral(", ")),
             rows.size() == 1 ? QStringLiteral("holds") : QStringLiteral("hold"), rows.size() == 1 ? QStringLiteral("lies") : QStringLiteral("lie"),
             rows.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

void MakeOutputFolder(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        throw AppError(QStringLiteral("\"%1\" is a file, not a folder for the letters.").arg(QDir::toNativeSeparators(folder)));
    if (!info.exists() && !QDir().mkpath(folder))
        throw AppError(QStringLiteral("The folder \"%1\" cannot be made.").arg(QDir::toNativeSeparators(folder)));
}

// The merged PDF is refused before any letter is made when it could not be placed at the
// end; its folder may be the output folder that the run makes.
void CheckMergedFile(const BatchOptions& options)
{
    if (options.merged.isEmpty())
        return;
    const QString shown = QDir::toNativeSeparators(options.merged);
    const QString folder = QFileInfo(options.merged).absolutePath();
    if (!QFileInfo(folder).isDir() && folder != QFileInfo(options.outputFolder).absoluteFilePath())
        throw AppError(QStringLiteral("The folder of the merged PDF \"%1\" does not exist.").arg(shown));
    if (QFileInfo(options.merged).isDir())
        throw AppError(QStringLiteral("\"%1\" is a folder, not a name for the merged PDF.").arg(shown));
    if (!options.force && PathTaken(options.merged))
        throw AppError(QStringLiteral("The merged PDF \"%1\" exists already (--force replaces it).").arg(shown));
    struct stat info {};
    if (::lstat(QFile::encodeName(options.merged).constData(), &info) == 0 && !S_ISREG(info.st_mode))
        throw AppError(QStringLiteral("\"%1\" is not a file (a device, a FIFO, a socket or a link stands there); the merged "
                                      "PDF is placed only as a file of its own.")
                           .arg(shown));
    if (QFileInfo(folder).isDir() && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        throw AppError(QStringLiteral("The merged PDF \"%1\" cannot be placed: its folder \"%2\" is not yours to write in (%3).")
                           .arg(shown, QDir::toNativeSeparators(folder), QString::fromLocal8Bit(std::strerror(errno))));
}
}

std::vector<LetterFormat> ParseFormats(const QString& text)
{
    static const LetterFormat all[] = {LetterFormat::Doc, LetterFormat::Docx, LetterFormat::Odt, LetterFormat::Pdf};
    std::vector<LetterFormat> formats;
    for (const QString& part : text.split(QLatin1Char(','))) {
        QString name = part.trimmed().toLower();
        if (name.startsWith(QLatin1Char('.')))
            name.remove(0, 1);
        const auto known = std::find_if(std::begin(all), std::end(all), [&](LetterFormat f) { return FormatExtension(f) == name; });
        if (known == std::end(all)) {
            throw AppError(QStringLiteral("--format takes doc, docx, odt and pdf, separated by commas, not '%1'.").arg(part.trimmed()));
        }
        if (std::find(formats.begin(), formats.end(), *known) == formats.end())
            formats.push_back(*known);
    }
    return formats;
}

BatchCommand ParseBatchCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    Describe(parser);
    QStringList given = arguments;
    for (QString& argument : given) {
        if (argument == QLatin1String("--"))
            break;
        if (argument.startsWith(QLatin1String("--pdf-a=")))
            argument.replace(0, 7, QStringLiteral("--pdf-a-part"));
    }
    if (!parser.parse(QStringList(QLatin1String(BatchProgram)) + given))
        throw AppError(parser.errorText());
    BatchCommand command;
    command.options.offices = DefaultOffices(MaxOffices);
    if (parser.isSet(HelpOption()) || parser.isSet(VersionOption())) {
        command.request = parser.isSet(HelpOption()) ? BatchRequest::Help : BatchRequest::Version;
        return command;
    }
    for (const CommandOption& option : CommandOptions()) {
        // An option given again takes each value in turn: --map adds them, the others keep the last.
        const QStringList values = option.option.valueName().isEmpty()
                                       ? QStringList(parser.isSet(option.option) ? 1 : 0, QString())
                                       : parser.values(option.option);
        for (const QString& value : values)
            option.read(value, command);
    }
    // German letters write their date as "8. Dezember 2026", not as the short date "08.12.26".
    if (parser.isSet(QStringLiteral("language")) && command.options.dateFormat.isEmpty()
        && command.options.language.language() == QLocale::German)
        command.options.dateFormat = QStringLiteral("d. MMMM yyyy");
    const QStringList paths = parser.positionalArguments();
    if (paths.size() != 2)
        throw AppError(paths.size() < 2 ? QStringLiteral("A list and an output folder are needed.")
                                        : QStringLiteral("Only one list and one output folder are taken."));
    command.listPath = paths[0];
    command.options.outputFolder = paths[1];
    return command;
}

QString BatchHelp()
{
    QCommandLineParser parser;
    Describe(parser);
    return CommandLineHelp(parser, QStringLiteral("%1 [OPTION]... LIST OUTPUT-FOLDER").arg(QLatin1String(BatchProgram)));
}

BatchPlan PlanBatch(const BatchCommand& command, SettingsStore& settings, const QString& date)
{
    BatchPlan plan;
    const bool builtIn = command.templatePath.isEmpty();
    const std::optional<UserTemplateFile> userTemplate =
        builtIn ? std::nullopt : std::optional<UserTemplateFile>(CheckedUserTemplate(command, plan.notes));
    const std::optional<QString> templateText =
        userTemplate ? TextWithoutOffice(userTemplate->bytes, userTemplate->workingName) : std::nullopt;
    if (templateText)
        plan.tagsWithoutOffice = FindTags(*templateText);
    const FileDescriptor listFile = OpenList(command.listPath);
    // The list is read twice, and neither reading holds it: first for what the whole list
    // decides (how many lines the parts split, the fields empty in every letter, the width of
    // the numbers), then for this run's lines and their names, which depend on the names
    // before them.
    QStringList readerNotes;
    std::optional<ItemsKey> itemsKey;
    // Of the rows, only those the reading's records until take part.
    const auto read = [&](const LineFilter& keep, int until = INT_MAX) {
        ListReader reader(command.listPath, listFile.Get(), command.encoding, command.separator);
        int records = 0;
        LetterList list = ReadLetterList([&] { return records++ < until ? reader.Next() : std::nullopt; }, settings, date,
                                         builtIn ? FieldColumns::Required : FieldColumns::Optional, keep, command.map,
                                         ShownColumnKeys(command, plan.tagsWithoutOffice, itemsKey));
        readerNotes = reader.Notes();
        return list;
    };
    const ItemsSource items = OpenItems(command, listFile, builtIn);
    if (items.Given()) {
        QStringList listColumns;
        for (const ListColumn& column : read({}, 1).columns)
            listColumns << column.name;
        const std::optional<CsvRecord> header = items.Reader(command, listFile)->Next();
        itemsKey = ChooseItemsKey(command.itemsKey, listColumns, header ? header->values : QStringList(), items.name);
        if (const int count = ColumnIndex(listColumns, QLatin1String(CountKey)); count >= 0)
            throw AppError(QStringLiteral("The list has a column \"%1\", the name of [COUNT], which counts a letter's items; "
                                          "rename the column.")
                               .arg(listColumns[count]));
    }
    // With items, every letter's key, each once.
    QHash<QString, int> listKeys;
    // The rows --where keeps, known by the list's columns, which its first row names; the
    // lines that cannot make a letter are all kept, to be told.
    std::function<bool(const LetterLine&)> meets = [](const LetterLine&) { return true; };
    if (!command.where.empty())
        meets = [conditions = RowConditions(command.where, read({}, 1).columnKeys)](const LetterLine& line) {
            return !line.problem.isEmpty() || conditions(line);
        };
    EmptyCounts wholeEmpty;
    qsizetype lines = 0;
    qint64 linesInRanges = 0;
    QSet<int> rowsNamed;
    for (const RowRange& range : command.lines)
        rowsNamed.insert(range.first);
    QSet<int> rowsFound;
    LetterList whole = read([&](const LetterLine& line) {
        if (itemsKey && line.problem.isEmpty()) {
            const QString key = line.columnValues.value(ColumnKey(itemsKey->listColumn)).trimmed();
            if (const auto seen = listKeys.constFind(key); !key.isEmpty() && seen != listKeys.constEnd())
                throw AppError(QStringLiteral("Rows %1 and %2 of the list have the same %3, \"%4\": their letters would show "
                                              "the same items. Give every row a %3 of its own.")
                                   .arg(*seen)
                                   .arg(line.row)
                                   .arg(itemsKey->listColumn, key));
            listKeys.insert(key, line.row);
        }
        ++lines;
        wholeEmpty.Add(line);
        linesInRanges += InRanges(line.row, command.lines) && meets(line) ? 1 : 0;
        if (rowsNamed.contains(line.row))
            rowsFound.insert(line.row);
        return false;
    });
    plan.notes << readerNotes;
    if (templateText)
        CheckConditionalTexts(*templateText, QStringLiteral("the template's text"),
                              [&whole](const QString& name) { return static_cast<bool>(ValueNamed(name, whole.columnKeys)); });
    // A template's tags say what they take, and which columns they leave, once it is read;
    // the built-in letter's fields are known now.
    if (builtIn) {
        plan.columnPlan = ColumnPlan(whole.columns);
        const QSet<QString> named = ShownColumnKeys(command, std::nullopt).value_or(QSet<QString>());
        QStringList unused;
        for (const QString& column : whole.otherColumns) {
            if (!named.contains(ColumnKey(column)))
                unused << column;
        }
        if (!unused.isEmpty())
            plan.notes << QStringLiteral("The list's columns %1 fill no field of the letter and are not used.")
                              .arg(unused.join(QStringLiteral(", ")));
        RefuseHoles(BuiltInLetterShows(), wholeEmpty, command.allowedEmpty, command.senderFile);
    }
    plan.listRows = lines + whole.emptyRows;
    const bool allOfIt = command.lines.empty() && !command.shard && command.where.empty();
    plan.emptyRows = allOfIt ? whole.emptyRows : 0;
    if (const QString unmatched = RowsNamedInVain(command.lines, rowsFound); !unmatched.isEmpty())
        plan.notes << unmatched;

    // Names from a pattern are told apart across the list up to the line; the others name a line alone.
    std::optional<UniqueStems> named;
    if (!command.namePattern.isEmpty())
        named.emplace(NamePattern(command.namePattern, whole.columnKeys));
    // Every number is as wide as the last line's, so that the names sort in the order of the list.
    const auto digits = static_cast<int>(QString::number(whole.lastRow).size());
    LineSelection selection(command.lines, command.shard, linesInRanges);
    QHash<int, QString> stems;
    qsizetype linesAgain = 0;
    LetterList selected = read([&](const LetterLine& line) {
        ++linesAgain;
        const bool taken = meets(line) && selection.Takes(line.row);
        if (line.problem.isEmpty()) {
            // Every usable line's name counts for the names after it, whether this run makes it or not.
            QString stem = named ? named->Next(line) : QString();
            if (taken)
                stems.insert(line.row, named ? std::move(stem) : LetterFileStem(line, digits));
        }
        return taken;
    });
    // A list written to while it is read would give the parts rows they do not agree on.
    if (linesAgain != lines || selected.lastRow != whole.lastRow)
        throw AppError(QStringLiteral("The list changed while it was read; run again once it is written."));
    if (!allOfIt)
        plan.notes << SelectionNote(selected.lines, plan.listRows);
    EmptyCounts runEmpty;
    for (LetterLine& line : selected.lines) {
        runEmpty.Add(line);
        if (line.problem.isEmpty()) {
            QString stem = stems.take(line.row);
            plan.jobs.push_back({std::move(line), std::move(stem)});
        } else {
            plan.unusable.push_back(std::move(line));
        }
    }
    if (builtIn)
        *plan.partlyEmpty = PartlyEmpty(BuiltInLetterShows(), runEmpty);
    if (itemsKey) {
        QSet<QString> wanted;
        for (const LetterJob& job : plan.jobs)
            wanted.insert(job.letter.columnValues.value(ColumnKey(itemsKey->listColumn)).trimmed());
        const std::unique_ptr<ListReader> reader = items.Reader(command, listFile);
        QSet<QString> allKeys;
        for (auto key = listKeys.constBegin(); key != listKeys.constEnd(); ++key)
            allKeys.insert(key.key());
        auto letterItems = std::make_shared<LetterItems>(
            ReadLetterItems([&] { return reader->Next(); }, items.name, *itemsKey, wanted, allKeys, plan.notes));
        for (LetterJob& job : plan.jobs)
            job.letter.columnValues.insert(QLatin1String(CountKey), QString::number(letterItems->Of(job.letter).size()));
        whole.columnKeys.insert(QLatin1String(CountKey));
        plan.items = std::move(letterItems);
    }
    plan.letterTemplate = LetterTemplateOf(command, userTemplate, whole, wholeEmpty, runEmpty, plan);
    if (plan.jobs.empty() && plan.unusable.empty())
        return plan;
    if (!command.dryRun)
        MakeOutputFolder(command.options.outputFolder);
    CheckMergedFile(command.options);
    return plan;
}
