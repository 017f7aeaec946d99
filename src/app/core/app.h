#pragma once
// Process-wide values that start-up creates and the rest of the program
// reads (UI thread unless said otherwise).
#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>
#include <dwrite.h>
#include <dxgi.h>
#include <wrl/client.h>

#include <cstdint>
#include "window_messages.h"

struct App {
  HINSTANCE instance = nullptr;
  uint64_t startTick = 0;  // GetTickCount64 at entry
  Microsoft::WRL::ComPtr<ID2D1Factory1> d2dFactory;
  Microsoft::WRL::ComPtr<ID2D1Multithread> d2dMultithread;
  Microsoft::WRL::ComPtr<IDWriteFactory> dwriteFactory;
  // The windows' graphics device; replaced when it is lost.
  Microsoft::WRL::ComPtr<ID3D11Device> d3dDevice;
  Microsoft::WRL::ComPtr<IDXGIDevice> dxgiDevice;
  Microsoft::WRL::ComPtr<ID2D1Device> d2dDevice;
  HWND mainWindow = nullptr;
  HWND panelWindow = nullptr;
  UINT taskbarCreatedMessage = 0;
  HANDLE instanceMutex = nullptr;
};

extern App g_app;

inline constexpr int kIconResource = 101;
