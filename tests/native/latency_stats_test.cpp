#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "app/core/latency_stats.h"

namespace {

TEST(LatencyStats, PercentileIsTheSampleOfRank95PercentOfCount) {
  LatencyStats stats;
  std::vector<int> values(1000);
  for (int i = 0; i < 1000; ++i) values[i] = i;
  std::shuffle(values.begin(), values.end(), std::mt19937(7));
  for (int v : values) stats.Record(kStageShown, v);
  LatencyFigures t = stats.Totals(kStageShown);
  EXPECT_EQ(t.count, 1000);
  EXPECT_EQ(t.p95, 950.0);
  EXPECT_EQ(t.worst, 999.0);
  EXPECT_DOUBLE_EQ(t.average, 499.5);
}

TEST(LatencyStats, OneSampleIsMeanWorstAndPercentile) {
  LatencyStats stats;
  stats.Record(kStageArrival, 12.5);
  LatencyFigures t = stats.Totals(kStageArrival);
  EXPECT_EQ(t.count, 1);
  EXPECT_EQ(t.average, 12.5);
  EXPECT_EQ(t.worst, 12.5);
  EXPECT_EQ(t.p95, 12.5);
}

TEST(LatencyStats, EmptyStageReportsMinusOne) {
  LatencyStats stats;
  LatencyFigures t = stats.Totals(kStageCamera);
  EXPECT_EQ(t.count, 0);
  EXPECT_EQ(t.average, -1);
  EXPECT_EQ(t.p95, -1);
  EXPECT_EQ(t.worst, -1);
}

TEST(LatencyStats, SamplesOutsideTheWindowAreDropped) {
  LatencyStats stats;
  stats.Record(kStageDecoded, -60);
  stats.Record(kStageDecoded, 12000);
  stats.Record(kStageDecoded, -1e9);
  stats.Record(kStageDecoded, NAN);
  stats.Record(7, 10);
  stats.Record(-1, 10);
  stats.Record(kStageDecoded, -40);
  stats.Record(kStageDecoded, 10000);
  stats.Record(kStageDecoded, -50);
  stats.RollSecond();
  LatencyFigures s = stats.LastSecond(kStageDecoded);
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(s.worst, 10000);
  stats.RollSecond();
  stats.Record(kStageDecoded, -40);
  stats.RollSecond();
  s = stats.LastSecond(kStageDecoded);
  EXPECT_EQ(s.average, -40);
  EXPECT_EQ(s.worst, 0) << "the current second's worst starts at 0";
}

TEST(LatencyStats, RollingMovesTheSecondAndClearsIt) {
  LatencyStats stats;
  stats.Record(kStageArrival, 10);
  stats.Record(kStageArrival, 30);
  stats.RollSecond();
  LatencyFigures s = stats.LastSecond(kStageArrival);
  EXPECT_EQ(s.average, 20);
  EXPECT_EQ(s.worst, 30);
  EXPECT_EQ(s.p95, -1);
  EXPECT_EQ(s.count, 2);
  EXPECT_EQ(stats.LastSecond(kStageCamera).average, -1);
  EXPECT_EQ(stats.LastSecond(kStageCamera).worst, -1);
  stats.RollSecond();
  s = stats.LastSecond(kStageArrival);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.average, -1);
  EXPECT_EQ(stats.Totals(kStageArrival).count, 2) << "totals span the whole session";
}

TEST(LatencyStats, ResetStartsANewSession) {
  LatencyStats stats;
  stats.Record(kStageShown, 5);
  stats.RollSecond();
  stats.Record(kStageShown, 6);
  stats.Reset();
  EXPECT_EQ(stats.Totals(kStageShown).count, 0);
  EXPECT_EQ(stats.LastSecond(kStageShown).count, 0);
  EXPECT_EQ(stats.LastSecond(kStageShown).average, -1);
  stats.RollSecond();
  EXPECT_EQ(stats.LastSecond(kStageShown).count, 0) << "the current second was cleared too";
}

TEST(LatencyStats, SessionListKeepsTheFirst200000ButTheSecondCountsAll) {
  LatencyStats stats;
  for (size_t i = 0; i < LatencyStats::kMaxSamples; ++i) stats.Record(kStageArrival, 1);
  for (int i = 0; i < 10; ++i) stats.Record(kStageArrival, 500);
  LatencyFigures t = stats.Totals(kStageArrival);
  EXPECT_EQ(t.count, 200000);
  EXPECT_EQ(t.worst, 1);
  stats.RollSecond();
  EXPECT_EQ(stats.LastSecond(kStageArrival).count, 200010);
  EXPECT_EQ(stats.LastSecond(kStageArrival).worst, 500);
}

TEST(LatencyStats, StageNames) {
  EXPECT_STREQ(LatencyStageName(0), "llegada");
  EXPECT_STREQ(LatencyStageName(1), "decodificado");
  EXPECT_STREQ(LatencyStageName(2), "camara");
  EXPECT_STREQ(LatencyStageName(3), "vista");
}

}  // namespace
