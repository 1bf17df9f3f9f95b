#include "ConditionalText.h"

#include "AppError.h"

#include <QRegularExpression>

#include <algorithm>

namespace {
const QRegularExpression& Marker()
{
    static const QRegularExpression marker(QStringLiteral("\\[\\s*(?:(IF)(?![A-Za-z0-9])([^\\[\\]\\r\\n]*)|(ELSE)|(END\\s*IF))\\s*\\]"),
                                           QRegularExpression::CaseInsensitiveOption);
    return marker;
}

// The condition of an opening marker: one --where takes, or a name alone for "is not empty".
std::optional<RowCondition> ConditionOf(const QString& text)
{
    QString unused;
    if (const std::optional<RowCondition> condition = ParseRowCondition(text, unused))
        return condition;
    if (text.trimmed().isEmpty() || text.contains(QLatin1Char('=')))
        return std::nullopt;
    return RowCondition{text.trimmed(), RowCondition::Test::IsNotEmpty, {}};
}

using RangePtr = std::shared_ptr<Word::Range>;

// Removes the first text in range, keeping the formatting of what stays.
void RemoveFirst(const RangePtr& range, const QString& text)
{
    Word::ExecuteArguments arguments;
    arguments.FindText = text;
    arguments.ReplaceWith = QString();
    arguments.Replace = Word::wdReplaceOne;
    Use(Use(range).Find()).Execute(arguments);
}

// Leaves in range, one conditional text after the other, the part each shows.
void Resolve(const RangePtr& range, const QString& place, const ConditionHolds& holds)
{
    for (const ConditionalText& part : FindConditionalTexts(Use(range).Text(), place)) {
        const bool shows = holds(part.condition);
        if (shows) {
            RemoveFirst(range, part.opening);
            RemoveFirst(range, part.elseMarker + part.otherwise.value_or(QString()) + part.endMarker);
        } else if (part.otherwise) {
            RemoveFirst(range, part.opening + part.shown + part.elseMarker);
            RemoveFirst(range, part.endMarker);
        } else {
            RemoveFirst(range, part.whole);
        }
    }
}
}

bool IsConditionMarker(const QString& tag)
{
    const QRegularExpressionMatch match = Marker().match(tag);
    return match.hasMatch() && match.capturedStart() == 0 && match.capturedLength() == tag.size();
}

std::optional<RowCondition> MarkerCondition(const QString& marker)
{
    const QRegularExpressionMatch match = Marker().match(marker);
    if (!IsConditionMarker(marker) || match.captured(1).isEmpty())
        return std::nullopt;
    return ConditionOf(match.captured(2));
}

std::vector<ConditionalText> FindConditionalTexts(const QString& text, const QString& place)
{
    std::vector<ConditionalText> parts;
    std::optional<ConditionalText> open;
    qsizetype openedAt = 0;
    qsizetype shownFrom = 0;
    qsizetype elseFrom = -1;
    const auto paragraphAt = [&text](qsizetype at) { return static_cast<int>(text.left(at).count(QLatin1Char('\r'))) + 1; };
    const auto refuse = [&place](const QString& what, int paragraph) {
        return AppError(QStringLiteral("The template's %1 in %2, paragraph %3. A condition is written as [IF Column = value]"
                                       "text[ELSE]other text[END IF] within one paragraph, and cannot hold another.")
                            .arg(what, place)
                            .arg(paragraph));
    };
    for (const QRegularExpressionMatch& match : Marker().globalMatch(text)) {
        const int paragraph = paragraphAt(match.capturedStart());
        if (!match.captured(1).isEmpty()) {
            if (open)
                throw refuse(QStringLiteral("condition \"%1\" stands inside the condition \"%2\"").arg(match.captured(), open->opening),
                             paragraph);
            const std::optional<RowCondition> condition = ConditionOf(match.captured(2));
            if (!condition)
                throw refuse(QStringLiteral("\"%1\" is no condition (such as [IF Region = North], [IF Discount] or "
                                            "[IF Discount is empty])").arg(match.captured()),
                             paragraph);
            open = ConditionalText{match.captured(), *condition, {}, std::nullopt, {}, {}, {}, paragraph};
            openedAt = match.capturedStart();
            shownFrom = match.capturedEnd();
            elseFrom = -1;
            continue;
        }
        const bool isElse = !match.captured(3).isEmpty();
        if (!open)
            throw refuse(QStringLiteral("\"%1\" has no [IF ...] before it").arg(match.captured()), paragraph);
        if (paragraph != open->paragraph)
            throw refuse(QStringLiteral("condition \"%1\" is not closed by [END IF] within its paragraph").arg(open->opening),
                         open->paragraph);
        if (isElse) {
            if (elseFrom >= 0)
                throw refuse(QStringLiteral("condition \"%1\" has a second [ELSE]").arg(open->opening), paragraph);
            open->shown = text.mid(shownFrom, match.capturedStart() - shownFrom);
            open->elseMarker = match.captured();
            elseFrom = match.capturedEnd();
            continue;
        }
        if (elseFrom >= 0)
            open->otherwise = text.mid(elseFrom, match.capturedStart() - elseFrom);
        else
            open->shown = text.mid(shownFrom, match.capturedStart() - shownFrom);
        open->endMarker = match.captured();
        open->whole = text.mid(openedAt, match.capturedEnd() - openedAt);
        parts.push_back(*open);
        open.reset();
    }
    if (open)
        throw refuse(QStringLiteral("condition \"%1\" is not closed by [END IF] within its paragraph").arg(open->opening), open->paragraph);
    return parts;
}

bool ShowsNothing(const QString& paragraph, const ConditionHolds& holds)
{
    const std::vector<ConditionalText> parts = FindConditionalTexts(paragraph, QStringLiteral("a paragraph"));
    QString rest = paragraph;
    for (const ConditionalText& part : parts) {
        const QString shown = holds(part.condition) ? part.shown : part.otherwise.value_or(QString());
        if (!shown.trimmed().isEmpty())
            return false;
        rest.remove(part.whole);
    }
    return !parts.empty() && rest.trimmed().isEmpty();
}

void ResolveConditionalTexts(const std::shared_ptr<Word::Document>& document, const ConditionHolds& holds)
{
    // The main text's paragraphs that show nothing go first, the last first, so that removing
    // one leaves the place of those before it as it was; only when the text holds a condition.
    if (!FindConditionalTexts(Use(Use(document).Range()).Text(), QStringLiteral("the main text")).empty()) {
        const auto paragraphs = Use(document).Paragraphs();
        for (int i = Use(paragraphs).Count() - 1; i >= 0; --i) {
            const RangePtr range = Use(paragraphs->Item(i)).Range();
            if (ShowsNothing(Use(range).Text(), holds))
                range->Delete();
        }
    }
    const auto stories = Use(document).StoryRanges();
    for (int i = 0; i < Use(stories).Count(); ++i)
        Resolve(stories->Item(i), i == 0 ? QStringLiteral("the main text") : QStringLiteral("part %1 of the template").arg(i + 1), holds);
    const auto shapes = Use(document).Shapes();
    for (int i = 0; i < Use(shapes).Count(); ++i) {
        std::shared_ptr<Word::TextFrame> frame;
        try {
            frame = Use(shapes->Item(i)).TextFrame();
        } catch (const AppError&) {
            continue; // a picture or a line: no text
        }
        if (Use(frame).HasText())
            Resolve(frame->TextRange(), QStringLiteral("shape %1 of the template").arg(i + 1), holds);
    }
}
