#pragma once
// The window's notice of what keeps a phone or the camera from working.
// The UI thread only.
#include <cstdint>

#include "notices.h"

// At start-up, after the first try at the camera: the first checks.
void StartNoticeChecks();
// The one-second tick: each check when it is due, the camera's next try.
void NoticeTick(uint64_t nowMs);
// Before exit: waits for a firewall check still running.
void StopNoticeChecks();
// The notice to show now.
Notice CurrentNotice(bool connected);
// A click on the notice: opens its settings page, or tries the camera again.
void RunNoticeAction(bool connected);
