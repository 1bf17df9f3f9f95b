#include "BatchCommand.h"

#include "AppError.h"
#include "CommandLine.h"
#include "CsvReader.h"
#include "LetterFill.h"
#include "SpreadsheetReader.h"
#include "SafeFile.h"
#include "LetterSelection.h"
#include "Resources.h"
#include "UserTemplate.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QHash>

#include <algorithm>
#include <functional>
#include <utility>

namespace {
// The largest number of offices the command takes.
constexpr int MaxOffices = 64;

// Puts an option's value (empty for an option without one) into the command; false, with
// a one-line error, when the value cannot be used.
using ReadOption = std::function<bool(const QString& value, BatchCommand& command, QString& error)>;

// An option of the command: how it is written and described, and where its value goes.
struct CommandOption {
    QCommandLineOption option;
    ReadOption read;
};

// An option without a value, which sets flag.
ReadOption SetFlag(bool BatchOptions::*flag)
{
    return [flag](const QString&, BatchCommand& command, QString&) {
        command.options.*flag = true;
        return true;
    };
}

// An option whose value is taken as it stands, into text of the command or of its options.
ReadOption SetText(QString BatchCommand::*text)
{
    return [text](const QString& value, BatchCommand& command, QString&) {
        command.*text = value;
        return true;
    };
}

ReadOption SetText(QString BatchOptions::*text)
{
    return [text](const QString& value, BatchCommand& command, QString&) {
        command.options.*text = value;
        return true;
    };
}

bool ReadOffices(const QString& value, BatchCommand& command, QString& error)
{
    bool ok = false;
    command.options.offices = value.toInt(&ok);
    if (!ok || command.options.offices < 1 || command.options.offices > MaxOffices) {
        error = QStringLiteral("--offices takes a number from 1 to %1, not '%2'.").arg(MaxOffices).arg(value);
        return false;
    }
    return true;
}

bool ReadEncoding(const QString& value, BatchCommand& command, QString&)
{
    command.encoding = value;
    return true;
}

bool ReadSeparator(const QString& value, BatchCommand& command, QString& error)
{
    const QString name = value.toLower();
    if (name == QLatin1String(",") || name == QLatin1String("comma"))
        command.separator = QLatin1Char(',');
    else if (name == QLatin1String(";") || name == QLatin1String("semicolon"))
        command.separator = QLatin1Char(';');
    else if (name == QLatin1String("\t") || name == QLatin1String("\\t") || name == QLatin1String("tab"))
        command.separator = QLatin1Char('\t');
    else {
        error = QStringLiteral("--separator takes comma, semicolon or tab, not '%1'.").arg(value);
        return false;
    }
    return true;
}

bool ReadDate(const QString& value, BatchCommand& command, QString& error)
{
    static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    command.options.date = QDate::fromString(value, Qt::ISODate);
    if (!form.match(value).hasMatch() || !command.options.date.isValid()) {
        error = QStringLiteral("--date takes a date as YYYY-MM-DD, not '%1'.").arg(value);
        return false;
    }
    return true;
}

// --pdf is --format doc,pdf; with --format (read before it) the two are added to its files.
bool ReadPdf(const QString&, BatchCommand& command, QString&)
{
    for (const LetterFormat format : {LetterFormat::Doc, LetterFormat::Pdf}) {
        if (std::find(command.options.formats.begin(), command.options.formats.end(), format) == command.options.formats.end())
            command.options.formats.push_back(format);
    }
    return true;
}

// A format must show some part of the date: one that shows two dates that differ in day,
// month and year alike the same way shows none.
bool ReadDateFormat(const QString& value, BatchCommand& command, QString& error)
{
    if (LetterDate(QDate(2001, 2, 3), value) == LetterDate(QDate(2012, 11, 24), value)) {
        error = QStringLiteral("--date-format '%1' shows no part of the date; use the letters d, M and y, as in "
                               "'d MMMM yyyy'.")
                    .arg(value);
        return false;
    }
    command.dateFormat = value;
    return true;
}

bool ReadFormats(const QString& value, BatchCommand& command, QString& error)
{
    const std::optional<std::vector<LetterFormat>> formats = ParseFormats(value, error);
    if (formats)
        command.options.formats = *formats;
    return formats.has_value();
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
        {QCommandLineOption(QStringLiteral("template"),
                            QStringLiteral("fill this letter template of yours (.doc .dot .docx .dotx .odt .ott .fodt) "
                                           "instead of the built-in letter: each [Tag] in it takes the list's column "
                                           "of its name"),
                            QStringLiteral("FILE")),
         SetText(&BatchCommand::templatePath)},
        {QCommandLineOption(QStringLiteral("name"),
                            QStringLiteral("name the files after columns, such as \"{CompanyName} - {RecipientName}\" "
                                           "(default: the line number and the company or recipient); of two lines that "
                                           "give one name, the later gets its line number as well"),
                            QStringLiteral("PATTERN")),
         SetText(&BatchCommand::namePattern)},
        {QCommandLineOption(QStringLiteral("lines"),
                            QStringLiteral("only these lines of the list, such as 2-50,75,100- (line numbers as the "
                                           "messages give them)"),
                            QStringLiteral("RANGES")),
         [](const QString& value, BatchCommand& command, QString& error) {
             const auto ranges = ParseLineRanges(value, error);
             command.lines = ranges.value_or(std::vector<LineRange>());
             return ranges.has_value();
         }},
        {QCommandLineOption(QStringLiteral("shard"),
                            QStringLiteral("only the K-th of N parts of the list, for N runs side by side (on as many "
                                           "machines, into one folder): disjoint, together the whole list, each letter "
                                           "named as in one run"),
                            QStringLiteral("K/N")),
         [](const QString& value, BatchCommand& command, QString& error) {
             command.shard = ParseShard(value, error);
             return command.shard.has_value();
         }},
        {QCommandLineOption(QStringLiteral("force"),
                            QStringLiteral("replace files that are already there (else the line is skipped)")),
         SetFlag(&BatchOptions::force)},
        {QCommandLineOption(QStringLiteral("offices"),
                            QStringLiteral("how many offices make letters side by side (default: one per core)"),
                            QStringLiteral("N")),
         ReadOffices},
        {QCommandLineOption(QStringLiteral("encoding"),
                            QStringLiteral("the encoding of a text list, such as Windows-1250 or ISO-8859-15 (default: "
                                           "UTF-8, or UTF-16 with a byte-order mark; other bytes as Windows-1252)"),
                            QStringLiteral("NAME")),
         ReadEncoding},
        {QCommandLineOption(QStringLiteral("separator"),
                            QStringLiteral("what separates the values of a text list: comma, semicolon or tab "
                                           "(default: the one that makes the most column names of the first line)"),
                            QStringLiteral("SEP")),
         ReadSeparator},
        {QCommandLineOption(QStringLiteral("date"), QStringLiteral("the letter's date (default: today)"),
                            QStringLiteral("YYYY-MM-DD")),
         ReadDate},
        {QCommandLineOption(QStringLiteral("date-format"),
                            QStringLiteral("how the letter writes its date, as 'd MMMM yyyy' (default: the short date "
                                           "of your locale, as the window writes it)"),
                            QStringLiteral("FORMAT")),
         ReadDateFormat},
    };
    return options;
}

// The parser of the command's options and arguments, with their descriptions for --help.
void Describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Makes the letter for every line of LIST and saves each as a Word 97-2003 document\n"
                       "in OUTPUT-FOLDER, named after the line number and the recipient's company or name.\n"
                       "The first line of the list names the columns: YourName, YourTitle, StreetAddress,\n"
                       "City, ST, ZIPCode, RecipientName, Title, CompanyName, StreetAddress2, City2, ST2,\n"
                       "ZIPCode2, in any order, in any letter case, with or without spaces, underscores\n"
                       "or hyphens (\"Company Name\"); other columns are not used. A field without a column\n"
                       "takes the value saved by Inkhaven's window. A list is a text file (CSV, or values\n"
                       "separated by semicolons or tabs), read as it goes however long it is, one record\n"
                       "of at most %1 characters; or a spreadsheet (.xlsx or .ods: its first sheet) of at\n"
                       "most %2 MB, unpacked.")
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

// What the list is called in messages.
QString ListName(const QString& path)
{
    return path == QLatin1String("-") ? QStringLiteral("on standard input")
                                      : QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(path));
}

void OpenList(const QString& path, QFile& file)
{
    const bool standardInput = path == QLatin1String("-");
    if (!standardInput)
        file.setFileName(path);
    if (!(standardInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly)))
        throw AppError(QStringLiteral("The list %1 cannot be read: %2").arg(ListName(path), file.errorString()));
}

// The whole of a spreadsheet, read up to one byte past the most a spreadsheet may hold.
QByteArray ReadSpreadsheetBytes(QFile& file, const QString& path)
{
    QByteArray bytes;
    while (bytes.size() <= MaxSpreadsheetBytes) {
        const QByteArray chunk = file.read(std::min<qint64>(1024 * 1024, MaxSpreadsheetBytes + 1 - bytes.size()));
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("The list %1 cannot be read: %2").arg(ListName(path), file.errorString()));
    if (bytes.size() > MaxSpreadsheetBytes)
        throw AppError(QStringLiteral("The spreadsheet %1 is larger than %2 MB, more than a list takes; save it as CSV.")
                           .arg(ListName(path))
                           .arg(MaxSpreadsheetBytes / (1024 * 1024)));
    return bytes;
}

bool IsColumnName(const QString& name)
{
    return FieldOfColumn(name) >= 0;
}

// What the user should know about how a text list was read: its encoding when that was
// guessed, its separator when not a comma.
void NoteReading(const QString& guessedEncoding, QChar separator, QStringList& notes)
{
    if (!guessedEncoding.isEmpty())
        notes << QStringLiteral("The list is not UTF-8 text; it is read as %1 (--encoding names another).")
                     .arg(guessedEncoding);
    if (separator != QLatin1Char(','))
        notes << QStringLiteral("The list's values are separated by %1s.").arg(SeparatorName(separator));
}

// The lines of a text list, read as a stream, with what the user should know about how it was read.
LetterList ReadTextList(QFile& file, const BatchCommand& command, SettingsStore& settings, const QString& date,
                        FieldColumns fieldColumns, const RowFilter& keep, QStringList& notes)
{
    ListTextReader text(file, command.encoding);
    CsvStream records(text, command.separator, IsColumnName);
    LetterList list = ReadLetterList([&] { return records.Next(); }, settings, date, fieldColumns, keep);
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("The list %1 cannot be read: %2").arg(ListName(command.listPath), file.errorString()));
    NoteReading(text.GuessedEncoding(), records.Separator(), notes);
    return list;
}

// Whether a list that begins with these bytes may be a spreadsheet, read whole.
bool MayBeSpreadsheet(const QByteArray& start)
{
    return start.startsWith("PK\x03\x04") || start.startsWith("\xD0\xCF\x11\xE0") || start.contains("<?xml");
}

// The built-in letter without a path, else the user's template, whose tags take the
// fields and otherColumns; once the office has read it, unused gets the columns of
// otherColumns that none of its tags takes.
LetterTemplate LetterTemplateOf(const QString& path, const QStringList& otherColumns, const std::shared_ptr<QStringList>& unused)
{
    if (path.isEmpty())
        return {LetterTemplateBytes(), QLatin1String(TemplateCopyName), QString(), {}};
    const UserTemplateFile file = ReadUserTemplate(path);
    return {file.bytes, file.workingName, path, [otherColumns, unused](const QStringList& tags) {
                LineTags texts = ResolveTags(tags, otherColumns);
                *unused = UnusedColumns(tags, otherColumns);
                return texts;
            }};
}

// Which part of the list a run with --lines or --shard makes.
QString SelectionNote(const std::vector<LetterLine>& selected, std::size_t all)
{
    if (selected.empty())
        return QStringLiteral("None of the list's %1 rows is this run's.").arg(all);
    return QStringLiteral("%1 of the list's %2 rows are this run's, from line %3 to line %4.")
        .arg(selected.size())
        .arg(all)
        .arg(selected.front().line)
        .arg(selected.back().line);
}

// The records of a spreadsheet, or of a text file that starts as one might.
std::vector<CsvRecord> ReadRecords(const QByteArray& bytes, const BatchCommand& command, QStringList& notes)
{
    switch (const ListFormat format = FormatOfList(bytes)) {
    case ListFormat::Text: {
        const ListText text = DecodeListText(bytes, command.encoding);
        const QChar separator = command.separator.isNull() ? ChooseSeparator(text.text, IsColumnName) : command.separator;
        NoteReading(text.guessedEncoding, separator, notes);
        return ParseCsv(text.text, separator);
    }
    case ListFormat::BinaryXls:
    case ListFormat::ExcelXml:
        throw AppError(QStringLiteral("The list is an %1 workbook, which cannot be read; save it as an Excel "
                                      "workbook (.xlsx), an OpenDocument spreadsheet (.ods) or CSV.")
                           .arg(format == ListFormat::BinaryXls ? QStringLiteral("Excel 97-2003 (.xls)")
                                                                : QStringLiteral("Excel 2003 XML")));
    case ListFormat::OtherArchive:
        throw AppError(QStringLiteral("The list is a zip archive, but not a spreadsheet (.xlsx or .ods)."));
    default: return ReadSpreadsheet(bytes, format);
    }
}

void MakeOutputFolder(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        throw AppError(QStringLiteral("\"%1\" is a file, not a folder for the letters.").arg(QDir::toNativeSeparators(folder)));
    if (!info.exists() && !QDir().mkpath(folder))
        throw AppError(QStringLiteral("The folder \"%1\" cannot be made.").arg(QDir::toNativeSeparators(folder)));
}

// The merged PDF is refused before any letter is made when it could not be placed at the end.
void CheckMergedFile(const BatchOptions& options)
{
    if (options.merged.isEmpty())
        return;
    const QString shown = QDir::toNativeSeparators(options.merged);
    if (!QFileInfo(QFileInfo(options.merged).absolutePath()).isDir())
        throw AppError(QStringLiteral("The folder of the merged PDF \"%1\" does not exist.").arg(shown));
    if (QFileInfo(options.merged).isDir())
        throw AppError(QStringLiteral("\"%1\" is a folder, not a name for the merged PDF.").arg(shown));
    if (!options.force && PathTaken(options.merged))
        throw AppError(QStringLiteral("The merged PDF \"%1\" exists already (--force replaces it).").arg(shown));
}
}

std::optional<std::vector<LetterFormat>> ParseFormats(const QString& text, QString& error)
{
    static const LetterFormat all[] = {LetterFormat::Doc, LetterFormat::Docx, LetterFormat::Odt, LetterFormat::Pdf};
    std::vector<LetterFormat> formats;
    for (const QString& part : text.split(QLatin1Char(','))) {
        QString name = part.trimmed().toLower();
        if (name.startsWith(QLatin1Char('.')))
            name.remove(0, 1);
        const auto known = std::find_if(std::begin(all), std::end(all), [&](LetterFormat f) { return FormatExtension(f) == name; });
        if (known == std::end(all)) {
            error = QStringLiteral("--format takes doc, docx, odt and pdf, separated by commas, not '%1'.").arg(part.trimmed());
            return std::nullopt;
        }
        if (std::find(formats.begin(), formats.end(), *known) == formats.end())
            formats.push_back(*known);
    }
    return formats;
}

std::optional<BatchCommand> ParseBatchCommand(const QStringList& arguments, QString& error)
{
    QCommandLineParser parser;
    Describe(parser);
    if (!parser.parse(QStringList(QLatin1String(BatchProgram)) + arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }
    BatchCommand command;
    command.options.offices = std::clamp(QThread::idealThreadCount(), 1, MaxOffices);
    if (parser.isSet(HelpOption()) || parser.isSet(VersionOption())) {
        command.request = parser.isSet(HelpOption()) ? BatchRequest::Help : BatchRequest::Version;
        return command;
    }
    for (const CommandOption& option : CommandOptions()) {
        if (parser.isSet(option.option) && !option.read(parser.value(option.option), command, error))
            return std::nullopt;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.size() != 2) {
        error = paths.size() < 2 ? QStringLiteral("A list and an output folder are needed.")
                                 : QStringLiteral("Only one list and one output folder are taken.");
        return std::nullopt;
    }
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

BatchPlan PlanBatch(const BatchCommand& command, SettingsStore& settings, const QString& date, const RowFilter& keep)
{
    BatchPlan plan;
    const FieldColumns fieldColumns = command.templatePath.isEmpty() ? FieldColumns::Required : FieldColumns::Optional;
    QFile file;
    OpenList(command.listPath, file);
    // A text list is read as a stream; a spreadsheet whole.
    LetterList list = MayBeSpreadsheet(file.peek(512))
                          ? ReadLetterList(ReadRecords(ReadSpreadsheetBytes(file, command.listPath), command, plan.notes),
                                           settings, date, fieldColumns, keep)
                          : ReadTextList(file, command, settings, date, fieldColumns, keep, plan.notes);
    // A template's tags may take any column; which ones is known once the office has read it.
    if (!list.otherColumns.isEmpty() && command.templatePath.isEmpty())
        plan.notes << QStringLiteral("The list's columns %1 fill no field of the letter and are not used.")
                          .arg(list.otherColumns.join(QStringLiteral(", ")));
    plan.letterTemplate = LetterTemplateOf(command.templatePath, list.otherColumns, plan.columnsNoTagTakes);
    const auto namer = command.namePattern.isEmpty() ? std::function<QString(const LetterLine&)>()
                                                     : NamePattern(command.namePattern, list.otherColumns);
    const bool whole = command.lines.empty() && !command.shard;
    plan.emptyRows = whole ? list.emptyRows : 0;
    if (list.lines.empty())
        return plan;
    CheckMergedFile(command.options);
    MakeOutputFolder(command.options.outputFolder);
    // Names from a pattern are told apart across the whole list; the others name a line alone.
    const QHash<int, QString> named = namer ? UniqueStems(list.lines, namer) : QHash<int, QString>();
    const std::size_t all = list.lines.size();
    // Every number is as wide as the last line's, so that the names sort in the order of the list.
    const auto digits = static_cast<int>(QString::number(list.lastLine).size());
    std::vector<LetterLine> selected = SelectLines(std::move(list.lines), command.lines, command.shard);
    if (!whole)
        plan.notes << SelectionNote(selected, all);
    for (LetterLine& line : selected) {
        if (line.problem.isEmpty()) {
            QString stem = namer ? named.value(line.line) : LetterFileStem(line, digits);
            plan.jobs.push_back({std::move(line), std::move(stem)});
        } else {
            plan.unusable.push_back(std::move(line));
        }
    }
    return plan;
}
