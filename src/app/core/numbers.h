#pragma once
// Locale-independent number reading with the C library's atof/atoi rules:
// leading white space, an optional sign, the longest number that follows;
// anything unreadable gives 0.
#include <string_view>

double LeadingDouble(std::string_view text);
// Like strtod: the number at the start of text (after white space) and how
// many characters it took; 0 characters when there is none.
double ParseDoublePrefix(std::string_view text, size_t* consumed);
// Like strtol in base 10, saturating at the range of long long.
long long ParseIntPrefix(std::string_view text, size_t* consumed);
double LeadingDouble(std::wstring_view text);
int LeadingInt(std::wstring_view text);  // saturates at INT_MIN/INT_MAX
