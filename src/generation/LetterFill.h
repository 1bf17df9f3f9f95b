#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Clock;
class GuardedProcedure;
namespace Word {
class Document;
}

// Today's date as a letter shows it: the short date of the user's locale.
QString LetterDate(const Clock& clock);

// Steps 114-162 of a generation run, on a document open in the word processor: every tag
// takes the text of its field, text(i) for field i, field after field, first in every
// story, then in every shape with text. The letter receives exactly those texts: a text
// that holds the tag of a later field keeps it (the later field does not replace it
// there), characters a Word document cannot hold are replaced (ToLetterText), and a text
// longer than LetterFieldLimit is reported at step 114 and left out. Returns the tags of
// the fields that had characters replaced.
QStringList FillFields(GuardedProcedure& run, const std::shared_ptr<Word::Document>& document,
                       const std::function<QString(int field)>& text);
