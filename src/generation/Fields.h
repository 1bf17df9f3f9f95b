#pragma once

#include <array>

// The fourteen fields of the data-entry window, addressed by index. Each field replaces
// its tag in the letter. Indexes 0-12 are typed by the user; 13 is the hidden date field.
inline constexpr int FieldCount = 14;
inline constexpr int TypedFieldCount = 13;
inline constexpr int DateFieldIndex = 13;

// Each field's tag, by index (three to a row, as FieldMeanings below).
inline constexpr std::array<const char*, FieldCount> FieldTags = {
    "[YourName]",      "[City]",           "[ZIPCode2]",
    "[ST2]",           "[StreetAddress2]", "[City2]",
    "[StreetAddress]", "[RecipientName]",  "[ST]",
    "[ZIPCode]",       "[Title]",          "[CompanyName]",
    "[YourTitle]",     "[CurrentDate]",
};

// What each field holds, by index, as messages name it.
inline constexpr std::array<const char*, FieldCount> FieldMeanings = {
    "the sender's name",           "the sender's city",              "the recipient's ZIP code",
    "the recipient's state",       "the recipient's street address", "the recipient's city",
    "the sender's street address", "the recipient's name",           "the sender's state",
    "the sender's ZIP code",       "the recipient's title",          "the recipient's company",
    "the sender's title",          "the letter's date",
};

// The typed fields in the order the letter and the window show them: the sender's name,
// title and address, then the recipient's name, title, company and address.
inline constexpr std::array<int, TypedFieldCount> FieldsInLetterOrder = {0, 12, 6, 1, 8, 9, 7, 10, 11, 4, 5, 3, 2};
