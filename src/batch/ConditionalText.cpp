#include "ConditionalText.h"

#include "core/AppError.h"
#include "generation/LetterFill.h"

#include <QRegularExpression>

#include <algorithm>

namespace {
// Captures: 1 "IF" or "ELSE IF" with its condition in 2; 3 "ELSE"; 4 "END IF".
const QRegularExpression& Marker()
{
    static const QRegularExpression marker(
        QStringLiteral("\\[\\s*(?:((?:ELSE\\s*)?IF)(?![A-Za-z0-9])([^\\[\\]\\r\\n]*)|(ELSE)|(END\\s*IF))\\s*\\]"),
        QRegularExpression::CaseInsensitiveOption);
    return marker;
}

// The condition of an opening marker: one --where takes, or a name alone for "is not empty".
std::optional<RowCondition> ConditionOf(const QString& text)
{
    if (const std::optional<RowCondition> condition = RowConditionOf(text))
        return condition;
    if (text.trimmed().isEmpty() || text.contains(QLatin1Char('=')))
        return std::nullopt;
    return RowCondition{text.trimmed(), RowCondition::Test::IsNotEmpty, {}};
}

using RangePtr = std::shared_ptr<Word::Range>;

// Removes the first text in range, keeping the formatting of what stays. A text the search
// does not find (one that runs through a field, which the range's text shows as its result)
// stops the letter rather than leave a marker in it.
void RemoveFirst(const RangePtr& range, const QString& text, const QString& place)
{
    Word::ExecuteArguments arguments;
    arguments.FindText = text;
    arguments.ReplaceWith = QString();
    arguments.Replace = Word::wdReplaceOne;
    if (!Use(Use(range).Find()).Execute(arguments))
        throw AppError(QStringLiteral("The template's conditional text \"%1\" in %2 cannot be resolved: the office finds it no "
                                      "more as the text shows it. Keep fields out of conditional texts.")
                           .arg(text, place));
}

// The branch a letter shows: the first whose condition holds, else the [ELSE]; the end of the
// branches for none.
std::vector<ConditionalBranch>::const_iterator Chosen(const ConditionalText& part, const ConditionHolds& holds)
{
    return std::find_if(part.branches.begin(), part.branches.end(),
                        [&holds](const ConditionalBranch& branch) { return !branch.condition || holds(*branch.condition); });
}

// Leaves in range, one conditional text after the other, the text the letter shows: what
// comes before it in the conditional text goes, then what comes after it. Each is the first
// of its kind in the range, as the conditional texts before it are resolved and hold no marker.
void Resolve(const RangePtr& range, const QString& place, const ConditionHolds& holds)
{
    for (const ConditionalText& part : FindConditionalTexts(Use(range).Text(), place)) {
        const auto chosen = Chosen(part, holds);
        if (chosen == part.branches.end()) {
            RemoveFirst(range, part.whole, place);
            continue;
        }
        QString before;
        for (auto branch = part.branches.begin(); branch != chosen; ++branch)
            before += branch->marker + branch->text;
        QString after;
        for (auto branch = chosen + 1; branch != part.branches.end(); ++branch)
            after += branch->marker + branch->text;
        RemoveFirst(range, before + chosen->marker, place);
        RemoveFirst(range, after + part.endMarker, place);
    }
}

// Removes the paragraphs of range that ShowsNothing, the last first, so that removing one
// leaves the place of those before it as it was. They are looked for one by one only when the
// range holds such a paragraph in this letter.
void RemoveParagraphsShowingNothing(const RangePtr& range, const ConditionHolds& holds)
{
    const QString text = Use(range).Text();
    static const QRegularExpression paragraphEnd(QStringLiteral("[\\r\\n]"));
    const QStringList lines = text.split(paragraphEnd);
    if (std::none_of(lines.begin(), lines.end(), [&holds](const QString& line) { return ShowsNothing(line, holds); }))
        return;
    const QStringList marked = text.split(QLatin1Char('\r'));
    const auto paragraphs = range->Paragraphs();
    // Without tables the paragraphs are those the text marks, in order, and need not be read
    // again (the text ends with a paragraph mark, so splitting it gives one more).
    const bool aligned = Use(paragraphs).Count() == marked.size() - 1;
    for (int i = paragraphs->Count() - 1; i >= 0; --i) {
        const RangePtr paragraph = Use(paragraphs->Item(i)).Range();
        if (ShowsNothing(aligned ? marked[i] : Use(paragraph).Text(), holds))
            paragraph->Delete();
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
    qsizetype textFrom = 0;
    // The paragraph at a position, counted on from the previous marker's: the markers come
    // in order, so the text is counted through once however many there are.
    qsizetype countedTo = 0;
    int paragraphMarks = 0;
    const auto paragraphAt = [&](qsizetype at) {
        paragraphMarks += static_cast<int>(QStringView(text).sliced(countedTo, at - countedTo).count(QLatin1Char('\r')));
        countedTo = at;
        return paragraphMarks + 1;
    };
    const auto refuse = [&place](const QString& what, int paragraph) {
        return AppError(QStringLiteral("The template's %1 in %2, paragraph %3. A condition is written as [IF Column = value]"
                                       "text[ELSE IF Column = other value]text[ELSE]text[END IF] within one paragraph, and cannot "
                                       "hold another.")
                            .arg(what, place)
                            .arg(paragraph));
    };
    const auto notClosed = [&refuse](const ConditionalText& part) {
        return refuse(QStringLiteral("condition \"%1\" is not closed by [END IF] within its paragraph").arg(part.branches.front().marker),
                      part.paragraph);
    };
    for (const QRegularExpressionMatch& match : Marker().globalMatch(text)) {
        const int paragraph = paragraphAt(match.capturedStart());
        const bool opening = match.captured(1).compare(QLatin1String("IF"), Qt::CaseInsensitive) == 0;
        if (opening && open)
            throw refuse(QStringLiteral("condition \"%1\" stands inside the condition \"%2\"").arg(match.captured(), open->branches.front().marker),
                         paragraph);
        if (!opening && !open)
            throw refuse(QStringLiteral("\"%1\" has no [IF ...] before it").arg(match.captured()), paragraph);
        if (open && paragraph != open->paragraph)
            throw notClosed(*open);
        if (open) {
            if (!open->branches.back().condition && match.captured(4).isEmpty())
                throw refuse(QStringLiteral("condition \"%1\" has \"%2\" after its [ELSE]").arg(open->branches.front().marker, match.captured()),
                             paragraph);
            open->branches.back().text = text.mid(textFrom, match.capturedStart() - textFrom);
        }
        textFrom = match.capturedEnd();
        if (!match.captured(4).isEmpty()) {
            open->endMarker = match.captured();
            open->whole = text.mid(openedAt, match.capturedEnd() - openedAt);
            parts.push_back(*open);
            open.reset();
            continue;
        }
        std::optional<RowCondition> condition;
        if (!match.captured(1).isEmpty()) {
            condition = ConditionOf(match.captured(2));
            if (!condition)
                throw refuse(QStringLiteral("\"%1\" is no condition (such as [IF Region = North], [IF Discount] or "
                                            "[IF Discount is empty])").arg(match.captured()),
                             paragraph);
        }
        if (opening) {
            open = ConditionalText{{}, {}, {}, paragraph};
            openedAt = match.capturedStart();
        }
        open->branches.push_back({match.captured(), condition, {}});
    }
    if (open)
        throw notClosed(*open);
    return parts;
}

void CheckConditionalTexts(const QString& text, const QString& place, const std::function<bool(const QString& name)>& knows)
{
    for (const ConditionalText& part : FindConditionalTexts(text, place)) {
        for (const ConditionalBranch& branch : part.branches) {
            if (branch.condition && !knows(branch.condition->name))
                throw AppError(QStringLiteral("The template's condition \"%1\" in %2, paragraph %3, names no column of the list and "
                                              "no field of the letter.")
                                   .arg(branch.marker, place)
                                   .arg(part.paragraph));
        }
    }
}

bool ShowsNothing(const QString& paragraph, const ConditionHolds& holds)
{
    const std::vector<ConditionalText> parts = FindConditionalTexts(paragraph, QStringLiteral("a paragraph"));
    QString rest = paragraph;
    for (const ConditionalText& part : parts) {
        const auto chosen = Chosen(part, holds);
        if (chosen != part.branches.end() && !chosen->text.trimmed().isEmpty())
            return false;
        rest.remove(part.whole);
    }
    return !parts.empty() && rest.trimmed().isEmpty();
}

void ResolveConditionalTexts(const std::shared_ptr<Word::Document>& document, const ConditionHolds& holds)
{
    for (const DocumentText& text : DocumentTexts(Use(document))) {
        RemoveParagraphsShowingNothing(text.range, holds);
        Resolve(text.range, PlaceOf(text, QStringLiteral("template")), holds);
    }
}
