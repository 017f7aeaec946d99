#include "log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform.h"

namespace {
std::timed_mutex g_logMutex;
std::FILE* g_logFile = nullptr;
}  // namespace

void LogOpen(const std::wstring& path) {
  if (path.empty()) return;
  std::lock_guard lock(g_logMutex);
  g_logFile = OpenTextFileForWriting(path);
}

void LogClose() {
  std::lock_guard lock(g_logMutex);
  if (g_logFile) std::fclose(g_logFile);
  g_logFile = nullptr;
}

bool LogIsOpen() {
  std::lock_guard lock(g_logMutex);
  return g_logFile != nullptr;
}

namespace {

// The caller holds the lock.
void WriteLine(const char* format, va_list args) {
  if (!g_logFile) return;
  TimeOfDay t = LocalTimeOfDay();
  std::fprintf(g_logFile, "%02d:%02d:%02d.%03d ", t.hour, t.minute, t.second, t.millisecond);
  std::vfprintf(g_logFile, format, args);
  std::fputc('\n', g_logFile);
  std::fflush(g_logFile);
}

}  // namespace

void LogLine(const char* format, ...) {
  std::lock_guard lock(g_logMutex);
  va_list args;
  va_start(args, format);
  WriteLine(format, args);
  va_end(args);
}

bool LogLineUnlessBusy(const char* format, ...) {
  std::unique_lock lock(g_logMutex, std::defer_lock);
  if (!lock.try_lock_for(std::chrono::milliseconds(kLogBusyWaitMs))) return false;
  va_list args;
  va_start(args, format);
  WriteLine(format, args);
  va_end(args);
  return true;
}

std::unique_lock<std::timed_mutex> HoldLogForTests() { return std::unique_lock(g_logMutex); }
