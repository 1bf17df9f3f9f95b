#pragma once

#include "LetterSelection.h"
#include "generation/WordModel.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Text of a template shown only in the letters whose row meets a condition, written in the
// template as plain text within one paragraph, like the tags:
//
//   [IF Anrede = Frau]Sehr geehrte Frau [Name],[ELSE IF Anrede = Herr]Sehr geehrter Herr [Name],[ELSE]Sehr geehrte Damen und Herren,[END IF]
//   [IF Rabatt]Ihr Rabatt: [Rabatt].[END IF]
//
// A condition is one --where takes ("Name = value", "Name != value", "Name is empty", "Name
// is not empty"), or a name alone for "is not empty"; the markers are matched ignoring
// letter case and spaces. A letter shows the text after the first condition that holds, else
// the text after [ELSE], else nothing; [ELSE IF ...] and [ELSE] are optional. A paragraph
// (outside a table) that holds nothing but conditional text and shows none of it in a letter
// is left out of that letter whole. Conditions cannot be nested.

// One way a conditional text may go: its marker as written ("[IF Anrede = Frau]", "[ELSE IF
// ...]", "[ELSE]"), its condition (none for [ELSE]) and the text after the marker.
struct ConditionalBranch {
    QString marker;
    std::optional<RowCondition> condition;
    QString text;
};

// One conditional text as the template writes it.
struct ConditionalText {
    std::vector<ConditionalBranch> branches;
    // The closing marker as written, "[END IF]".
    QString endMarker;
    // From the opening marker to the end of the closing one.
    QString whole;
    // The paragraph that holds it, from 1.
    int paragraph = 0;
};

// Whether a bracketed text is one of the markers ("[IF ...]", "[ELSE]", "[END IF]"), which
// are not tags.
bool IsConditionMarker(const QString& tag);
// The condition of an [IF ...] or [ELSE IF ...] marker; nothing for any other text.
std::optional<RowCondition> MarkerCondition(const QString& marker);

// The conditional texts of text (a story's paragraphs, each ending in "\r"), in order. Throws
// AppError naming place ("the main text") and the paragraph of a marker out of place: an
// [ELSE IF], [ELSE] or [END IF] with no [IF] before it, an [IF] not closed within its
// paragraph, an [IF] inside another, a marker after [ELSE] other than [END IF], a marker with
// no condition.
std::vector<ConditionalText> FindConditionalTexts(const QString& text, const QString& place);

// FindConditionalTexts, and refused as well naming its place and paragraph: a condition on a
// name that knows does not know (a column or field).
void CheckConditionalTexts(const QString& text, const QString& place, const std::function<bool(const QString& name)>& knows);

// Whether a condition holds for the letter being made.
using ConditionHolds = std::function<bool(const RowCondition&)>;

// What a paragraph whose text is paragraph shows of its conditional texts: nothing when it
// holds one or more and nothing else but spaces, and none of them shows anything.
bool ShowsNothing(const QString& paragraph, const ConditionHolds& holds);

// Gives every conditional text of the document its letter's part: in the stories and the
// text of the shapes, the part that shows stays with its formatting and the markers and
// the other part go; a paragraph outside a table that ShowsNothing goes whole.
void ResolveConditionalTexts(const std::shared_ptr<Word::Document>& document, const ConditionHolds& holds);
