#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform.h"

namespace {
std::mutex g_logMutex;
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

void LogLine(const char* format, ...) {
  std::lock_guard lock(g_logMutex);
  if (!g_logFile) return;
  TimeOfDay t = LocalTimeOfDay();
  std::fprintf(g_logFile, "%02d:%02d:%02d.%03d ", t.hour, t.minute, t.second, t.millisecond);
  va_list args;
  va_start(args, format);
  std::vfprintf(g_logFile, format, args);
  va_end(args);
  std::fputc('\n', g_logFile);
  std::fflush(g_logFile);
}
