#include "diagnostics.h"

#include <cstdio>

void UpdateCpuPercent(CpuMemorySample* sample, uint64_t processTime, uint64_t wallTime,
                      unsigned processors) {
  if (sample->previousWallTime != 0 && sample->previousWallTime < wallTime && processors > 0) {
    double used = static_cast<double>(processTime - sample->previousProcessTime);
    double elapsed = static_cast<double>(wallTime - sample->previousWallTime);
    sample->cpuPercent = used / elapsed / processors * 100.0;
  }
  sample->previousProcessTime = processTime;
  sample->previousWallTime = wallTime;
}

std::string StateLineText(const StateLineValues& v) {
  char text[512];
  std::snprintf(text, sizeof text,
                "estado cpu=%.2f%% ram=%.1fMB conectado=%d %dx%d@%d recibidos=%.1f/s mbps=%.1f "
                "decodificados=%llu a_camara=%llu rtt=%.1fms dec=%.2fms hw=%d",
                v.cpuPercent, v.memoryMb, v.connected ? 1 : 0, v.width, v.height, v.fps,
                v.receivedFps, v.receivedMbps, v.decodedFrames, v.cameraFrames, v.roundTripMs,
                v.decodeMs, v.hardware ? 1 : 0);
  return text;
}

std::string DelayLineText(const DelayLineValues& v) {
  char text[512];
  std::snprintf(text, sizeof text,
                "demora ms (prom/peor) llegada=%.1f/%.1f decodificado=%.1f/%.1f camara=%.1f/%.1f "
                "vista=%.1f/%.1f desfase=%lldus salteados=%llu",
                v.average[0], v.worst[0], v.average[1], v.worst[1], v.average[2], v.worst[2],
                v.average[3], v.worst[3], v.clockOffsetUs, v.skippedFrames);
  return text;
}
