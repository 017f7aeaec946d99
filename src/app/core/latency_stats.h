#pragma once
// Per-stage latency of video frames, from capture on the phone to four
// points on the PC: per-second figures for the log and per-session totals.
#include <array>
#include <mutex>
#include <vector>

enum LatencyStage { kStageArrival = 0, kStageDecoded = 1, kStageCamera = 2, kStageShown = 3, kStageCount = 4 };

const char* LatencyStageName(int stage);

struct LatencyFigures {
  double average = -1;  // the mean for Totals
  double worst = -1;
  double p95 = -1;
  int count = 0;
};

class LatencyStats {
 public:
  static constexpr size_t kMaxSamples = 200000;

  void Record(int stage, double ms);
  void RollSecond();
  LatencyFigures LastSecond(int stage);
  LatencyFigures Totals(int stage);
  void Reset();
  // Up to four "DEMORA TOTAL" log lines, one per stage with samples.
  void Report(const char* reason);

 private:
  struct Stage {
    double sum = 0;
    double worst = 0;
    int count = 0;
    LatencyFigures last;
    std::vector<float> samples;
  };
  std::mutex mutex_;
  std::array<Stage, kStageCount> stages_;
};
