#include "app/link/send_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace {

std::vector<uint8_t> Frame(uint8_t n) { return {n}; }

TEST(SendQueue, HandsFramesOutInOrderAndRefusesBeyondItsRoom) {
  SendQueue q;
  for (size_t i = 0; i < SendQueue::kMaxFrames; ++i) {
    ASSERT_EQ(q.Push(Frame(static_cast<uint8_t>(i))), SendQueue::Pushed::Queued);
  }
  EXPECT_EQ(q.Push(Frame(0)), SendQueue::Pushed::Full) << "the phone has stopped reading";
  EXPECT_EQ(q.Size(), SendQueue::kMaxFrames);
  std::vector<uint8_t> f;
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(q.Pop(&f));
    EXPECT_EQ(f, Frame(static_cast<uint8_t>(i)));
  }
  EXPECT_EQ(q.Push(Frame(7)), SendQueue::Pushed::Queued) << "room again";
  EXPECT_TRUE(q.MarkCutOff()) << "the first to notice";
  EXPECT_FALSE(q.MarkCutOff()) << "and only the first";
}

TEST(SendQueue, CloseWakesTheSenderAndDropsWhatWaits) {
  SendQueue q;
  auto popped = std::async(std::launch::async, [&q] {
    std::vector<uint8_t> f;
    bool first = q.Pop(&f);  // waits for the first frame
    bool second = q.Pop(&f);  // waits until closed
    return std::pair{first, second};
  });
  EXPECT_EQ(popped.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout) << "waits";
  ASSERT_EQ(q.Push(Frame(1)), SendQueue::Pushed::Queued);
  while (q.Size() != 0) std::this_thread::yield();  // taken by the sender
  q.Close();
  ASSERT_EQ(popped.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(popped.get(), (std::pair{true, false}));
  EXPECT_EQ(q.Push(Frame(2)), SendQueue::Pushed::Closed) << "not full: the session is over";
  SendQueue closedWithFrames;
  ASSERT_EQ(closedWithFrames.Push(Frame(3)), SendQueue::Pushed::Queued);
  closedWithFrames.Close();
  std::vector<uint8_t> f;
  EXPECT_FALSE(closedWithFrames.Pop(&f)) << "the session is over: nothing more goes out";
}

}  // namespace
