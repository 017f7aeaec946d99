#pragma once
// What the system stand-ins write into their call logs.
#include <windows.h>

#include <string>

// The text as UTF-8 in quotes; "null" for a null pointer.
inline std::string Utf8(const wchar_t* text) {
  if (!text) return "null";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(out.size() - 1);
  return "\"" + out + "\"";
}
