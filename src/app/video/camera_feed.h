#pragma once
// The program's end of the camera block: it opens what the camera DLL made,
// publishes pictures into it and keeps the last one fresh while a phone is
// connected. The session thread publishes; the window thread refreshes.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "../../common/camera_block.h"

class CameraFeed {
 public:
  // Opens the block and its event when they exist, trying at most once a
  // second; the program never creates them.
  bool OpenBlock();
  // Somebody pulls samples from the camera.
  bool IsWatched();
  // The mapped block, null until it was opened.
  uint8_t* Block() const { return view_; }
  // Makes the picture written into `slot` the newest and wakes the reader.
  void Publish(uint32_t slot, uint32_t width, uint32_t height);
  void SetLinkState(bool connected, bool paused);
  // Exit: the camera turns black at once and nothing is published any more,
  // even by a session thread that is still busy and may never end.
  void StopWriting();
  // Then, once no thread uses the pipeline: the block is let go.
  void Close();

 private:
  std::mutex openLock_;  // the session and the window thread both open
  std::mutex publishLock_;  // a publish and the stop never interleave
  bool stopped_ = false;    // under publishLock_
  std::atomic<uint8_t*> view_{nullptr};
  HANDLE mapping_ = nullptr;
  HANDLE event_ = nullptr;
  uint64_t lastAttemptMs_ = 0;
};
