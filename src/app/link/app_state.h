#pragma once
// The live state of the phone link that the window shows; the window only
// ever holds a copy taken under the link's lock.
#include <cstdint>
#include <string>
#include <vector>

struct PairingRequest {
  int32_t id = 0;
  std::string deviceName;
};

struct AppState {
  bool connected = false;
  std::string deviceName;
  std::string model;
  int32_t width = 0, height = 0, fps = 0;
  double roundTripMs = -1;
  bool paused = false;
  double battery = -1;
  std::string camera;
  double receivedFps = 0;
  double receivedMbps = 0;
  std::vector<PairingRequest> pending;
  bool capsKnown = false;
  uint8_t rates[3] = {0, 0, 0};  // 720p, 1080p, 4K: bit 0 = 30 fps, bit 1 = 60 fps
  int32_t requestedResolution = -1;
  int32_t requestedRate = -1;
  bool focusSupported = false;
  uint8_t focusModes = 0;
  int32_t focusMode = 0;
  float focusValue = 0.5f;
  int32_t faces = 0;
  bool blurSupported = false;
  float blurValue = 0.0f;
};
