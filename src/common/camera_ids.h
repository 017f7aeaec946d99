#pragma once
// Identity of the virtual camera, shared by the program and the camera DLL.

inline constexpr wchar_t kCameraClsidText[] = L"{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}";
inline constexpr wchar_t kCameraFriendlyName[] = L"Orvane Cam";
