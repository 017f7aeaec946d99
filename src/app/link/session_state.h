#pragma once
// How the phone's messages change the live state, and the clock estimates
// of a session. No sockets, no locks: the session calls these under its
// state lock.
#include <cstdint>
#include <deque>
#include <string>

#include "app_state.h"
#include "messages.h"

// The live state at the moment a session becomes the active one.
void ResetForActivation(AppState* state, const std::string& device, const std::string& model);

// Applies a status message; the focus and blur values are ignored within
// 500 ms of the PC's own command, so the phone's echo of an older value
// cannot undo what the user just set. True when the window must redraw.
// capsLine receives the log line for new capabilities, if any.
bool ApplyStatus(AppState* state, const StatusMessage& status, uint64_t nowMs, uint64_t focusCommandMs,
                 uint64_t blurCommandMs, std::string* capsLine);

struct ConfigOutcome {
  bool adopt = false;       // the phone changed quality by itself: save it
  std::string savedText;    // what to save, e.g. "720p@30"
  std::string appliedLine;  // log line when a pending request was met
};
ConfigOutcome ApplyConfig(AppState* state, int width, int height, int fps, uint64_t nowMs, uint64_t qualityRequestMs);

// The saved quality text as indices; false unless it is one of the known
// resolutions, "@", and 30 or 60.
bool ParseSavedQuality(const std::string& text, int* resolution, int* rate);
std::string QualityText(int resolution, int rate);

// Round-trip time and PC-minus-phone clock offset from the last 10 samples.
class ClockEstimator {
 public:
  static constexpr size_t kWindow = 10;
  // A Ping from the phone carrying its clock; returns the new offset.
  int64_t OnPing(int64_t nowUs, int64_t phoneUs);
  // A Pong to our own Ping; returns the round trip in microseconds.
  int64_t OnPong(int64_t nowUs, int64_t sentUs);

 private:
  std::deque<int64_t> offsets_;
  std::deque<int64_t> roundTrips_;
};

// The shown round trip: the first sample as it is, later ones smoothed.
double SmoothRoundTrip(double storedMs, double sampleMs);
