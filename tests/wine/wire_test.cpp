#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <thread>

#include "app/link/wire_win.h"

namespace {

// A connected pair of loopback sockets.
struct SocketPair {
  SOCKET a = INVALID_SOCKET, b = INVALID_SOCKET;
  SocketPair() {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    listen(listener, 1);
    a = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    b = accept(listener, nullptr, nullptr);
    closesocket(listener);
    DWORD timeout = 3000;
    setsockopt(b, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  }
  ~SocketPair() {
    closesocket(a);
    closesocket(b);
  }
  void Raw(const std::vector<uint8_t>& bytes) const {
    send(a, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
  }
};

std::mutex g_sendLock;

TEST(Wire, FramesCrossTheSocketWhole) {
  SocketPair p;
  ASSERT_TRUE(SendFrame(g_sendLock, p.a, FrameType::Command, "{\"cmd\":\"pause\"}"));
  std::vector<uint8_t> big(3 * 1024 * 1024, 0x5a);
  std::thread sender([&] { EXPECT_TRUE(SendFrame(g_sendLock, p.a, FrameType::Video, big.data(), big.size())); });
  uint8_t type = 0;
  std::vector<uint8_t> payload;
  ASSERT_TRUE(ReadFrame(p.b, &type, &payload));
  EXPECT_EQ(type, 32);
  EXPECT_EQ(std::string(payload.begin(), payload.end()), "{\"cmd\":\"pause\"}");
  ASSERT_TRUE(ReadFrame(p.b, &type, &payload));
  sender.join();
  EXPECT_EQ(type, 16);
  EXPECT_EQ(payload, big);
}

TEST(Wire, FramesFromManyThreadsNeverInterleave) {
  SocketPair p;
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&, t] {
      std::vector<uint8_t> body(20000, static_cast<uint8_t>(t));
      for (int i = 0; i < 25; ++i) SendFrame(g_sendLock, p.a, FrameType::Status, body.data(), body.size());
    });
  }
  uint8_t type;
  std::vector<uint8_t> payload;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(ReadFrame(p.b, &type, &payload)) << i;
    ASSERT_EQ(payload.size(), 20000u);
    EXPECT_EQ(std::count(payload.begin(), payload.end(), payload[0]), 20000);
  }
  for (auto& s : senders) s.join();
}

TEST(Wire, BadLengthsAndClosedPeerFail) {
  uint8_t type;
  std::vector<uint8_t> payload;
  {
    SocketPair p;
    p.Raw({0, 0, 0, 0, 1});
    EXPECT_FALSE(ReadFrame(p.b, &type, &payload));
  }
  {
    SocketPair p;
    p.Raw({0, 0x40, 0, 1, 16});
    EXPECT_FALSE(ReadFrame(p.b, &type, &payload));
  }
  {
    SocketPair p;
    p.Raw({0, 0, 0, 9, 48, 1, 2});
    shutdown(p.a, SD_SEND);
    EXPECT_FALSE(ReadFrame(p.b, &type, &payload)) << "cut short by the peer";
  }
  {
    SocketPair p;
    p.Raw({0, 0, 0, 1, 48});
    ASSERT_TRUE(ReadFrame(p.b, &type, &payload));
    EXPECT_EQ(type, 48);
    EXPECT_TRUE(payload.empty());
  }
}

// Until `bytes` wait to be read on `s`, 5 s at most.
bool BytesWaiting(SOCKET s, u_long bytes) {
  for (int i = 0; i < 500; ++i) {
    u_long waiting = 0;
    if (ioctlsocket(s, FIONREAD, &waiting) == 0 && waiting >= bytes) return true;
    Sleep(10);
  }
  return false;
}

TEST(Wire, NextVideoFrameBufferedOnlyWhenAWholeVideoFrameWaits) {
  SocketPair p;
  EXPECT_FALSE(NextVideoFrameBuffered(p.b));
  std::vector<uint8_t> frame = EncodeFrame(16, std::vector<uint8_t>(100, 1).data(), 100);
  // Split across two sends: the first half alone is not enough.
  p.Raw(std::vector<uint8_t>(frame.begin(), frame.begin() + 50));
  ASSERT_TRUE(BytesWaiting(p.b, 50));
  EXPECT_FALSE(NextVideoFrameBuffered(p.b));
  p.Raw(std::vector<uint8_t>(frame.begin() + 50, frame.end()));
  ASSERT_TRUE(BytesWaiting(p.b, static_cast<u_long>(frame.size())));
  EXPECT_TRUE(NextVideoFrameBuffered(p.b));
  EXPECT_TRUE(NextVideoFrameBuffered(p.b)) << "nothing was consumed";
  uint8_t type;
  std::vector<uint8_t> payload;
  ASSERT_TRUE(ReadFrame(p.b, &type, &payload));
  EXPECT_EQ(payload.size(), 100u);

  std::vector<uint8_t> ping = EncodeFrame(48, "12345678", 8);
  p.Raw(ping);
  ASSERT_TRUE(BytesWaiting(p.b, static_cast<u_long>(ping.size())));
  EXPECT_FALSE(NextVideoFrameBuffered(p.b)) << "a waiting Ping is no picture";
}

}  // namespace
