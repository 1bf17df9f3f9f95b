#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

struct LetterLine;
struct TagText;

// A letter template of the user's (--template): a Word or OpenDocument file whose bracketed
// tags, "[Anything]" (the text between the brackets on one line, holding no bracket), the
// letters fill.

// The extensions a template may have, without the dot.
inline constexpr const char* TemplateExtensions[] = {"doc", "dot", "docx", "dotx", "odt", "ott", "fodt"};

// The largest template taken, in bytes.
inline constexpr qint64 TemplateSizeLimit = 100 * 1024 * 1024;

// The template file at path: its bytes, and the name it is given in the working folder
// ("template." and its extension, which tells the office its format). Throws AppError with
// the reason when it cannot be a template: an extension that is none of the above, a file
// that cannot be read or is not a regular file, one over TemplateSizeLimit, or content that
// is not what its extension says (a .docx that is no zip archive, for example).
struct UserTemplateFile {
    QByteArray bytes;
    QString workingName;
};
UserTemplateFile ReadUserTemplate(const QString& path);

// The tags in text, each once whatever its letter case (the office replaces them ignoring
// case), in the order they are first found.
QStringList FindTags(const QString& text);

// What each of tags takes in a letter: the column whose name matches the tag's (by
// ColumnKey: "[Company Name]" takes "CompanyName"), the field's column or, without one, the
// text the window saved for one of the thirteen fields, and for [CurrentDate] the letter's
// date. otherColumns names the list's columns that fill no field. Throws AppError naming
// every tag that has neither column nor field, since no letter may show a tag.
std::function<std::vector<TagText>(const LetterLine&)> ResolveTags(const QStringList& tags, const QStringList& otherColumns);

// The columns of otherColumns whose names match none of tags.
QStringList UnusedColumns(const QStringList& tags, const QStringList& otherColumns);
