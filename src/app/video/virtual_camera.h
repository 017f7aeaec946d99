#pragma once
// The main program's side of "Orvane Cam": the registration check, the
// self-registration of an administrator, and the session camera.
#include <atomic>

extern std::atomic<bool> g_cameraReady;

bool IsCameraRegistered();
void RegisterCameraFromApp();
// Creates and starts the camera when the class is registered; logs either way.
void CreateVirtualCamera();
void RemoveVirtualCamera();
