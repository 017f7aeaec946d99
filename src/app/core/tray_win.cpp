// The tray icon (its picture follows the link's state), its menu, and the
// floating panel it opens.
#include <windows.h>
#include <d2d1_1.h>
#include <shellapi.h>
#include <shellscalingapi.h>
#include <wincodec.h>

#include <cstring>
#include <vector>

#include "../../common/text_win.h"
#include "../link/phone_link.h"
#include "../ui/image_io_win.h"
#include "app.h"
#include "app_window.h"
#include "ui_rules.h"

using Microsoft::WRL::ComPtr;

namespace {

// The tray's icon picture at the small-icon size, as an icon with straight alpha.
HICON MakeTrayIcon(uint32_t colour) {
  UINT dpi = GetDpiForWindow(g_main.window);
  if (dpi == 0) dpi = 96;
  int size = GetSystemMetricsForDpi(SM_CXSMICON, dpi);
  if (size <= 0) size = 16;
  WicCanvas canvas;
  if (!MakeWicCanvas(g_app.d2dFactory.Get(), static_cast<unsigned>(size), static_cast<unsigned>(size), 96, &canvas)) {
    return nullptr;
  }
  ID2D1RenderTarget* target = canvas.target.Get();
  Painter painter(g_app.d2dFactory.Get(), g_app.dwriteFactory.Get());
  painter.UseTarget(target);
  target->BeginDraw();
  target->Clear(D2D1::ColorF(0, 0, 0, 0));
  DrawTrayIcon(painter, static_cast<float>(size), colour);
  if (FAILED(target->EndDraw())) return nullptr;
  const UINT stride = static_cast<UINT>(size) * 4;
  std::vector<uint8_t> pixels(static_cast<size_t>(stride) * size);
  if (FAILED(canvas.bitmap->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.size()), pixels.data()))) return nullptr;
  ToStraightAlpha(pixels.data(), static_cast<size_t>(size) * size);

  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = size;
  header.bV5Height = -size;  // top-down
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colourBitmap =
      CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!colourBitmap) return nullptr;
  memcpy(bits, pixels.data(), pixels.size());
  HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = colourBitmap;
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colourBitmap);
  if (mask) DeleteObject(mask);
  return icon;
}

void ShowContextMenu(int x, int y) {
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  AppendMenuW(menu, MF_STRING, 1, L"Abrir Orvane");
  if (g_ui.state.connected) AppendMenuW(menu, MF_STRING, 2, L"Cortar");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, 3, L"Salir");
  SetForegroundWindow(g_main.window);
  const int chosen = static_cast<int>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, x, y, 0, g_main.window, nullptr));
  // Without a message after it the menu may not close at the next click
  // elsewhere, as TrackPopupMenu's documentation says.
  PostMessageW(g_main.window, WM_NULL, 0, 0);
  DestroyMenu(menu);
  switch (chosen) {
    case 1:
      ShowMainWindow();
      break;
    case 2:
      g_link.Disconnect();
      break;
    case 3:
      DestroyWindow(g_main.window);
      break;
    default:
      break;
  }
}

}  // namespace

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the tray expects the full record");

void UpdateTrayIcon(bool add) {
  const uint32_t colour = TrayColour(g_ui.state.connected, LinkPaused());
  if (!add && colour == g_ui.trayColour) return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = g_main.window;
  data.uID = 1;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  data.uCallbackMessage = kMsgTray;
  HICON icon = MakeTrayIcon(colour);
  data.hIcon = icon;
  const std::wstring tip = Utf8ToWide(TrayTooltip(g_ui.state.connected, LinkPaused(), g_ui.state.deviceName));
  wcsncpy(data.szTip, tip.c_str(), ARRAYSIZE(data.szTip) - 1);
  if (add) {
    Shell_NotifyIconW(NIM_ADD, &data);
    data.uVersion = NOTIFYICON_VERSION_4;
    g_ui.trayVersion4 = Shell_NotifyIconW(NIM_SETVERSION, &data) != FALSE;
  } else {
    Shell_NotifyIconW(NIM_MODIFY, &data);
  }
  // The shell has its own copy of the new icon by now.
  if (g_ui.trayIcon) DestroyIcon(g_ui.trayIcon);
  g_ui.trayIcon = icon;
  g_ui.trayColour = colour;
}

void OnTrayMessage(WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(lParam)) {
    case WM_CONTEXTMENU:
      ShowContextMenu(static_cast<short>(LOWORD(wParam)), static_cast<short>(HIWORD(wParam)));
      break;
    case WM_LBUTTONDBLCLK:
      ShowMainWindow();
      break;
    case WM_LBUTTONUP:
      // A shell that speaks version 4 follows the button-up with NIN_SELECT:
      // acting on both would open the panel and close it again at once.
      if (g_ui.trayVersion4) break;
      [[fallthrough]];
    case NIN_SELECT:
    case NIN_KEYSELECT:
      if (IsWindowVisible(g_panel.window)) {
        HideWindow(g_panel);
      } else if (PanelMayOpen(GetTickCount64(), g_ui.panelDeactivatedTick)) {
        OpenPanel();
      }
      break;
    default:
      break;
  }
}

void OpenPanel() {
  POINT cursor{};
  GetCursorPos(&cursor);
  HMONITOR monitor = MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  UINT dpiX = 96, dpiY = 96;
  if (FAILED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpiX, &dpiY)) || dpiX == 0) dpiX = 96;
  const RECT& work = info.rcWork;
  const PixelRect r = PanelOpenPlacement(dpiX, {work.left, work.top, work.right, work.bottom});
  g_panel.dpi = static_cast<float>(dpiX);
  SetWindowPos(g_panel.window, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_SHOWWINDOW);
  SetForegroundWindow(g_panel.window);
  UpdatePreviewSize();
  RenderBothWindows();
}
