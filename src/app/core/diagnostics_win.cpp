#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>

#include "../../common/win_missing.h"
#include "diagnostics_win.h"
#include "log.h"

namespace {
CpuMemorySample g_sample;

uint64_t FileTimeValue(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}
}  // namespace

void SampleCpuAndMemory() {
  FILETIME created, exited, kernel, user, now;
  if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    GetSystemTimeAsFileTime(&now);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    UpdateCpuPercent(&g_sample, FileTimeValue(kernel) + FileTimeValue(user), FileTimeValue(now),
                     info.dwNumberOfProcessors);
  }
  PROCESS_MEMORY_COUNTERS_EX2 counters{};
  counters.cb = sizeof counters;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
    g_sample.memoryMb = static_cast<double>(counters.PrivateWorkingSetSize) / 1048576.0;
  }
}

const CpuMemorySample& CurrentCpuMemory() { return g_sample; }

namespace {

// "module+offset" for a code address.
void DescribeAddress(DWORD64 address, char* out, size_t size) {
  HMODULE module = nullptr;
  char name[MAX_PATH] = "?";
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(address), &module)) {
    char path[MAX_PATH];
    if (GetModuleFileNameA(module, path, MAX_PATH)) {
      const char* slash = strrchr(path, '\\');
      snprintf(name, sizeof name, "%s", slash ? slash + 1 : path);
    }
  }
  snprintf(out, size, "%s+0x%llx", name,
           static_cast<unsigned long long>(address - reinterpret_cast<DWORD64>(module)));
}

// The crash's lines: code, place and thread, then the call chain, by
// unwinding a copy of the faulting context.
void WriteCrashLines(const EXCEPTION_POINTERS* pointers, DWORD thread) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  char where[MAX_PATH + 32];
  DescribeAddress(reinterpret_cast<DWORD64>(record->ExceptionAddress), where, sizeof where);
  // A log that stays taken stays taken: no chain then, rather than a wait per frame.
  if (!LogLineUnlessBusy("Falla: excepción 0x%08lx en %s (hilo %lu)", record->ExceptionCode, where, thread)) return;
  CONTEXT context = *pointers->ContextRecord;
  for (int frame = 0; frame < 24 && context.Rip; ++frame) {
    DWORD64 base = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &base, nullptr);
    if (!function) break;
    void* handlerData = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handlerData, &establisher, nullptr);
    if (!context.Rip) break;  // the thread's first frame
    DescribeAddress(context.Rip, where, sizeof where);
    LogLineUnlessBusy("  desde %s", where);
  }
}

// The lines are written by a thread of their own, made at start: a thread
// that overflowed its stack has almost none left to write them with, and
// the faulting thread may hold the log itself. The filter only hands the
// crash over and waits, a bounded time, so the process always ends.
struct CrashHandOver {
  HANDLE asked = nullptr, written = nullptr;
  const EXCEPTION_POINTERS* pointers = nullptr;
  DWORD thread = 0;
  volatile LONG taken = 0;  // the first crash is written, later ones wait for it
};
CrashHandOver g_crash;

DWORD WINAPI CrashWriter(void*) {
  WaitForSingleObject(g_crash.asked, INFINITE);
  WriteCrashLines(g_crash.pointers, g_crash.thread);
  SetEvent(g_crash.written);
  return 0;
}

LONG WINAPI LogCrash(EXCEPTION_POINTERS* pointers) {
  if (InterlockedExchange(&g_crash.taken, 1) != 0) {
    // Another thread's crash is being written: the process ends after it.
    if (g_crash.written) WaitForSingleObject(g_crash.written, 5000);
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (!g_crash.asked) {
    WriteCrashLines(pointers, GetCurrentThreadId());  // no writer thread: as well as it goes here
    return EXCEPTION_CONTINUE_SEARCH;
  }
  g_crash.pointers = pointers;
  g_crash.thread = GetCurrentThreadId();
  SetEvent(g_crash.asked);
  WaitForSingleObject(g_crash.written, 5000);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void LogCrashes() {
  g_crash.asked = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_crash.written = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE writer = g_crash.asked && g_crash.written
                      ? CreateThread(nullptr, 256 * 1024, CrashWriter, nullptr, 0, nullptr)
                      : nullptr;
  if (writer) {
    CloseHandle(writer);
  } else if (g_crash.asked) {
    CloseHandle(g_crash.asked);
    g_crash.asked = nullptr;
  }
  SetUnhandledExceptionFilter(LogCrash);
}

