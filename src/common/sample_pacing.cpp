#include "sample_pacing.h"

#include <algorithm>
#include <limits>

void SamplePacer::Start(uint32_t fpsNumerator, uint32_t fpsDenominator) {
  if (fpsNumerator == 0 || fpsDenominator == 0) fpsNumerator = 30, fpsDenominator = 1;
  intervalUs_ = std::max<int64_t>(1, static_cast<int64_t>(fpsDenominator) * 1000000 / fpsNumerator);
  any_ = false;
  lastUs_ = scheduledUs_ = 0;
}

int64_t SamplePacer::DueUs(bool newPicture, bool showing) const {
  // The stream's first sample comes at once, whatever it shows.
  if (!any_) return std::numeric_limits<int64_t>::min();
  const int64_t earliest = scheduledUs_ - intervalUs_;
  if (newPicture) return earliest;
  const int64_t repeat = lastUs_ + intervalUs_ + (showing ? intervalUs_ / 2 : 0);
  return std::max(repeat, earliest);
}

void SamplePacer::Delivered(int64_t nowUs) {
  // The schedule runs a tenth faster than the type: pictures that come at
  // the type's rate would otherwise never win back an interval lost to a
  // burst (the decoder's start, a late packet), and each would wait.
  scheduledUs_ = (any_ ? std::max(scheduledUs_, nowUs) : nowUs) + intervalUs_ * 9 / 10;
  lastUs_ = nowUs;
  any_ = true;
}
