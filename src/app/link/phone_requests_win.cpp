// The requests to the phone. The window asks for them on its own thread:
// each one only goes into the active session's queue, under the state lock,
// and the session's sender thread writes them to the socket, so the window
// never waits for a phone, whatever the phone does. A send that does not get
// through within the socket's send limit, or a queue that fills up, means
// the phone has stopped reading: the session ends.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <system_error>
#include <thread>

#include "../core/log.h"
#include "../core/settings.h"
#include "messages.h"
#include "phone_link.h"
#include "session_state.h"
#include "wire_win.h"

namespace {

// Once per session, whoever notices first.
void CutOff(SendQueue& queue) {
  if (queue.MarkCutOff()) LogLine("El celu no lee lo que le mando: se corta");
}

}  // namespace

// Under stateLock_: nothing here waits for the network.
void PhoneLink::QueueCommandLocked(const std::string& text) {
  if (!outbox_) return;
  const auto pushed = outbox_->Push(EncodeFrame(static_cast<uint8_t>(FrameType::Command), text.data(), text.size()));
  if (pushed != SendQueue::Pushed::Full) return;  // queued, or the session is ending anyway
  CutOff(*outbox_);
  shutdown(activeSocket_, SD_BOTH);
  activeEnding_ = true;
  outbox_->Close();
}

// The streaming session, with a sender thread for its queue beside it.
void PhoneLink::Stream(Connection& c) {
  std::shared_ptr<SendQueue> queue;
  {
    std::lock_guard lock(stateLock_);
    queue = outbox_;
  }
  if (!queue) return;
  std::thread sender;
  try {
    sender = std::thread(&PhoneLink::SendQueued, this, queue, &c);
  } catch (const std::system_error&) {
    return;  // no thread to send the requests: the session cannot be served
  }
  if (!StreamFrames(c) && WSAGetLastError() == WSAETIMEDOUT) CutOff(*queue);
  // The session is over: a send still in progress gives up at once (or at
  // the latest within the send limit), and what is still queued is dropped.
  shutdown(c.socket, SD_BOTH);
  queue->Close();
  sender.join();
}

void PhoneLink::SendQueued(const std::shared_ptr<SendQueue>& queue, Connection* c) {
  std::vector<uint8_t> frame;
  while (queue->Pop(&frame)) {
    if (SendEncoded(c->sendLock, c->socket, frame)) continue;
    // The session thread sees the end at its next read.
    if (WSAGetLastError() == WSAETIMEDOUT) CutOff(*queue);
    shutdown(c->socket, SD_BOTH);
    queue->Close();
  }
}

void PhoneLink::SendQualityLocked(int resolution, int rate) {
  QueueCommandLocked(QualityCommand(resolution, rate));
  live_.requestedResolution = resolution;
  live_.requestedRate = rate;
  qualityRequestMs_ = GetTickCount64();
  LogLine("Pido calidad %s@%d", kResolutionNames[resolution], kRates[rate]);
}

void PhoneLink::RequestQuality(int resolution, int rate) {
  bool valid = resolution >= 0 && resolution <= 2 && rate >= 0 && rate <= 1;
  {
    std::lock_guard lock(stateLock_);
    if (activeSocket_ == INVALID_SOCKET || !outbox_) return;
    if (valid) SendQualityLocked(resolution, rate);
  }
  if (valid) settings_->SetQuality(QualityText(resolution, rate));
}

void PhoneLink::RequestPause(bool paused) {
  std::lock_guard lock(stateLock_);
  if (activeSocket_ == INVALID_SOCKET || !outbox_) return;
  pausedByPc_ = paused;
  if (paused) {
    QueueCommandLocked(PauseCommand());
  } else {
    QueueCommandLocked(ResumeCommand());
    QueueCommandLocked(KeyframeCommand());
  }
}

void PhoneLink::RequestKeyframe() {
  std::lock_guard lock(stateLock_);
  if (activeSocket_ == INVALID_SOCKET || !outbox_) return;
  QueueCommandLocked(KeyframeCommand());
}

void PhoneLink::RequestFocus(int mode, float value) {
  if (mode < 0 || mode > 2) return;
  value = std::clamp(value, 0.0f, 1.0f);
  std::lock_guard lock(stateLock_);
  if (activeSocket_ == INVALID_SOCKET || !outbox_) return;
  QueueCommandLocked(FocusCommand(mode, value));
  live_.focusMode = mode;
  live_.focusValue = value;
  focusCommandMs_ = GetTickCount64();
}

void PhoneLink::RequestBlur(float value, bool save) {
  value = std::clamp(value, 0.0f, 1.0f);
  {
    std::lock_guard lock(stateLock_);
    if (activeSocket_ == INVALID_SOCKET || !outbox_) return;
    QueueCommandLocked(BlurCommand(value));
    live_.blurValue = value;
    blurCommandMs_ = GetTickCount64();
  }
  if (save) settings_->SetBlur(static_cast<float>(static_cast<int>(value * 100 + 0.5f)) / 100.0f);
}

void PhoneLink::SendInitialRequests(SOCKET s) {
  int resolution = -1, rate = -1;
  if (ParseSavedQuality(settings_->Quality(), &resolution, &rate)) {
    std::lock_guard lock(stateLock_);
    if (activeSocket_ == s) SendQualityLocked(resolution, rate);
  }
  float blur = settings_->Blur();
  if (blur >= 0) {
    std::lock_guard lock(stateLock_);
    if (activeSocket_ != s) return;
    QueueCommandLocked(SavedBlurCommand(blur));
    live_.blurValue = blur;
    blurCommandMs_ = GetTickCount64();
  }
}
