// The installer's log: plain lines without time stamps, each flushed as it
// is written so a crash or a kill leaves everything up to that point.
#include <cstdarg>
#include <cwchar>
#include <vector>

#include "setup_win.h"

void OpenLog(const std::wstring& path) {
  // Truncates an earlier run's log; without a log the installer runs on.
  g_setup.log = _wfopen(path.c_str(), L"w, ccs=UTF-8");
}

void CloseLog() {
  if (g_setup.log) fclose(g_setup.log);
  g_setup.log = nullptr;
}

void LogLine(const wchar_t* format, ...) {
  if (!g_setup.log) return;
  std::vector<wchar_t> text(512);
  for (;;) {
    va_list args;
    va_start(args, format);
    int n = vswprintf(text.data(), text.size(), format, args);
    va_end(args);
    if (n >= 0) break;
    // Paths may be long: grow until the line fits, within reason.
    if (text.size() >= 65536) {
      text[text.size() - 1] = L'\0';
      break;
    }
    text.resize(text.size() * 4);
  }
  fputws(text.data(), g_setup.log);
  fputws(L"\n", g_setup.log);
  fflush(g_setup.log);
}
