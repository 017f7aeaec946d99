#pragma once
// Locale-independent number reading with the C library's atof/atoi rules:
// leading white space, an optional sign, the longest number that follows;
// anything unreadable gives 0.
#include <string_view>

double LeadingDouble(std::string_view text);
double LeadingDouble(std::wstring_view text);
int LeadingInt(std::wstring_view text);  // saturates at INT_MIN/INT_MAX
