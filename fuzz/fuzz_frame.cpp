// Arbitrary bytes as a connection's byte stream: every frame is read until
// the reader gives up, and each payload goes through the message readers
// its type calls for.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/link/messages.h"
#include "app/link/wire_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  auto readExact = [&](void* out, size_t n) {
    if (size - at < n) return false;
    std::memcpy(out, data + at, n);
    at += n;
    return true;
  };
  uint8_t type = 0;
  std::vector<uint8_t> payload;
  while (ReadFrameWith(readExact, &type, &payload)) {
    std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
    switch (static_cast<FrameType>(type)) {
      case FrameType::Hello: (void)TruncatedInt(ReadHello(text).v); break;
      case FrameType::Config: (void)ReadConfig(text); break;
      case FrameType::Status: (void)ReadStatus(text); break;
      case FrameType::Video: {
        VideoPayload v;
        if (ParseVideoPayload(payload.data(), payload.size(), &v) && v.size + 9 != payload.size()) __builtin_trap();
        break;
      }
      default: break;
    }
  }
  if (size >= 5) (void)VideoFrameComplete(static_cast<long>(size), data, 5);
  return 0;
}
