#pragma once
// Declarations the mingw-w64 10 headers lack. A Windows SDK build has its
// own; the guards keep those.
#include <windows.h>

// DWM window attributes of Windows 11 (dwmapi.h). Own names, so they never
// clash with the SDK's enumerators.
inline constexpr DWORD kDwmwaUseImmersiveDarkMode = 20;
inline constexpr DWORD kDwmwaWindowCornerPreference = 33;
inline constexpr DWORD kDwmwaBorderColor = 34;
inline constexpr DWORD kDwmwcpRound = 2;

#if defined(__MINGW32__) && !defined(ORVANE_HAVE_PROCESS_MEMORY_COUNTERS_EX2)
// psapi.h, Windows 10 1809 and later: 96 bytes on x64.
struct PROCESS_MEMORY_COUNTERS_EX2 {
  DWORD cb;
  DWORD PageFaultCount;
  SIZE_T PeakWorkingSetSize;
  SIZE_T WorkingSetSize;
  SIZE_T QuotaPeakPagedPoolUsage;
  SIZE_T QuotaPagedPoolUsage;
  SIZE_T QuotaPeakNonPagedPoolUsage;
  SIZE_T QuotaNonPagedPoolUsage;
  SIZE_T PagefileUsage;
  SIZE_T PeakPagefileUsage;
  SIZE_T PrivateUsage;
  SIZE_T PrivateWorkingSetSize;
  ULONG64 SharedCommitUsage;
};
static_assert(sizeof(PROCESS_MEMORY_COUNTERS_EX2) == 96);
#endif
