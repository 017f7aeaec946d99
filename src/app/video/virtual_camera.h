#pragma once
// The main program's side of "Orvane Cam": the registration check, the
// self-registration of an administrator, and the session camera.
#include <atomic>
#include <cstdint>

#include "../core/notices.h"

extern std::atomic<bool> g_cameraReady;

bool IsCameraRegistered();
void RegisterCameraFromApp();
// Creates and starts the camera when the class is registered; logs either
// way. A failure that may pass (not registered yet, an error of the system)
// is tried again after a growing pause, by RetryVirtualCameraWhenDue.
void CreateVirtualCamera();
// The main thread's tick: tries again when the pause is over.
void RetryVirtualCameraWhenDue(uint64_t nowMs);
// What kept the camera from being made the last time, and the HRESULT.
CameraProblem VirtualCameraProblem(uint32_t* result);
void RemoveVirtualCamera();
