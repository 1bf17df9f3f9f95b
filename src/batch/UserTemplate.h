#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

#include "LetterList.h"
#include "core/AppError.h"

struct TagText;

// A letter template of the user's (--template): a Word or OpenDocument file whose bracketed
// tags, "[Anything]" (the text between the brackets on one line, holding no bracket), the
// letters fill.

// The extensions a template may have, without the dot.
inline constexpr const char* TemplateExtensions[] = {"doc", "dot", "docx", "dotx", "odt", "ott", "fodt"};

// The largest template taken, in bytes.
inline constexpr qint64 TemplateSizeLimit = 100 * 1024 * 1024;
// The most the XML of a template may hold, in bytes, all its parts together: the office
// needs many times as much memory to lay it out.
inline constexpr qint64 TemplateMarkupLimit = 32 * 1024 * 1024;
// The largest picture embedded in place of a link, in bytes.
inline constexpr qint64 PictureSizeLimit = 50 * 1024 * 1024;

// The template file at path: its bytes, and the name it is given in the working folder
// ("template." and its extension, which tells the office its format). Throws AppError with
// the reason when it cannot be a template: an extension that is none of the above, a file
// that cannot be read or is not a regular file, one over TemplateSizeLimit, or content that
// is not what its extension says (a .docx that is no zip archive, for example).
// A picture a template links to a file: the link as the template writes it, the file it
// leads to, and that file's bytes as read once when the link was checked, which the letters
// hold instead of the link.
struct LinkedPicture {
    QString link;
    QString file;
    QByteArray bytes;
};

struct UserTemplateFile {
    QByteArray bytes;
    QString workingName;
    // The pictures its letters hold in place of its links to them (see CheckLinks).
    std::vector<LinkedPicture> pictures;
};
UserTemplateFile ReadUserTemplate(const QString& path);

// The text of a template read from its file, without an office: the paragraphs (each ending
// in "\r") of a Word (.docx, .dotx) template's body, headers, footers, notes and text boxes,
// or of an OpenDocument (.odt, .ott, .fodt) one's content and styles, through its formatting
// runs. Nothing for a Word 97-2003 (.doc, .dot) template, which only the office reads. Throws
// AppError when the file cannot be read as its kind, and for conditional text out of place
// (see FindConditionalTexts).
std::optional<QString> TextWithoutOffice(const QByteArray& bytes, const QString& workingName);

// A link TemplateLinks finds: what is linked ("a picture", "a section", "a field
// INCLUDETEXT") and where it leads, as the template writes it.
struct TemplateLink {
    QString what;
    QString target;
};

// What a template would bring into its letters from outside itself, read from its file
// without an office: every picture, object, section or table linked to a file or the
// network rather than held in the template, and every field that includes or links
// another file. Hyperlinks, which only lead the reader elsewhere, are not among them. Of a
// Word 97-2003 template, whose pictures and objects only the office reads, the fields
// alone. Throws AppError naming path when the file cannot be read as its kind.
std::vector<TemplateLink> TemplateLinks(const QByteArray& bytes, const QString& workingName, const QString& path);


// Where link, written in a template at path (the user's template or its working copy),
// leads: relative links lead from the template's folder, or from inside the package of a
// zipped OpenDocument file.
QUrl LinkTarget(const QString& link, const QString& path);

// The picture file link (as a template writes it) leads to at target when that file lies
// inside folder, not through a link out of it, with its bytes read once; nothing otherwise.
std::optional<LinkedPicture> PictureInside(const QString& link, const QUrl& target, const QString& folder);

// The refusal of a template at path that brings in links ("a picture linked to "x"").
AppError OutsideLinks(const QString& path, const QStringList& links);

// Throws AppError naming every one of TemplateLinks that may not stay: a letter must show
// only what its template holds. A picture linked to a file inside embedFolder (not through a
// link out of it) may: its picture is embedded in the letters, and it is returned with the
// file's bytes, read there and then through no link at all, so that a file put in its place
// later is never taken. With no embedFolder, no link may stay.
std::vector<LinkedPicture> CheckLinks(const QByteArray& bytes, const QString& workingName, const QString& path,
                                      const QString& embedFolder);

// The tags in text, each once whatever its letter case (the office replaces them ignoring
// case), in the order they are first found.
QStringList FindTags(const QString& text);

// What each of tags takes in a letter, by ValueNamed of its name: the column whose name
// matches the tag's (by ColumnKey: "[Company Name]" takes "CompanyName"), else the field the
// tag names (its column, or the text the window saved, or for [CurrentDate] the letter's
// date). columnKeys are the list's. Throws AppError naming every tag that has neither
// column nor field, since no letter may show a tag.
std::function<std::vector<TagText>(const LetterLine&)> ResolveTags(const QStringList& tags, const QSet<QString>& columnKeys);

// The columns that fill no field, are not mapped and whose names match none of tags.
QStringList UnusedColumns(const QStringList& tags, const std::vector<ListColumn>& columns);
