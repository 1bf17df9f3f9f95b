#pragma once

#include "LetterSelection.h"
#include "WordModel.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Text of a template shown only in the letters whose row meets a condition, written in the
// template as plain text within one paragraph, like the tags:
//
//   [IF Salutation = Frau]Sehr geehrte Frau[ELSE]Sehr geehrter Herr[END IF] [RecipientName],
//   [IF Discount]Ihr Rabatt: [Discount].[END IF]
//
// The condition is one --where takes ("Name = value", "Name != value", "Name is empty",
// "Name is not empty"), or a name alone for "is not empty"; the markers are matched ignoring
// letter case and spaces. The part after [ELSE] is optional. A paragraph of the main text
// that holds nothing but conditional text and shows none of it in a letter is left out of
// that letter whole. Conditions cannot be nested.

// One conditional text as the template writes it.
struct ConditionalText {
    // The opening marker, "[IF Salutation = Frau]", and its condition.
    QString opening;
    RowCondition condition;
    // What it shows when the condition holds, and else (nothing without an [ELSE]).
    QString shown;
    std::optional<QString> otherwise;
    // The closing markers as written: "[ELSE]" (empty without one) and "[END IF]".
    QString elseMarker;
    QString endMarker;
    // From the opening marker to the end of "[END IF]", as the template writes it.
    QString whole;
    // The paragraph that holds it, from 1.
    int paragraph = 0;
};

// Whether a bracketed text is one of the markers ("[IF ...]", "[ELSE]", "[END IF]"), which
// are not tags.
bool IsConditionMarker(const QString& tag);
// The condition of an opening marker ("[IF Region = North]"); nothing for any other text.
std::optional<RowCondition> MarkerCondition(const QString& marker);

// The conditional texts of text (a story's paragraphs, each ending in "\r"), in order. Throws
// AppError naming place ("the main text") and the paragraph of a marker out of place: an
// [ELSE] or [END IF] with no [IF] before it, an [IF] not closed within its paragraph, an [IF]
// inside another, an [IF] with no condition.
std::vector<ConditionalText> FindConditionalTexts(const QString& text, const QString& place);

// Whether a condition holds for the letter being made.
using ConditionHolds = std::function<bool(const RowCondition&)>;

// What a paragraph whose text is paragraph shows of its conditional texts: nothing when it
// holds one or more and nothing else but spaces, and none of them shows anything.
bool ShowsNothing(const QString& paragraph, const ConditionHolds& holds);

// Gives every conditional text of the document its letter's part: in the stories and the
// text of the shapes, the part that shows stays with its formatting and the markers and
// the other part go; a main-text paragraph that ShowsNothing goes whole.
void ResolveConditionalTexts(const std::shared_ptr<Word::Document>& document, const ConditionHolds& holds);
