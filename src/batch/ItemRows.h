#pragma once

#include "generation/LetterFill.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace Word {
class Document;
}

// A table row of a template written once for each of a letter's items: its table among the
// document's tables, and its row, both from 0.
struct ItemRowPlace {
    int table = 0;
    int row = 0;
};

// The rows of document whose tags include one isItemTag tells (a tag of the items' columns),
// in the document's order. A tag that isOnlyItemTag tells (an item's column and no column or
// field of the letter's) in a paragraph outside a table, where nothing repeats, is refused
// with its place in the template called shown.
std::vector<ItemRowPlace> FindItemRows(Word::Document& document, const std::function<bool(const QString& tag)>& isItemTag,
                                       const std::function<bool(const QString& tag)>& isOnlyItemTag, const QString& shown);

// An item's text put into the letter in place of a stand-in, once the letter's other tags are
// filled: it holds a text in brackets that they would take for a tag.
struct ShelteredText {
    QString standIn;
    QString text;
};

// Writes each row of places once for each of a letter's items (items: each item's tag
// texts, in the letter's order), in the item's order, with the row's formatting; a row is left
// out of a letter without items. Each copy's tags take its item's texts, made fit for a letter
// (ToLetterText). Returns what stands in for texts that hold brackets (see PutBack), and adds
// to replacedIn the tags whose texts had characters replaced. Throws AppError when a text is
// longer than a letter takes, or the office fails.
std::vector<ShelteredText> FillItemRows(Word::Document& document, const std::vector<ItemRowPlace>& places,
                                        const std::vector<std::vector<TagText>>& items, QStringList& replacedIn);

// Puts the sheltered texts in place of their stand-ins, in every story.
void PutBack(Word::Document& document, const std::vector<ShelteredText>& sheltered);
