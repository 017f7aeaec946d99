#pragma once
// Framing of the phone connection: a 4-byte big-endian length (type byte
// plus payload), the type byte, the payload.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class FrameType : uint8_t {
  Hello = 1,
  Welcome = 2,
  Deny = 3,
  Config = 4,
  Video = 16,
  Command = 32,
  Status = 33,
  Ping = 48,
  Pong = 49,
};

inline constexpr uint32_t kMaxFrameLength = 0x400000;
inline constexpr size_t kFrameHeaderSize = 5;
inline constexpr size_t kVideoHeaderSize = 9;

inline bool FrameLengthValid(uint32_t length, uint32_t maxLength = kMaxFrameLength) {
  return length != 0 && length <= maxLength;
}

uint32_t ReadBe32(const uint8_t* p);
uint64_t ReadBe64(const uint8_t* p);
void WriteBe32(uint8_t* p, uint32_t v);
void WriteBe64(uint8_t* p, uint64_t v);

// The whole frame in one buffer, ready for one send.
std::vector<uint8_t> EncodeFrame(uint8_t type, const void* payload, size_t length);

// Reads one frame through readExact(buffer, n) -> bool. The payload buffer
// is reused; it is sized to the frame and zero-filled before reading.
// False on a short read or a length of 0 or above maxLength.
template <typename ReadExact>
bool ReadFrameWith(ReadExact&& readExact, uint8_t* type, std::vector<uint8_t>* payload,
                   uint32_t maxLength = kMaxFrameLength) {
  uint8_t header[4];
  if (!readExact(header, sizeof header)) return false;
  uint32_t length = ReadBe32(header);
  if (!FrameLengthValid(length, maxLength)) return false;
  if (!readExact(type, 1)) return false;
  payload->assign(length - 1, 0);
  return payload->empty() || readExact(payload->data(), payload->size());
}

// Whether a complete Video frame waits in a receive buffer that holds
// `available` bytes starting with `header` (the 5 peeked bytes).
bool VideoFrameComplete(long available, const uint8_t* header, long peeked);

struct VideoPayload {
  uint64_t timestampUs = 0;
  bool keyframe = false;
  const uint8_t* data = nullptr;
  size_t size = 0;
};
// False for a payload shorter than 10 bytes, which carries no picture.
bool ParseVideoPayload(const uint8_t* payload, size_t length, VideoPayload* out);
std::vector<uint8_t> EncodeVideoPayload(uint64_t timestampUs, bool keyframe, const uint8_t* data, size_t size);
