#pragma once
// The optional text log: one time-stamped line per event, flushed at once.
#include <mutex>
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

// For a crash handler: the same line, unless the log stays taken for
// kLogBusyWaitMs (the crashing thread may hold it itself, inside LogLine);
// false when nothing was written. It never waits longer.
inline constexpr int kLogBusyWaitMs = 200;
bool LogLineUnlessBusy(const char* format, ...) ORVANE_PRINTF(1, 2);
// Tests only: holds the log's lock, as a thread inside LogLine does.
std::unique_lock<std::timed_mutex> HoldLogForTests();
