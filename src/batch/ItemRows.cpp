#include "ItemRows.h"

#include "UserTemplate.h"
#include "core/AppError.h"
#include "generation/LetterText.h"
#include "generation/WordModel.h"

#include <QDir>

#include <algorithm>

namespace {

// Stands in for an item's text that holds a bracket until the letter's own tags are filled,
// so that they do not fill a tag inside it. No tag matches it, and no text of a letter holds
// it (ToLetterText replaces non-characters).
QString StandIn(std::size_t number)
{
    return QChar(0xFDD2) + QString::number(number) + QChar(0xFDD3);
}

void ReplaceAllIn(Word::Range& range, const QString& find, const QString& with)
{
    Word::ExecuteArguments arguments;
    arguments.FindText = find;
    arguments.ReplaceWith = with;
    arguments.Replace = Word::wdReplaceAll;
    Use(range.Find()).Execute(arguments);
}
}

std::vector<ItemRowPlace> FindItemRows(Word::Document& document, const std::function<bool(const QString& tag)>& isItemTag,
                                       const std::function<bool(const QString& tag)>& isOnlyItemTag, const QString& shown)
{
    for (const DocumentText& part : DocumentTexts(document)) {
        const auto paragraphs = Use(part.range).Paragraphs();
        for (int i = 0; i < Use(paragraphs).Count(); ++i) {
            QStringList outside = FindTags(Use(Use(paragraphs->Item(i)).Range()).Text());
            outside.removeIf([&](const QString& tag) { return !isOnlyItemTag(tag); });
            if (!outside.isEmpty())
                throw AppError(QStringLiteral("The %1 has %2 in paragraph %3, outside a table: only a table's rows are written "
                                              "once for each item. Put %4 into a row of a table, such as the row under the "
                                              "table's headings.")
                                   .arg(PlaceOf(part, QStringLiteral("template \"%1\"").arg(QDir::toNativeSeparators(shown))),
                                        outside.join(QStringLiteral(", ")))
                                   .arg(i + 1)
                                   .arg(outside.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")));
        }
    }
    std::vector<ItemRowPlace> places;
    const auto tables = document.Tables();
    for (int table = 0; table < Use(tables).Count(); ++table) {
        const auto rows = Use(tables->Item(table)).Rows();
        for (int row = 0; row < Use(rows).Count(); ++row) {
            const QStringList tags = FindTags(Use(Use(rows->Item(row)).Range()).Text());
            if (std::any_of(tags.begin(), tags.end(), isItemTag))
                places.push_back({table, row});
        }
    }
    return places;
}

std::vector<ShelteredText> FillItemRows(Word::Document& document, const std::vector<ItemRowPlace>& places,
                                        const std::vector<std::vector<TagText>>& items, QStringList& replacedIn)
{
    std::vector<ShelteredText> sheltered;
    if (places.empty())
        return sheltered;
    // The texts as the letter takes them, each item's once for every row.
    std::vector<std::vector<TagText>> texts = items;
    for (std::vector<TagText>& item : texts) {
        for (TagText& each : item) {
            if (each.text.size() > LetterFieldLimit)
                throw AppError(QStringLiteral("An item's text for %1 is %2 characters long; the letter takes at most %3 "
                                              "characters a tag.")
                                   .arg(each.tag)
                                   .arg(each.text.size())
                                   .arg(LetterFieldLimit));
            const LetterText letter = ToLetterText(each.text);
            if (letter.replaced && !replacedIn.contains(each.tag))
                replacedIn << each.tag;
            each.text = letter.text;
            if (each.text.contains(QLatin1Char('['))) {
                sheltered.push_back({StandIn(sheltered.size()), each.text});
                each.text = sheltered.back().standIn;
            }
        }
    }
    std::vector<Word::TagReplacements> replacements;
    for (const std::vector<TagText>& item : texts) {
        Word::TagReplacements own;
        for (const TagText& each : item)
            own.emplace_back(each.tag, each.text);
        replacements.push_back(std::move(own));
    }
    // From the last row up, so that the places of the rows above stay as they were.
    std::vector<ItemRowPlace> order = places;
    std::sort(order.begin(), order.end(), [](const ItemRowPlace& a, const ItemRowPlace& b) {
        return a.table != b.table ? a.table > b.table : a.row > b.row;
    });
    const auto tables = document.Tables();
    for (const ItemRowPlace& place : order)
        Use(Use(Use(Use(tables).Item(place.table)).Rows()).Item(place.row)).Repeat(replacements);
    return sheltered;
}

void PutBack(Word::Document& document, const std::vector<ShelteredText>& sheltered)
{
    if (sheltered.empty())
        return;
    const auto stories = document.StoryRanges();
    for (int i = 0; i < Use(stories).Count(); ++i) {
        for (const ShelteredText& each : sheltered)
            ReplaceAllIn(Use(stories->Item(i)), each.standIn, each.text);
    }
}
