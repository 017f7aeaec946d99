#include <gtest/gtest.h>
#include <windows.h>
// After windows.h.
#include <sddl.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/core/diagnostics_win.h"
#include "app/core/log.h"
#include "app/core/platform.h"
#include "common/win_handles.h"

namespace {

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

std::string Contents(const std::wstring& path) {
  std::string bytes;
  (void)ReadWholeFile(path, &bytes);
  return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(Platform, ReplaceFileContentsSwapsWholeFilesAndLeavesNoTemporary) {
  std::wstring path = TempPath(L"orvane-replace.ini");
  DeleteFileW(path.c_str());
  ASSERT_TRUE(ReplaceFileContents(path, "uno\n"));
  EXPECT_EQ(Contents(path), "uno\n");
  ASSERT_TRUE(ReplaceFileContents(path, std::string(100000, 'x')));
  EXPECT_EQ(Contents(path).size(), 100000u);
  ASSERT_TRUE(ReplaceFileContents(path, ""));
  EXPECT_EQ(Contents(path), "");
  EXPECT_FALSE(Exists(path + L".tmp"));
  DeleteFileW(path.c_str());
}

TEST(Platform, ReplaceRetriesWhileTheFileIsBrieflyLocked) {
  std::wstring path = TempPath(L"orvane-locked.ini");
  ASSERT_TRUE(ReplaceFileContents(path, "viejo"));
  UniqueHandle lock(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock);
  std::thread release([&] {
    Sleep(150);
    lock.Reset();
  });
  bool replaced = ReplaceFileContents(path, "nuevo");
  release.join();
  EXPECT_TRUE(replaced);
  EXPECT_EQ(Contents(path), "nuevo");
  DeleteFileW(path.c_str());
}

TEST(Platform, FailedReplaceKeepsTheOldFile) {
  std::wstring path = TempPath(L"orvane-held.ini");
  ASSERT_TRUE(ReplaceFileContents(path, "viejo"));
  {
    UniqueHandle lock(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    EXPECT_FALSE(ReplaceFileContents(path, "nuevo"));
  }
  EXPECT_EQ(Contents(path), "viejo");
  EXPECT_FALSE(Exists(path + L".tmp"));
  EXPECT_FALSE(ReplaceFileContents(TempPath(L"no-such-folder\\x.ini"), "a"));
  DeleteFileW(path.c_str());
}

TEST(Platform, MissingFileReadsAsNothing) {
  std::string bytes = "stale";
  EXPECT_FALSE(ReadWholeFile(TempPath(L"orvane-missing.ini"), &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(Platform, RandomBytesAndClock) {
  uint8_t a[32] = {}, b[32] = {};
  ASSERT_TRUE(RandomBytes(a, sizeof a));
  ASSERT_TRUE(RandomBytes(b, sizeof b));
  EXPECT_NE(memcmp(a, b, sizeof a), 0);
  int64_t t0 = MicrosecondsNow();
  Sleep(20);
  int64_t elapsed = MicrosecondsNow() - t0;
  EXPECT_GE(elapsed, 15000);
  EXPECT_LT(elapsed, 2000000);
}

TEST(Platform, RoamingFolderIsKnown) {
  std::wstring folder;
  ASSERT_TRUE(RoamingAppDataFolder(&folder));
  EXPECT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), L'\\');
}

TEST(Platform, LogIsTextModeWithCrLf) {
  std::wstring path = TempPath(L"orvane-test.log");
  LogOpen(path);
  LogLine("uno %s", "\xc3\xb1");
  LogLine("dos");
  LogClose();
  std::string text = Contents(path);
  ASSERT_EQ(text.size(), 2 * 13 + 8 + 5u);
  EXPECT_EQ(text.substr(13, 8), "uno \xc3\xb1\r\n");
  EXPECT_EQ(text.substr(13 + 8 + 13), "dos\r\n");
  DeleteFileW(path.c_str());
}


// The crash filter as the program installs it, in the build that ships: a
// crash while the log is held (by the crashing thread itself, inside a log
// line) must let the process end, not hang it; no line then.
TEST(Platform, TheCrashFilterGivesUpOnALogHeldByTheCrashingThread) {
  std::wstring path = TempPath(L"orvane-crash.log");
  DeleteFileW(path.c_str());
  LogOpen(path);
  LogCrashes();
  LPTOP_LEVEL_EXCEPTION_FILTER filter = SetUnhandledExceptionFilter(nullptr);
  ASSERT_NE(filter, nullptr);
  auto answer = std::make_shared<std::atomic<LONG>>(-99);
  HANDLE crashed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread([filter, answer, crashed] {
    auto held = HoldLogForTests();
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.ExceptionAddress = reinterpret_cast<void*>(&LogLine);
    CONTEXT context{};
    RtlCaptureContext(&context);
    EXCEPTION_POINTERS pointers{&record, &context};
    *answer = filter(&pointers);
    SetEvent(crashed);
  }).detach();
  // The thread is left behind, never waited for without end, if the filter hangs.
  ASSERT_EQ(WaitForSingleObject(crashed, 10000), WAIT_OBJECT_0) << "the crash filter hung on the held log";
  CloseHandle(crashed);
  EXPECT_EQ(*answer, EXCEPTION_CONTINUE_SEARCH) << "on to the system's handling: the process ends";
  LogLine("after");
  LogClose();
  const std::string text = Contents(path);
  EXPECT_EQ(text.find("Falla:"), std::string::npos) << text;
  EXPECT_NE(text.find("after"), std::string::npos) << "the log was free again";
  DeleteFileW(path.c_str());
}

// A copy run as administrator holds the single-instance mutex with a
// security that lets a normal copy neither make nor open it: the normal copy
// must take that as a running copy and end, not start a second listener.
TEST(Platform, AStartThatMayNotOpenTheRunningCopysMutexEndsLikeASecondCopy) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                                   nullptr));
  SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
  HANDLE held = CreateMutexW(&security, TRUE, L"Local\\OrvaneParaPC");
  LocalFree(descriptor);
  ASSERT_NE(held, nullptr);

  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring program = exe;
  program = program.substr(0, program.rfind(L'\\') + 1) + L"Orvane.exe";
  const std::wstring log = TempPath(L"orvane-mutex.log");
  DeleteFileW(log.c_str());
  std::wstring command = L"\"" + program + L"\" --oculta --salir-tras 10 --registro \"" + log + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  DWORD code = 9999;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  else TerminateProcess(process.hProcess, code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(held);
  EXPECT_EQ(code, 0u);
  const std::string text = Contents(log);
  EXPECT_NE(text.find("Otra copia de Orvane corre como administrador: no abro otra"), std::string::npos) << text;
  EXPECT_EQ(text.find("Escuchando en"), std::string::npos) << "it started all the same";
  DeleteFileW(log.c_str());
}

}  // namespace
