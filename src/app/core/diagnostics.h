#pragma once
// The once-a-second state and delay lines and the CPU/memory figures.
#include <cstdint>
#include <string>

struct CpuMemorySample {
  uint64_t previousProcessTime = 0;  // kernel + user, 100 ns units
  uint64_t previousWallTime = 0;     // 0 before the first sample
  double cpuPercent = 0;
  double memoryMb = 0;
};

// Folds one reading of process and wall time (both 100 ns units) into the
// sample; the percentage is of all processors together.
void UpdateCpuPercent(CpuMemorySample* sample, uint64_t processTime, uint64_t wallTime,
                      unsigned processors);

struct StateLineValues {
  double cpuPercent = 0;
  double memoryMb = 0;
  bool connected = false;
  int width = 0, height = 0, fps = 0;
  double receivedFps = 0;
  double receivedMbps = 0;
  unsigned long long decodedFrames = 0;
  unsigned long long cameraFrames = 0;
  double roundTripMs = -1;
  double decodeMs = 0;
  bool hardware = false;
};
std::string StateLineText(const StateLineValues& v);

struct DelayLineValues {
  double average[4] = {-1, -1, -1, -1};
  double worst[4] = {-1, -1, -1, -1};
  long long clockOffsetUs = 0;
  unsigned long long skippedFrames = 0;
};
std::string DelayLineText(const DelayLineValues& v);
