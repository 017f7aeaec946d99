#include "common/sample_pacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int64_t kInterval = 33333;  // 30 fps

struct Delivery {
  int64_t at;
  int picture;  // -1: the last picture again, or black
};

// A client that always has a request waiting, as the Frame Server does,
// against pictures published at `arrivals`, until `untilUs`.
std::vector<Delivery> Eager(const std::vector<int64_t>& arrivals, int64_t untilUs) {
  SamplePacer pacer;
  pacer.Start(30, 1);
  std::vector<Delivery> out;
  size_t next = 0;
  int newest = -1, shown = -1;
  for (int64_t now = 0; now < untilUs;) {
    while (next < arrivals.size() && arrivals[next] <= now) newest = static_cast<int>(next++);
    const bool fresh = newest != shown;
    const int64_t due = pacer.DueUs(fresh, shown >= 0);
    if (due <= now) {
      pacer.Delivered(now);
      out.push_back({now, fresh ? newest : -1});
      shown = newest;
      continue;
    }
    now = next < arrivals.size() ? std::min(due, arrivals[next]) : due;
  }
  return out;
}

// From the first picture on: black before it is no repeat.
std::vector<Delivery> FromFirstPicture(std::vector<Delivery> d) {
  d.erase(d.begin(), std::find_if(d.begin(), d.end(), [](const Delivery& x) { return x.picture >= 0; }));
  return d;
}

int Repeats(const std::vector<Delivery>& d) {
  return static_cast<int>(std::count_if(d.begin(), d.end(), [](const Delivery& x) { return x.picture < 0; }));
}

TEST(SamplePacing, UnevenPicturesAtTheRateAreEachHandedOutOnceWhenTheyArrive) {
  // 30 fps with up to 8 ms of jitter either way.
  std::vector<int64_t> arrivals;
  for (int n = 0; n < 300; ++n) arrivals.push_back(100000 + n * kInterval + (n * 7919 % 17) * 1000 - 8000);
  const std::vector<Delivery> d = FromFirstPicture(Eager(arrivals, arrivals.back() + 1000));
  EXPECT_EQ(Repeats(d), 0);
  ASSERT_EQ(d.size(), arrivals.size());
  for (size_t n = 0; n < arrivals.size(); ++n) EXPECT_EQ(d[n].at, arrivals[n]) << n;
}

TEST(SamplePacing, FasterPicturesAreHandedOutAtTheTypesRateNewestFirst) {
  std::vector<int64_t> arrivals;
  for (int n = 0; n < 600; ++n) arrivals.push_back(n * kInterval / 2);  // 60 fps
  const std::vector<Delivery> d = FromFirstPicture(Eager(arrivals, 10'000'000));
  // Never more than a tenth above the type's rate since the first sample, one early at most.
  for (size_t i = 0; i < d.size(); ++i) EXPECT_LE(static_cast<int64_t>(i), d[i].at * 10 / (kInterval * 9) + 2) << i;
  EXPECT_GE(d.size(), 295u);
  EXPECT_EQ(Repeats(d), 0);
}

// The decoder's start hands several pictures out at once; the pictures after
// them, at the type's rate, must soon be handed out as they arrive again
// rather than each waiting for a schedule the burst pushed ahead.
TEST(SamplePacing, AfterABurstPicturesAtTheRateCatchUpWithTheirArrival) {
  std::vector<int64_t> arrivals;
  for (int n = 0; n < 6; ++n) arrivals.push_back(200000 + n * 1000);  // six at once
  for (int n = 1; n < 120; ++n) arrivals.push_back(205000 + n * kInterval + (n % 2 ? 4000 : -4000));
  const std::vector<Delivery> d = FromFirstPicture(Eager(arrivals, arrivals.back() + 1000));
  EXPECT_EQ(Repeats(d), 0);
  ASSERT_GE(d.size(), 100u);
  // Within a second of the burst, each picture goes out the moment it comes.
  for (size_t i = d.size() - 90; i < d.size(); ++i) {
    EXPECT_EQ(d[i].at, arrivals[static_cast<size_t>(d[i].picture)]) << "picture " << d[i].picture;
  }
}

TEST(SamplePacing, WithoutNewPicturesTheLastComesAgainAfterAnIntervalAndAHalf) {
  // Black (nothing shown yet) comes exactly at the type's rate.
  std::vector<Delivery> d = Eager({}, 1'000'000);
  ASSERT_EQ(d.size(), 31u);
  for (size_t i = 1; i < d.size(); ++i) EXPECT_EQ(d[i].at - d[i - 1].at, kInterval);
  // A picture shown is repeated half an interval later than that, so one a
  // little late is not preceded by a repeat; at half the rate, one repeat
  // between two pictures.
  std::vector<int64_t> arrivals;
  for (int n = 0; n < 30; ++n) arrivals.push_back(n * 2 * kInterval);
  d = FromFirstPicture(Eager(arrivals, arrivals.back() + 1));
  EXPECT_EQ(Repeats(d), 29);
  for (size_t i = 1; i < d.size(); ++i) EXPECT_LE(d[i].at - d[i - 1].at, kInterval * 3 / 2) << i;
  // Restarted at another rate, the first sample is due at once.
  SamplePacer pacer;
  pacer.Start(60, 1);
  pacer.Delivered(5);
  pacer.Start(0, 0);
  EXPECT_LE(pacer.DueUs(false, true), 0);
  EXPECT_EQ(pacer.IntervalUs(), kInterval);
}

}  // namespace
