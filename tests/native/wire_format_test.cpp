#include <gtest/gtest.h>

#include <cstring>

#include "app/link/wire_format.h"

namespace {

// Serves bytes from a buffer to ReadFrameWith, failing past its end.
struct ByteSource {
  std::vector<uint8_t> bytes;
  size_t at = 0;
  bool operator()(void* out, size_t n) {
    if (bytes.size() - at < n) return false;
    std::memcpy(out, bytes.data() + at, n);
    at += n;
    return true;
  }
};

std::vector<uint8_t> Header(uint32_t length, uint8_t type) {
  std::vector<uint8_t> h(5);
  WriteBe32(h.data(), length);
  h[4] = type;
  return h;
}

TEST(Framing, EncodedFrameReadsBack) {
  std::string text = "{\"v\":1}";
  std::vector<uint8_t> frame = EncodeFrame(1, text.data(), text.size());
  ASSERT_EQ(frame.size(), text.size() + 5);
  EXPECT_EQ(ReadBe32(frame.data()), text.size() + 1);
  ByteSource src{frame};
  uint8_t type = 0;
  std::vector<uint8_t> payload = {9, 9};
  ASSERT_TRUE(ReadFrameWith(src, &type, &payload));
  EXPECT_EQ(type, 1);
  EXPECT_EQ(std::string(payload.begin(), payload.end()), text);
}

TEST(Framing, LengthOneIsATypeWithAnEmptyPayload) {
  ByteSource src{Header(1, 0x30)};
  uint8_t type = 0;
  std::vector<uint8_t> payload(10, 7);
  ASSERT_TRUE(ReadFrameWith(src, &type, &payload));
  EXPECT_EQ(type, 0x30);
  EXPECT_TRUE(payload.empty());
}

TEST(Framing, LengthLimits) {
  uint8_t type;
  std::vector<uint8_t> payload;
  ByteSource zero{Header(0, 1)};
  EXPECT_FALSE(ReadFrameWith(zero, &type, &payload));
  EXPECT_EQ(zero.at, 4u) << "nothing past the length is read";

  ByteSource over{Header(0x400001, 16)};
  over.bytes.resize(over.bytes.size() + 0x400000);
  EXPECT_FALSE(ReadFrameWith(over, &type, &payload));

  ByteSource max{Header(0x400000, 16)};
  max.bytes.resize(max.bytes.size() + 0x3fffff, 0xab);
  ASSERT_TRUE(ReadFrameWith(max, &type, &payload));
  EXPECT_EQ(payload.size(), 4194303u);
  EXPECT_EQ(payload.back(), 0xab);

  EXPECT_TRUE(FrameLengthValid(1));
  EXPECT_FALSE(FrameLengthValid(0xffffffff));
}

TEST(Framing, ShortReadsFail) {
  uint8_t type;
  std::vector<uint8_t> payload;
  for (size_t cut = 0; cut < 12; ++cut) {
    std::vector<uint8_t> frame = EncodeFrame(4, "abcdefg", 7);
    frame.resize(cut);
    ByteSource src{frame};
    EXPECT_FALSE(ReadFrameWith(src, &type, &payload)) << cut;
  }
}

TEST(Framing, BigEndianHelpers) {
  uint8_t b[8];
  WriteBe64(b, 0x0102030405060708ull);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[7], 8);
  EXPECT_EQ(ReadBe64(b), 0x0102030405060708ull);
  WriteBe64(b, static_cast<uint64_t>(-5));
  EXPECT_EQ(static_cast<int64_t>(ReadBe64(b)), -5);
}

TEST(Framing, VideoPayloadNeedsTenBytes) {
  VideoPayload v;
  std::vector<uint8_t> nine = EncodeVideoPayload(123, true, nullptr, 0);
  ASSERT_EQ(nine.size(), 9u);
  EXPECT_FALSE(ParseVideoPayload(nine.data(), nine.size(), &v));
  uint8_t byte = 0x65;
  std::vector<uint8_t> ten = EncodeVideoPayload(0x1122334455667788ull, true, &byte, 1);
  ten[8] = 0xff;  // other flag bits are ignored
  ASSERT_TRUE(ParseVideoPayload(ten.data(), ten.size(), &v));
  EXPECT_EQ(v.timestampUs, 0x1122334455667788ull);
  EXPECT_TRUE(v.keyframe);
  EXPECT_EQ(v.size, 1u);
  EXPECT_EQ(v.data[0], 0x65);
  ten[8] = 0xfe;
  ASSERT_TRUE(ParseVideoPayload(ten.data(), ten.size(), &v));
  EXPECT_FALSE(v.keyframe);
}

TEST(Framing, CompleteVideoFrameInTheBuffer) {
  std::vector<uint8_t> h = Header(101, 16);
  EXPECT_TRUE(VideoFrameComplete(105, h.data(), 5));
  EXPECT_TRUE(VideoFrameComplete(500, h.data(), 5));
  EXPECT_FALSE(VideoFrameComplete(104, h.data(), 5)) << "one byte still missing";
  EXPECT_FALSE(VideoFrameComplete(4, h.data(), 5));
  EXPECT_FALSE(VideoFrameComplete(105, h.data(), 3)) << "peek came back short";
  std::vector<uint8_t> ping = Header(9, 0x30);
  EXPECT_FALSE(VideoFrameComplete(1000, ping.data(), 5));
}

}  // namespace
