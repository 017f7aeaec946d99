#pragma once
// The few socket calls the phone stand-in needs, on Linux and on Windows.
#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SimSocket = SOCKET;
inline constexpr SimSocket kNoSocket = INVALID_SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
using SimSocket = int;
inline constexpr SimSocket kNoSocket = -1;
#endif

inline bool NetStart() {
#ifdef _WIN32
  WSADATA wsa;
  return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
#else
  return true;
#endif
}

inline void NetClose(SimSocket s) {
#ifdef _WIN32
  closesocket(s);
#else
  close(s);
#endif
}

inline void NetShutdown(SimSocket s) {
#ifdef _WIN32
  shutdown(s, SD_BOTH);
#else
  shutdown(s, SHUT_RDWR);
#endif
}

inline SimSocket NetConnect(const std::string& host, int port) {
  SimSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) return kNoSocket;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1 ||
      connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    NetClose(s);
    return kNoSocket;
  }
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return s;
}

inline bool NetSendAll(SimSocket s, const uint8_t* data, size_t n) {
  while (n > 0) {
    int chunk = n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
#ifdef _WIN32
    int sent = send(s, reinterpret_cast<const char*>(data), chunk, 0);
#else
    int sent = static_cast<int>(send(s, data, static_cast<size_t>(chunk), MSG_NOSIGNAL));
#endif
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

inline bool NetRecvExact(SimSocket s, void* buffer, size_t n) {
  auto* p = static_cast<char*>(buffer);
  while (n > 0) {
    int chunk = n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
    int got = static_cast<int>(recv(s, p, static_cast<size_t>(chunk), 0));
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}
