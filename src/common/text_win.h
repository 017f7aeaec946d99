#pragma once
// UTF-8 inside the program, UTF-16 at Windows calls. Invalid input turns
// into replacement characters rather than being dropped.
#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
