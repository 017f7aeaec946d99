#include <windows.h>
#include <psapi.h>

#include "../../common/win_missing.h"
#include "diagnostics_win.h"

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
