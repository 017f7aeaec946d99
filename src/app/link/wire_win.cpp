#include "wire_win.h"

#include <algorithm>

#include "../core/platform.h"

bool SendFrame(std::mutex& sendLock, SOCKET s, FrameType type, const void* payload, size_t length) {
  return SendEncoded(sendLock, s, EncodeFrame(static_cast<uint8_t>(type), payload, length));
}

bool SendEncoded(std::mutex& sendLock, SOCKET s, const std::vector<uint8_t>& frame) {
  std::lock_guard lock(sendLock);
  size_t done = 0;
  while (done < frame.size()) {
    int n = send(s, reinterpret_cast<const char*>(frame.data() + done), static_cast<int>(frame.size() - done), 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SendFrame(std::mutex& sendLock, SOCKET s, FrameType type, std::string_view text) {
  return SendFrame(sendLock, s, type, text.data(), text.size());
}

bool ReadExact(SOCKET s, void* buffer, size_t n) {
  auto* p = static_cast<char*>(buffer);
  while (n > 0) {
    int ask = n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
    int got = recv(s, p, ask, 0);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool ReadFrame(SOCKET s, uint8_t* type, std::vector<uint8_t>* payload, uint32_t maxLength) {
  return ReadFrameWith([s](void* buffer, size_t n) { return ReadExact(s, buffer, n); }, type, payload, maxLength);
}

bool ReadFrameWithin(SOCKET s, uint8_t* type, std::vector<uint8_t>* payload, uint32_t maxLength, int64_t timeoutUs,
                     const std::atomic<bool>& keepGoing, bool* stopped) {
  *stopped = false;
  const int64_t deadline = MicrosecondsNow() + timeoutUs;
  auto readWithin = [&](void* buffer, size_t n) {
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
      if (!keepGoing) {
        *stopped = true;
        return false;
      }
      int64_t left = deadline - MicrosecondsNow();
      if (left <= 0) return false;
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(s, &readable);
      timeval wait = {0, static_cast<long>(std::min<int64_t>(left, 100000))};
      int ready = select(0, &readable, nullptr, nullptr, &wait);
      if (ready < 0) return false;
      if (ready == 0) continue;
      // Readable: recv hands over what has arrived without blocking.
      int got = recv(s, p, static_cast<int>(std::min<size_t>(n, 0x40000000)), 0);
      if (got <= 0) return false;
      p += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  };
  return ReadFrameWith(readWithin, type, payload, maxLength);
}

bool NextVideoFrameBuffered(SOCKET s) {
  u_long available = 0;
  if (ioctlsocket(s, FIONREAD, &available) != 0) return false;
  if (available < kFrameHeaderSize) return false;
  uint8_t header[kFrameHeaderSize];
  int peeked = recv(s, reinterpret_cast<char*>(header), sizeof header, MSG_PEEK);
  return VideoFrameComplete(static_cast<long>(available), header, peeked);
}
