#pragma once
// What the video tests share: Media Foundation started once for the whole
// test program, and a message-only window to receive the pipeline's posts.
#include <gtest/gtest.h>
#include <windows.h>
#include <mfapi.h>

class MediaFoundation : public ::testing::Environment {
 public:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MFStartup(MF_VERSION, MFSTARTUP_LITE);
  }
};
inline const auto* const kMediaFoundation = ::testing::AddGlobalTestEnvironment(new MediaFoundation);

inline HWND MessageWindow() {
  WNDCLASSW c{};
  c.lpfnWndProc = DefWindowProcW;
  c.hInstance = GetModuleHandleW(nullptr);
  c.lpszClassName = L"OrvaneVideoTest";
  RegisterClassW(&c);  // fails harmlessly once registered
  return CreateWindowW(L"OrvaneVideoTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
}
