#pragma once
// Frames on their way to the phone, in the order they were asked for. The
// window's requests go in here and never wait for the network; the session's
// sender thread takes them out and writes them to the socket. A phone that
// stops reading fills the socket, then this queue: it holds at most
// kMaxFrames, and a push beyond that fails, which ends the session.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

class SendQueue {
 public:
  static constexpr size_t kMaxFrames = 256;
  enum class Pushed { Queued, Full, Closed };

  // Nothing is queued when the queue is full or closed.
  [[nodiscard]] Pushed Push(std::vector<uint8_t> frame);
  // The next frame, waiting for one; false once the queue is closed (what
  // was still queued is dropped: the session is over).
  [[nodiscard]] bool Pop(std::vector<uint8_t>* frame);
  void Close();
  size_t Size();
  // True for the first caller only: the session is cut off once, whoever
  // notices first (the sender, the session thread, a full queue).
  bool MarkCutOff() { return !cutOff_.exchange(true); }

 private:
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<std::vector<uint8_t>> frames_;
  bool closed_ = false;
  std::atomic<bool> cutOff_{false};
};
