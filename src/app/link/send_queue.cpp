#include "send_queue.h"

#include <utility>

SendQueue::Pushed SendQueue::Push(std::vector<uint8_t> frame) {
  {
    std::lock_guard lock(lock_);
    if (closed_) return Pushed::Closed;
    if (frames_.size() >= kMaxFrames) return Pushed::Full;
    frames_.push_back(std::move(frame));
  }
  ready_.notify_one();
  return Pushed::Queued;
}

bool SendQueue::Pop(std::vector<uint8_t>* frame) {
  std::unique_lock lock(lock_);
  ready_.wait(lock, [this] { return closed_ || !frames_.empty(); });
  if (closed_) return false;
  *frame = std::move(frames_.front());
  frames_.pop_front();
  return true;
}

void SendQueue::Close() {
  {
    std::lock_guard lock(lock_);
    closed_ = true;
    frames_.clear();
  }
  ready_.notify_all();
}

size_t SendQueue::Size() {
  std::lock_guard lock(lock_);
  return frames_.size();
}
