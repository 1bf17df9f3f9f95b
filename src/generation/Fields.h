#pragma once

#include <array>

// The fourteen fields of the data-entry window, addressed by index. Each field replaces
// its tag in the letter. Indexes 0-12 are typed by the user; 13 is the hidden date field.
inline constexpr int FieldCount = 14;
inline constexpr int TypedFieldCount = 13;
inline constexpr int DateFieldIndex = 13;

inline constexpr std::array<const char*, FieldCount> FieldTags = {
    "[YourName]",        // 0  sender's name
    "[City]",            // 1  sender's city
    "[ZIPCode2]",        // 2  recipient's ZIP code
    "[ST2]",             // 3  recipient's state
    "[StreetAddress2]",  // 4  recipient's street address
    "[City2]",           // 5  recipient's city
    "[StreetAddress]",   // 6  sender's street address
    "[RecipientName]",   // 7  recipient's name
    "[ST]",              // 8  sender's state
    "[ZIPCode]",         // 9  sender's ZIP code
    "[Title]",           // 10 recipient's title
    "[CompanyName]",     // 11 recipient's company name
    "[YourTitle]",       // 12 sender's title
    "[CurrentDate]",     // 13 date of the latest run
};
