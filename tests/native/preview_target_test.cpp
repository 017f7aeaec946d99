#include "app/video/preview_target.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>

namespace {

bool Same(PreviewTarget a, PreviewTarget b) {
  return a.width == b.width && a.height == b.height && a.wanted == b.wanted;
}

TEST(PreviewTarget, ReadsBackWhatWasStored) {
  SharedPreviewTarget shared;
  EXPECT_TRUE(Same(shared.Load(), {0, 0, false}));
  for (PreviewTarget t : {PreviewTarget{692, 392, true}, PreviewTarget{7680, 4320, false},
                          PreviewTarget{INT32_MAX, INT32_MAX, true}, PreviewTarget{0, 0, true}}) {
    shared.Store(t);
    EXPECT_TRUE(Same(shared.Load(), t)) << t.width << "x" << t.height << " " << t.wanted;
  }
  shared.Store({-2, 100, true});
  EXPECT_TRUE(Same(shared.Load(), {0, 100, true})) << "a negative size is no size";
}

// The window resizes while the session converts: the session must get one
// request whole, never the width of one and the height of the other.
TEST(PreviewTarget, AReaderNeverSeesPartsOfTwoRequests) {
  const PreviewTarget small{640, 360, true}, large{1920, 1080, false};
  SharedPreviewTarget shared;
  shared.Store(small);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; !done; ++i) shared.Store(i % 2 ? small : large);
  });
  int mixed = 0;
  for (int i = 0; i < 200000; ++i) {
    PreviewTarget t = shared.Load();
    if (!Same(t, small) && !Same(t, large)) ++mixed;
  }
  done = true;
  writer.join();
  EXPECT_EQ(mixed, 0);
}

}  // namespace
