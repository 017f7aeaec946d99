#pragma once
// The few operating-system services the portable core needs. One
// implementation per platform: platform_win.cpp for the program,
// platform_posix.cpp for the native build and its tests.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator[] = L"\\";
#else
inline constexpr wchar_t kPathSeparator[] = L"/";
#endif

// Microseconds of the monotonic performance counter.
int64_t MicrosecondsNow();

struct TimeOfDay {
  int hour, minute, second, millisecond;
};
TimeOfDay LocalTimeOfDay();

// The system's generator, tried three times before it counts as failed.
[[nodiscard]] bool RandomBytes(void* out, size_t count);

// The user's roaming application-data folder, without a trailing separator.
[[nodiscard]] bool RoamingAppDataFolder(std::wstring* folder);
// Failure (the folder exists, or anything else) is not reported.
void CreateFolder(const std::wstring& folder);
// A missing or unreadable file reads as false with nothing in *bytes.
// Reading stops after maxBytes.
[[nodiscard]] bool ReadWholeFile(const std::wstring& path, std::string* bytes, size_t maxBytes = SIZE_MAX);
// Writes a sibling temporary file, flushes it to disk and moves it over
// path in one step, so a reader sees either the old file or the new one.
[[nodiscard]] bool ReplaceFileContents(const std::wstring& path, std::string_view bytes);
// Opens a text file for writing, truncating it; null on failure.
std::FILE* OpenTextFileForWriting(const std::wstring& path);
