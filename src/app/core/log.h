#pragma once
// The optional text log: one time-stamped line per event, flushed at once.
#include <string>

#if defined(__MINGW32__)
#define ORVANE_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(_MSC_VER)
#define ORVANE_PRINTF(f, a)
#else
#define ORVANE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// Opens (truncating) the log file; an empty path or a failure leaves
// logging off.
void LogOpen(const std::wstring& path);
void LogClose();
bool LogIsOpen();
// Safe from any thread; does nothing while no log file is open.
void LogLine(const char* format, ...) ORVANE_PRINTF(1, 2);
