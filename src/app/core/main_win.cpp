#include <windows.h>
#include <dwmapi.h>
#include <mfapi.h>
#include <objbase.h>
#include <shellapi.h>
#include <shellscalingapi.h>
#include <winsock2.h>

#include <string>
#include <vector>

#include "../../common/text_win.h"
#include "../../common/win_missing.h"
#include "../link/phone_link.h"
#include "../link/port_failure.h"
#include "../ui/qr_draw.h"
#include "../video/video_pipeline.h"
#include "../video/virtual_camera.h"
#include "app.h"
#include "app_window.h"
#include "capture.h"
#include "diagnostics_win.h"
#include "log.h"
#include "notices_win.h"
#include "options.h"
#include "settings.h"
#include "window_geometry.h"

App g_app;

namespace {

void ParseCommandLine() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return;
  std::vector<std::wstring> args(argv, argv + count);
  LocalFree(argv);
  ParseArguments(args, &g_options);
}

// Another copy holds the mutex: bring its window forward. True when this
// copy is the second one and must end.
bool HandOverToRunningCopy() {
  g_app.instanceMutex = CreateMutexW(nullptr, TRUE, L"Local\\OrvaneParaPC");
  const DWORD error = GetLastError();
  if (!g_app.instanceMutex && error == ERROR_ACCESS_DENIED) {
    // A copy started as administrator made the mutex, and this one may not
    // open it: that copy runs, with its port, tray icon and camera.
    LogLine("Otra copia de Orvane corre como administrador: no abro otra");
  } else if (!g_app.instanceMutex || error != ERROR_ALREADY_EXISTS) {
    // Without a handle for any other reason start-up goes on unguarded.
    return false;
  }
  if (HWND running = FindWindowW(L"OrvaneVentana", nullptr)) {
    ShowWindow(running, SW_SHOW);
    SetForegroundWindow(running);
  }
  return true;
}

// On battery Windows puts a hidden program on efficiency cores at low
// clocks, while this one decodes for a call: it asks to be left at speed.
void KeepFullSpeed() {
  using SetInformationFn = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
  auto set = LookUpFunction<SetInformationFn>(GetModuleHandleW(L"kernel32.dll"), "SetProcessInformation");
  PROCESS_POWER_THROTTLING_STATE state{PROCESS_POWER_THROTTLING_CURRENT_VERSION,
                                       PROCESS_POWER_THROTTLING_EXECUTION_SPEED, 0};
  if (!set || !set(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state)) {
    LogLine("Windows no dejó desactivar el ahorro de energía del programa (error %lu)",
            set ? GetLastError() : static_cast<unsigned long>(ERROR_PROC_NOT_FOUND));
  }
}

bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = procedure;
  c.hInstance = g_app.instance;
  c.hIcon = LoadIconW(g_app.instance, MAKEINTRESOURCEW(kIconResource));
  c.hIconSm = c.hIcon;
  c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  c.lpszClassName = name;
  return RegisterClassExW(&c) != 0;
}

void SetFrameAttributes(HWND window) {
  DWORD corner = kDwmwcpRound;
  COLORREF border = 0x002C2623;
  BOOL dark = TRUE;
  DwmSetWindowAttribute(window, kDwmwaWindowCornerPreference, &corner, sizeof corner);
  DwmSetWindowAttribute(window, kDwmwaBorderColor, &border, sizeof border);
  DwmSetWindowAttribute(window, kDwmwaUseImmersiveDarkMode, &dark, sizeof dark);
}

void CreateWindows() {
  RegisterWindowClass(L"OrvaneVentana", MainWindowProc);
  RegisterWindowClass(L"OrvanePanel", PanelWindowProc);

  HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  UINT dpiX = 96, dpiY = 96;
  if (FAILED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpiX, &dpiY))) dpiX = 96;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  const RECT& work = info.rcWork;
  PixelRect main = MainWindowPlacement(dpiX, {work.left, work.top, work.right, work.bottom});
  g_main.dpi = static_cast<float>(dpiX);
  g_app.mainWindow = CreateWindowExW(WS_EX_APPWINDOW, L"OrvaneVentana", L"Orvane",
                                     WS_POPUP | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX, main.left, main.top,
                                     main.right - main.left, main.bottom - main.top, nullptr, nullptr,
                                     g_app.instance, nullptr);
  g_main.window = g_app.mainWindow;

  // The panel is placed and sized again each time it opens.
  g_panel.isPanel = true;
  g_panel.dpi = static_cast<float>(dpiX);
  PixelRect panel = PanelInitialPlacement(dpiX);
  g_app.panelWindow = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, L"OrvanePanel", L"Orvane",
                                      WS_POPUP | WS_THICKFRAME, panel.left, panel.top, panel.right, panel.bottom,
                                      g_app.mainWindow, nullptr, g_app.instance, nullptr);
  g_panel.window = g_app.panelWindow;

  SetFrameAttributes(g_app.mainWindow);
  SetFrameAttributes(g_app.panelWindow);
  // The frame is only worked out again when something asks for it: without
  // this the windows would keep their sizing border until their first resize.
  for (HWND window : {g_app.mainWindow, g_app.panelWindow}) {
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (UINT dpi = GetDpiForWindow(g_app.mainWindow)) g_main.dpi = static_cast<float>(dpi);
  g_video.SetTargetWindow(g_app.mainWindow);
}

// False when a thread of the link is still running; the caller must then
// end the process without running the static destructors under it.
bool Shutdown() {
  g_link.Stop();
  // Black at once, whatever a session thread still busy below may do.
  g_video.Camera().StopWriting();
  // Session threads decode, save snapshots and tear the decoder down on
  // their own; the pipeline is only closed once none of them is left. A
  // thread may be inside a send to a phone that stopped reading, which
  // ends within its 2 s limit: it is given that and the decoder's teardown.
  // One still running keeps Media Foundation and Winsock too: the process
  // exit takes them.
  bool threadsEnded = g_link.WaitForThreads(5000);
  if (!threadsEnded) LogLine("Un hilo de la conexión sigue ocupado tras 5 s: salgo sin cerrar el video");
  StopNoticeChecks();
  RemoveVirtualCamera();
  ReleaseWindowGraphics();
  if (threadsEnded) {
    g_video.Close();
    MFShutdown();
    WSACleanup();
  }
  if (g_app.instanceMutex) CloseHandle(g_app.instanceMutex);
  LogClose();
  g_app.d2dDevice.Reset();
  g_app.dxgiDevice.Reset();
  g_app.d3dDevice.Reset();
  return threadsEnded;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  g_app.instance = instance;
  g_app.startTick = GetTickCount64();
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  ParseCommandLine();
  LogOpen(g_options.registro);
  LogCrashes();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  D2D1_FACTORY_OPTIONS factoryOptions{};
  factoryOptions.debugLevel = D2D1_DEBUG_LEVEL_NONE;
  HRESULT hr = D2D1CreateFactory(D2D1_FACTORY_TYPE_MULTI_THREADED, __uuidof(ID2D1Factory1), &factoryOptions,
                                 reinterpret_cast<void**>(g_app.d2dFactory.GetAddressOf()));
  if (SUCCEEDED(hr)) {
    hr = DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                             reinterpret_cast<IUnknown**>(g_app.dwriteFactory.GetAddressOf()));
  }
  if (FAILED(hr) || !g_app.d2dFactory || !g_app.dwriteFactory) return 1;
  (void)g_app.d2dFactory.As(&g_app.d2dMultithread);

  if (!g_options.captura.empty()) {
    int code = RunCaptureMode();
    CoUninitialize();
    return code;
  }

  if (!g_options.prueba && HandOverToRunningCopy()) return 0;

  KeepFullSpeed();
  MFStartup(MF_VERSION, MFSTARTUP_LITE);
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);

  (void)g_settings.Load(g_options.prueba);

  SimulateRequestedFault();  // test mode: a PC without a hardware adapter, say
  if (!g_video.InitGraphics()) {
    MessageBoxW(nullptr, L"No se pudo iniciar el video (Direct3D 11).", L"Orvane", MB_ICONERROR);
    return 1;
  }
  g_video.SetD2dLock(g_app.d2dMultithread.Get());
  if (g_options.espejo) g_video.SetMirror(true);
  if (!AttachWindowsToDevice(g_video.Device())) return 1;

  CreateWindows();

  if (!g_link.Start(g_app.mainWindow, &g_video, &g_settings, g_options.puerto)) {
    LogLine("%s", PortFailureLogLine(g_link.BindError()).c_str());
    MessageBoxW(g_app.mainWindow, Utf8ToWide(PortFailureMessage(g_link.BindError())).c_str(), L"Orvane",
                MB_ICONERROR);
    return 1;
  }
  if (!g_options.codigo.empty()) g_link.SetPairingCode(WideToUtf8(g_options.codigo));
  BuildQr();
  CreateVirtualCamera();
  StartNoticeChecks();
  if (!g_options.guardarCuadro.empty()) g_video.RequestSnapshot(g_options.guardarCuadro);

  g_app.taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
  // Run as administrator, the program would not hear the taskbar of a
  // restarted Explorer, which runs without: its icon would be gone for good.
  ChangeWindowMessageFilterEx(g_app.mainWindow, g_app.taskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
  UpdateTrayIcon(true);
  SampleCpuAndMemory();
  SetTimer(g_app.mainWindow, 1, 1000, nullptr);
  if (!g_options.oculta) {
    ShowWindow(g_app.mainWindow, SW_SHOW);
    UpdateWindow(g_app.mainWindow);
  }
  UpdatePreviewSize();
  RenderBothWindows();

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  if (!Shutdown()) TerminateProcess(GetCurrentProcess(), 0);
  return 0;
}
