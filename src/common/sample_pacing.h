#pragma once
// When the camera hands out a sample. Applications and the Frame Server ask
// for samples as fast as they come, whatever rate the type declares; a
// physical camera answers each picture once, when it is captured. So a
// waiting request is answered as soon as a new picture is published, no
// faster than the type's rate on average; without a new picture, the last
// one again (or black) once an interval has passed, so the stream never
// stalls for long. Times are µs on one monotonic clock.
//
// "No faster than the type's rate" is kept on average with a tenth to
// spare: pictures at exactly the type's rate leave no room to catch up
// after a burst otherwise, and every later picture would wait.
#include <cstdint>

class SamplePacer {
 public:
  // At every stream start: the type's rate, and no sample handed out yet.
  void Start(uint32_t fpsNumerator, uint32_t fpsDenominator);
  int64_t IntervalUs() const { return intervalUs_; }

  // When a waiting request is due (at or before now: at once). `newPicture`:
  // the block holds a picture this stream has not handed out. `showing`: the
  // last sample showed a picture, which is then given half an interval more
  // before it is repeated, so a picture a little late by the phone's or the
  // decoder's jitter does not come after a repeat of the one before.
  int64_t DueUs(bool newPicture, bool showing) const;
  void Delivered(int64_t nowUs);

 private:
  int64_t intervalUs_ = 33333;
  bool any_ = false;
  int64_t lastUs_ = 0;
  // The time the next sample would be due if every sample came exactly one
  // interval after the one before; a sample may come up to an interval
  // early, so pictures that arrive unevenly keep their own moments while
  // the average stays at the type's rate.
  int64_t scheduledUs_ = 0;
};
