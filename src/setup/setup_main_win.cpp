// The installer. It carries the program and the camera DLL as resources;
// installing and uninstalling are not written yet, so it changes nothing
// and ends with the "failed" code rather than claiming an installation.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 2; }
