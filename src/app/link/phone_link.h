#pragma once
// The phone end of the program: the TCP listener, the sessions with phones,
// pairing, discovery and the requests the window sends to the phone.
#include <winsock2.h>
#include <windns.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app_state.h"
#include "pairing.h"
#include "send_queue.h"
#include "wire_format.h"

class Settings;
class VideoPipeline;
struct MdnsRegistration;

class PhoneLink {
 public:
  static constexpr size_t kMaxWaitingForHello = 16;
  static constexpr size_t kMaxWaitingForApproval = 8;
  static constexpr uint32_t kMaxHelloLength = 64 * 1024;

  // Binds the first free port from firstPort (47800 when below 1) up to
  // 47809 and starts accepting. False when no port could be bound.
  [[nodiscard]] bool Start(HWND window, VideoPipeline* video, Settings* settings, int firstPort);
  void Stop();
  void Disconnect();
  // Shutdown: waits up to ms for every thread of the link (accept, session,
  // approval) to end. False when one is still running after that.
  [[nodiscard]] bool WaitForThreads(unsigned ms);
  AppState Snapshot();

  // Pairing.
  void NewPairingCode();
  void SetPairingCode(const std::string& code);
  std::string PairingCode();
  std::string PairingUri();
  void Approve(int32_t requestId);

  // Requests to the phone; nothing happens without an active session.
  void RequestQuality(int resolution, int rate);
  void RequestPause(bool paused);
  void RequestFocus(int mode, float value);
  void RequestBlur(float value, bool save);
  // A key frame from the phone, so a picture can be decoded at once.
  void RequestKeyframe();
  bool PausedByPc() const { return pausedByPc_; }

  int Port() const { return port_; }
  // The WSA error of the last port Start could not bind (0: none tried).
  int BindError() const { return bindError_; }
  std::string LocalAddress() const { return localAddress_; }
  std::wstring ComputerName() const { return computerName_; }

 private:
  enum class Approval { Approved, Left, Timeout };
  struct HelloWaiter {
    uint64_t ticket;
    SOCKET socket;
  };
  // One connection's way out: its socket and the lock that keeps its frames
  // whole. Each connection has its own, so a peer that does not read holds
  // up its own sends and nobody else's. It lives on its session thread; the
  // session's sender thread, its only other user, is joined before it goes.
  struct Connection {
    explicit Connection(SOCKET s) : socket(s) {}
    const SOCKET socket;
    std::mutex sendLock;
  };

  void AcceptLoop(SOCKET listening);
  void SessionThread(SOCKET s, const std::string& peer, uint64_t ticket);
  void RunSession(SOCKET s, const std::string& peer, uint64_t ticket);
  void EndSession(SOCKET s, const std::string& device);
  void Stream(Connection& c);
  // False when a send to the phone failed (WSAGetLastError tells why).
  bool StreamFrames(Connection& c);
  Approval WaitForApproval(Connection& c, const std::string& device);
  void Deny(Connection& c, const char* reason, const std::string& device);
  void SendInitialRequests(SOCKET s);
  void SendQualityLocked(int resolution, int rate);
  void QueueCommandLocked(const std::string& text);
  // The session's sender thread: writes what the queue hands it.
  void SendQueued(const std::shared_ptr<SendQueue>& queue, Connection* c);
  bool Send(Connection& c, FrameType type, const std::string& text);
  void Notify();
  void ThreadStarted();
  void ThreadEnded();
  uint64_t JoinHelloWait(SOCKET s);
  bool LeaveHelloWait(uint64_t ticket);  // true when the connection was closed to make room
  void RegisterService();
  // Waits (bounded) for the withdrawal to complete: no DNS-SD callback of
  // ours logs once it has returned.
  void UnregisterService();

  HWND window_ = nullptr;
  VideoPipeline* video_ = nullptr;
  Settings* settings_ = nullptr;
  SOCKET listenSocket_ = INVALID_SOCKET;
  int port_ = 0;
  int bindError_ = 0;
  std::wstring computerName_;
  std::string localAddress_;
  std::atomic<bool> running_{false};

  // The state lock is taken before a connection's send lock, never the
  // other way round, and the settings lock is never taken while holding it.
  std::mutex stateLock_;
  std::condition_variable approvals_;
  std::string pairingCode_;
  CodeGuessGuard guesses_;
  std::vector<PairingRequest> pending_;
  std::vector<int32_t> approvedIds_;
  int32_t nextRequestId_ = 0;
  SOCKET activeSocket_ = INVALID_SOCKET;
  std::shared_ptr<SendQueue> outbox_;  // the active session's requests
  // The active session has stopped streaming and is tearing the video
  // down; it frees the slot (and signals slotFreed_) once it is done.
  bool activeEnding_ = false;
  std::condition_variable slotFreed_;
  AppState live_;
  std::atomic<bool> pausedByPc_{false};
  uint64_t qualityRequestMs_ = 0;
  uint64_t focusCommandMs_ = 0;
  uint64_t blurCommandMs_ = 0;

  // Connections that have not said HELLO yet, oldest first.
  std::mutex helloLock_;
  std::deque<HelloWaiter> waitingForHello_;
  uint64_t nextTicket_ = 1;
  bool floodLogged_ = false;

  // Threads that still use the link or the video pipeline.
  std::mutex threadsLock_;
  std::condition_variable threadsDone_;
  int threads_ = 0;

  // The DNS-SD registration while it stands; null when there is none.
  MdnsRegistration* mdns_ = nullptr;
};

extern PhoneLink g_link;
