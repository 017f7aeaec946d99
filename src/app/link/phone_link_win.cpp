#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <thread>

#include "../../common/text_win.h"
#include "../core/log.h"
#include "../core/platform.h"
#include "phone_link.h"

PhoneLink g_link;

namespace {

constexpr int kDefaultPort = 47800;
constexpr int kLastPort = 47809;

// Which address to announce is the discovery code's business; until it
// exists the loopback address is all the program can vouch for.
std::string ChooseLocalAddress() { return "127.0.0.1"; }

}  // namespace

bool PhoneLink::Start(HWND window, VideoPipeline* video, Settings* settings, int firstPort) {
  window_ = window;
  video_ = video;
  settings_ = settings;

  wchar_t name[256];
  DWORD size = 256;
  computerName_ = GetComputerNameExW(ComputerNameDnsHostname, name, &size) ? name : L"PC";
  localAddress_ = ChooseLocalAddress();
  if (PairingCode().empty()) NewPairingCode();

  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);

  int bound = 0;
  for (int p = firstPort >= 1 ? firstPort : kDefaultPort; p <= kLastPort; ++p) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<u_short>(p));
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      bound = p;
      break;
    }
  }
  if (bound == 0 || listen(s, 4) != 0) {
    closesocket(s);
    return false;
  }
  listenSocket_ = s;
  port_ = bound;
  running_ = true;
  std::thread(&PhoneLink::AcceptLoop, this, s).detach();
  LogLine("Escuchando en %s:%d (PC %s)", localAddress_.c_str(), port_, WideToUtf8(computerName_).c_str());
  return true;
}

void PhoneLink::AcceptLoop(SOCKET listening) {
  while (running_) {
    sockaddr_in peer{};
    int length = sizeof peer;
    SOCKET s = accept(listening, reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) {
      if (!running_) return;
      Sleep(50);
      continue;
    }
    // Sessions are not spoken yet: a connection is closed as soon as it
    // arrives.
    closesocket(s);
  }
}

void PhoneLink::Stop() {
  running_ = false;
  if (listenSocket_ != INVALID_SOCKET) {
    closesocket(listenSocket_);
    listenSocket_ = INVALID_SOCKET;
  }
  std::lock_guard lock(stateLock_);
  if (activeSocket_ != INVALID_SOCKET) shutdown(activeSocket_, SD_BOTH);
  approvals_.notify_all();
}

AppState PhoneLink::Snapshot() {
  std::lock_guard lock(stateLock_);
  AppState copy = live_;
  copy.pending = pending_;
  return copy;
}

void PhoneLink::NewPairingCode() {
  uint32_t value = 0;
  (void)RandomBytes(&value, sizeof value);
  char code[8];
  std::snprintf(code, sizeof code, "%06u", static_cast<unsigned>(value % 1000000));
  std::lock_guard lock(stateLock_);
  pairingCode_ = code;
}

void PhoneLink::SetPairingCode(const std::string& code) {
  std::lock_guard lock(stateLock_);
  pairingCode_ = code;
}

std::string PhoneLink::PairingCode() {
  std::lock_guard lock(stateLock_);
  return pairingCode_;
}
