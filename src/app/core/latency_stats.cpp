#include "latency_stats.h"

#include <algorithm>

#include "log.h"

const char* LatencyStageName(int stage) {
  static const char* const kNames[kStageCount] = {"llegada", "decodificado", "camara", "vista"};
  return stage >= 0 && stage < kStageCount ? kNames[stage] : "";
}

void LatencyStats::Record(int stage, double ms) {
  // Also drops the huge negative value LatencyMs gives without a clock.
  if (stage < 0 || stage >= kStageCount || !(ms >= -50.0 && ms <= 10000.0)) return;
  std::lock_guard lock(mutex_);
  Stage& s = stages_[static_cast<size_t>(stage)];
  s.sum += ms;
  s.count += 1;
  s.worst = std::max(s.worst, ms);
  if (s.samples.size() < kMaxSamples) s.samples.push_back(static_cast<float>(ms));
}

void LatencyStats::RollSecond() {
  std::lock_guard lock(mutex_);
  for (Stage& s : stages_) {
    if (s.count > 0) {
      s.last.average = s.sum / s.count;
      s.last.worst = s.worst;
    } else {
      s.last.average = -1;
      s.last.worst = -1;
    }
    s.last.p95 = -1;
    s.last.count = s.count;
    s.sum = 0;
    s.worst = 0;
    s.count = 0;
  }
}

LatencyFigures LatencyStats::LastSecond(int stage) {
  if (stage < 0 || stage >= kStageCount) return {};
  std::lock_guard lock(mutex_);
  return stages_[static_cast<size_t>(stage)].last;
}

LatencyFigures LatencyStats::Totals(int stage) {
  if (stage < 0 || stage >= kStageCount) return {};
  std::lock_guard lock(mutex_);
  std::vector<float> copy = stages_[static_cast<size_t>(stage)].samples;
  if (copy.empty()) return {};
  LatencyFigures out;
  double sum = 0;
  float worst = copy[0];
  for (float v : copy) {
    sum += v;
    worst = std::max(worst, v);
  }
  out.count = static_cast<int>(copy.size());
  out.average = sum / static_cast<double>(copy.size());
  out.worst = worst;
  size_t rank = copy.size() * 95 / 100;
  std::nth_element(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(rank), copy.end());
  out.p95 = copy[rank];
  return out;
}

void LatencyStats::Reset() {
  std::lock_guard lock(mutex_);
  for (Stage& s : stages_) {
    s.sum = 0;
    s.worst = 0;
    s.count = 0;
    s.last = LatencyFigures{};
    s.samples.clear();
  }
}

void LatencyStats::Report(const char* reason) {
  for (int stage = 0; stage < kStageCount; ++stage) {
    LatencyFigures t = Totals(stage);
    if (t.count == 0) continue;
    LogLine("DEMORA TOTAL (%s) %s: prom=%.1f ms p95=%.1f ms peor=%.1f ms (%d cuadros)", reason,
            LatencyStageName(stage), t.average, t.p95, t.worst, t.count);
  }
}
