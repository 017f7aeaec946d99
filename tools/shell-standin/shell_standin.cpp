// Plays the Windows shell's part when Explorer restarts, for the tests:
// "--quitar" takes the program's tray icon away, as the old taskbar's end
// does; "--anunciar" sends "TaskbarCreated" to every top-level window, as the
// new taskbar does once it is up. Exit code 0 when the call was taken, 1
// when not, 2 when the program's window is not there.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  if (std::wcscmp(argv[1], L"--anunciar") == 0) {
    const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR result = 0;
    return message != 0 &&
                   SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0
               ? 0
               : 1;
  }
  if (std::wcscmp(argv[1], L"--quitar") != 0) return 2;
  HWND window = FindWindowW(L"OrvaneVentana", nullptr);
  if (!window) return 2;
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = 1;  // the program's one icon
  return Shell_NotifyIconW(NIM_DELETE, &icon) ? 0 : 1;
}
