#pragma once
// The messages the link, the video pipeline and the tray post to the main
// window: one definition for every sender and the receiver.
#include <windows.h>

inline constexpr UINT kMsgStateChanged = WM_APP + 1;  // the phone link's state changed
inline constexpr UINT kMsgNewFrame = WM_APP + 2;      // a new preview picture is ready
inline constexpr UINT kMsgTray = WM_APP + 3;          // the tray icon's callback
// The session side found the graphics device removed: wParam the reason,
// lParam the device's generation.
inline constexpr UINT kMsgDeviceLost = WM_APP + 4;
