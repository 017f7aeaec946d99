#include "wire_format.h"

#include <algorithm>

uint32_t ReadBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

uint64_t ReadBe64(const uint8_t* p) {
  return (static_cast<uint64_t>(ReadBe32(p)) << 32) | ReadBe32(p + 4);
}

void WriteBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void WriteBe64(uint8_t* p, uint64_t v) {
  WriteBe32(p, static_cast<uint32_t>(v >> 32));
  WriteBe32(p + 4, static_cast<uint32_t>(v));
}

std::vector<uint8_t> EncodeFrame(uint8_t type, const void* payload, size_t length) {
  std::vector<uint8_t> frame(kFrameHeaderSize + length);
  WriteBe32(frame.data(), static_cast<uint32_t>(length + 1));
  frame[4] = type;
  if (length) std::copy_n(static_cast<const uint8_t*>(payload), length, frame.data() + kFrameHeaderSize);
  return frame;
}

bool VideoFrameComplete(long available, const uint8_t* header, long peeked) {
  if (available < static_cast<long>(kFrameHeaderSize) || peeked != static_cast<long>(kFrameHeaderSize)) {
    return false;
  }
  if (header[4] != static_cast<uint8_t>(FrameType::Video)) return false;
  return static_cast<uint64_t>(available) >= static_cast<uint64_t>(ReadBe32(header)) + 4;
}

bool ParseVideoPayload(const uint8_t* payload, size_t length, VideoPayload* out) {
  if (length < kVideoHeaderSize + 1) return false;
  out->timestampUs = ReadBe64(payload);
  out->keyframe = (payload[8] & 1) != 0;
  out->data = payload + kVideoHeaderSize;
  out->size = length - kVideoHeaderSize;
  return true;
}

std::vector<uint8_t> EncodeVideoPayload(uint64_t timestampUs, bool keyframe, const uint8_t* data, size_t size) {
  std::vector<uint8_t> payload(kVideoHeaderSize + size);
  WriteBe64(payload.data(), timestampUs);
  payload[8] = keyframe ? 1 : 0;
  if (size) std::copy_n(data, size, payload.data() + kVideoHeaderSize);
  return payload;
}
