#pragma once
// The UI thread's windows: procedures, the one-second tick, rendering,
// the tray icon.
#include <windows.h>

struct AppWindow {
  HWND window = nullptr;
  bool isPanel = false;
  float dpi = 96.0f;
};

extern AppWindow g_main;
extern AppWindow g_panel;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Drawing of the windows' contents and the tray icon come with the user
// interface; until then these draw nothing.
void RenderBothWindows();
void UpdatePreviewSize();
void UpdateTrayIcon(bool add);
