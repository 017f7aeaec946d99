#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "app/core/settings.h"
#include "app/link/phone_link.h"

namespace {

class Winsock : public ::testing::Environment {
 public:
  void SetUp() override {
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  }
};
const auto* const kWinsock = ::testing::AddGlobalTestEnvironment(new Winsock);

// The accept thread is detached and reads the link to the end, as in the
// program, where the link lives as long as the process.
PhoneLink* NewLink() { return new PhoneLink; }

SOCKET BindLoopback(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(static_cast<u_short>(port));
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 1) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

bool ConnectAndSeeClosed(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  a.sin_port = htons(static_cast<u_short>(port));
  DWORD timeout = 3000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  bool closed = false;
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    char byte;
    closed = recv(s, &byte, 1, 0) == 0;
  }
  closesocket(s);
  return closed;
}

Settings g_testSettings;

TEST(PhoneLinkListener, TakesTheFirstFreePortAndSkipsBusyOnes) {
  SOCKET busy = BindLoopback(47805);
  ASSERT_NE(busy, INVALID_SOCKET);
  PhoneLink* link = NewLink();
  ASSERT_TRUE(link->Start(nullptr, nullptr, &g_testSettings, 47805));
  EXPECT_EQ(link->Port(), 47806);
  EXPECT_TRUE(ConnectAndSeeClosed(47806)) << "connections are closed until sessions exist";
  link->Stop();
  closesocket(busy);
}

TEST(PhoneLinkListener, PortBelowOneMeansTheDefault) {
  PhoneLink* link = NewLink();
  ASSERT_TRUE(link->Start(nullptr, nullptr, &g_testSettings, 0));
  EXPECT_EQ(link->Port(), 47800);
  link->Stop();
  // Stopped: the port is free again.
  SOCKET again = BindLoopback(47800);
  EXPECT_NE(again, INVALID_SOCKET);
  closesocket(again);
}

TEST(PhoneLinkListener, NoFreePortUpTo47809Fails) {
  std::vector<SOCKET> held;
  for (int p = 47808; p <= 47809; ++p) held.push_back(BindLoopback(p));
  PhoneLink* link = NewLink();
  EXPECT_FALSE(link->Start(nullptr, nullptr, &g_testSettings, 47808));
  EXPECT_EQ(link->Port(), 0);
  EXPECT_FALSE(NewLink()->Start(nullptr, nullptr, &g_testSettings, 47810));
  for (SOCKET s : held) closesocket(s);
}

TEST(PhoneLinkPairing, CodeIsSixDigitsAndCanBeReplaced) {
  PhoneLink* link = NewLink();
  link->NewPairingCode();
  std::string code = link->PairingCode();
  ASSERT_EQ(code.size(), 6u);
  EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos);
  link->SetPairingCode("codigo \xc3\xb1");
  EXPECT_EQ(link->PairingCode(), "codigo \xc3\xb1");
  ASSERT_TRUE(link->Start(nullptr, nullptr, &g_testSettings, 47801));
  EXPECT_EQ(link->PairingCode(), "codigo \xc3\xb1") << "Start keeps a code that is already set";
  link->Stop();
}

}  // namespace
