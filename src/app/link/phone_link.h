#pragma once
// The phone end of the program: the TCP listener and the active session.
#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "app_state.h"

class Settings;
class VideoPipeline;

class PhoneLink {
 public:
  // Binds the first free port from firstPort (47800 when below 1) up to
  // 47809 and starts accepting. False when no port could be bound.
  [[nodiscard]] bool Start(HWND window, VideoPipeline* video, Settings* settings, int firstPort);
  void Stop();
  AppState Snapshot();

  void NewPairingCode();
  void SetPairingCode(const std::string& code);
  std::string PairingCode();
  int Port() const { return port_; }
  std::string LocalAddress() const { return localAddress_; }
  std::wstring ComputerName() const { return computerName_; }

 private:
  void AcceptLoop(SOCKET listening);

  HWND window_ = nullptr;
  VideoPipeline* video_ = nullptr;
  Settings* settings_ = nullptr;
  SOCKET listenSocket_ = INVALID_SOCKET;
  int port_ = 0;
  std::wstring computerName_;
  std::string localAddress_;
  std::atomic<bool> running_{false};

  std::mutex stateLock_;  // taken before sendLock_
  std::condition_variable approvals_;
  std::string pairingCode_;
  std::vector<PairingRequest> pending_;
  std::vector<int32_t> approvedIds_;
  int32_t nextRequestId_ = 0;
  SOCKET activeSocket_ = INVALID_SOCKET;
  std::mutex sendLock_;
  AppState live_;
};

extern PhoneLink g_link;
