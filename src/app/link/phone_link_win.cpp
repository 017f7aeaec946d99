#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <thread>

#include "../../common/text_win.h"
#include "../core/log.h"
#include "../core/platform.h"
#include "../core/settings.h"
#include "../core/window_messages.h"
#include "../video/video_pipeline.h"
#include "messages.h"
#include "phone_link.h"
#include "session_state.h"
#include "wire_win.h"

PhoneLink g_link;

namespace {

constexpr int kDefaultPort = 47800;
constexpr int kLastPort = 47809;
// How long a phone that comes back waits for its ended session's teardown.
constexpr auto kEndingSessionWait = std::chrono::seconds(3);
// While the user decides, a phone's frames must each arrive whole this fast.
constexpr int64_t kWaitingFrameUs = 2000000;

// A phone has this long to take each frame we send it: one that stops
// reading ends its session rather than holding a thread for good.
constexpr DWORD kSendLimitMs = 2000;

void SetReceiveTimeout(SOCKET s, DWORD ms) {
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

}  // namespace

std::string ChooseLocalAddress();  // discovery_win.cpp

bool PhoneLink::Start(HWND window, VideoPipeline* video, Settings* settings, int firstPort) {
  window_ = window;
  video_ = video;
  settings_ = settings;

  wchar_t name[256];
  DWORD size = 256;
  computerName_ = GetComputerNameExW(ComputerNameDnsHostname, name, &size) ? name : L"PC";
  localAddress_ = ChooseLocalAddress();
  if (PairingCode().empty()) NewPairingCode();

  bindError_ = 0;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    bindError_ = WSAGetLastError();
    return false;
  }
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
    bindError_ = WSAGetLastError();
  }
  if (bound == 0 || listen(s, 4) != 0) {
    if (bound != 0) bindError_ = WSAGetLastError();
    closesocket(s);
    return false;
  }
  bindError_ = 0;
  listenSocket_ = s;
  port_ = bound;
  running_ = true;
  ThreadStarted();
  try {
    std::thread(&PhoneLink::AcceptLoop, this, s).detach();
  } catch (const std::system_error&) {
    ThreadEnded();
    running_ = false;
    closesocket(s);
    listenSocket_ = INVALID_SOCKET;
    port_ = 0;
    return false;
  }
  RegisterService();
  LogLine("Escuchando en %s:%d (PC %s)", localAddress_.c_str(), port_, WideToUtf8(computerName_).c_str());
  return true;
}

void PhoneLink::AcceptLoop(SOCKET listening) {
  while (running_) {
    sockaddr_in peer{};
    int length = sizeof peer;
    SOCKET s = accept(listening, reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) {
      if (!running_) break;
      Sleep(50);
      continue;
    }
    char address[32] = "";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    uint64_t ticket = JoinHelloWait(s);
    if (ticket == 0) {  // stopping
      closesocket(s);
      break;
    }
    ThreadStarted();
    try {
      std::thread(&PhoneLink::SessionThread, this, s, std::string(address), ticket).detach();
    } catch (const std::system_error&) {
      // No thread for it: the connection cannot be served.
      ThreadEnded();
      LeaveHelloWait(ticket);
      closesocket(s);
    }
  }
  ThreadEnded();
}

void PhoneLink::ThreadStarted() {
  std::lock_guard lock(threadsLock_);
  ++threads_;
}

void PhoneLink::ThreadEnded() {
  std::lock_guard lock(threadsLock_);
  if (--threads_ == 0) threadsDone_.notify_all();
}

bool PhoneLink::WaitForThreads(unsigned ms) {
  std::unique_lock lock(threadsLock_);
  return threadsDone_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return threads_ == 0; });
}

// A phone says HELLO right away; whoever opens connections and says nothing
// must not be able to tie up threads and memory. Beyond the limit, the
// connection that has waited longest is closed, so a real phone that
// speaks at once always gets through.
// 0 once Stop has run: Stop closes every connection it finds waiting here.
uint64_t PhoneLink::JoinHelloWait(SOCKET s) {
  std::lock_guard lock(helloLock_);
  if (!running_) return 0;
  if (waitingForHello_.size() >= kMaxWaitingForHello) {
    shutdown(waitingForHello_.front().socket, SD_BOTH);
    waitingForHello_.pop_front();
    if (!floodLogged_) {
      LogLine("Demasiadas conexiones sin HELLO: cierro las que más esperaron");
      floodLogged_ = true;
    }
  } else {
    floodLogged_ = false;
  }
  uint64_t ticket = nextTicket_++;
  waitingForHello_.push_back({ticket, s});
  return ticket;
}

bool PhoneLink::LeaveHelloWait(uint64_t ticket) {
  std::lock_guard lock(helloLock_);
  auto it = std::find_if(waitingForHello_.begin(), waitingForHello_.end(),
                         [ticket](const HelloWaiter& w) { return w.ticket == ticket; });
  if (it == waitingForHello_.end()) return true;
  waitingForHello_.erase(it);
  return false;
}

void PhoneLink::SessionThread(SOCKET s, const std::string& peer, uint64_t ticket) {
  RunSession(s, peer, ticket);
  ThreadEnded();  // the last touch of the link: shutdown may go on from here
}

void PhoneLink::RunSession(SOCKET s, const std::string& peer, uint64_t ticket) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  int receiveBuffer = 0x400000;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
  SetReceiveTimeout(s, 10000);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&kSendLimitMs), sizeof kSendLimitMs);

  uint8_t type = 0;
  std::vector<uint8_t> payload;
  bool read = ReadFrame(s, &type, &payload, kMaxHelloLength);
  bool evicted = LeaveHelloWait(ticket);
  if (evicted || !read || type != static_cast<uint8_t>(FrameType::Hello)) {
    // Connections closed to make room were reported once, for the burst.
    if (!evicted) LogLine("Conexión de %s sin HELLO: se cierra", peer.c_str());
    closesocket(s);
    CoUninitialize();
    return;
  }

  Connection c(s);
  HelloMessage hello = ReadHello(std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()));
  std::string device = LogSafe(hello.device);
  LogLine("HELLO de %s (%s, %s) v=%g codigo=%s token=%s", device.c_str(), LogSafe(hello.model).c_str(),
          peer.c_str(), hello.v, hello.hasCode ? "si" : "no", hello.hasToken ? "si" : "no");

  std::string code = PairingCode();
  HelloVerdict verdict =
      DecideHello(hello, code, [this](const std::string& token) { return settings_->FindLinkedPhone(token); });
  switch (verdict) {
    case HelloVerdict::ApprovedByToken:
    case HelloVerdict::ApprovedByCode: {
      std::lock_guard lock(stateLock_);
      guesses_.Proven();
      break;
    }
    case HelloVerdict::DenyCode: {
      bool exhausted;
      {
        std::lock_guard lock(stateLock_);
        exhausted = guesses_.WrongCode();
      }
      if (exhausted) {
        NewPairingCode();
        LogLine("%d códigos equivocados seguidos: nuevo código de vinculación", CodeGuessGuard::kMaxWrongCodes);
        Notify();
      }
      Deny(c, DenyReason(verdict), device);
      return;
    }
    case HelloVerdict::DenyVersion:
    case HelloVerdict::DenyToken:
      Deny(c, DenyReason(verdict), device);
      return;
    case HelloVerdict::AskUser:
      switch (WaitForApproval(c, hello.device)) {
        case Approval::Approved: break;
        case Approval::Left:
          closesocket(s);
          CoUninitialize();
          return;
        case Approval::Timeout:
          Deny(c, "timeout", device);
          return;
      }
      break;
  }

  bool busy;
  {
    std::unique_lock lock(stateLock_);
    // A phone that comes back right after its session ended (after
    // "Desconectar", say) waits for that session to let the video go
    // rather than being told it is busy.
    slotFreed_.wait_for(lock, kEndingSessionWait,
                        [this] { return activeSocket_ == INVALID_SOCKET || !activeEnding_ || !running_; });
    if (activeSocket_ == INVALID_SOCKET) {
      activeSocket_ = s;
      outbox_ = std::make_shared<SendQueue>();
      ResetForActivation(&live_, hello.device, hello.model);
      pausedByPc_ = false;
    }
    busy = activeSocket_ != s;
  }
  if (busy) {
    Deny(c, "busy", device);
    return;
  }

  std::string token =
      verdict == HelloVerdict::ApprovedByToken ? hello.token : settings_->AddLinkedPhone(hello.device);
  if (token.empty()) {
    // No random bytes for a token: a guessable one would let anybody in.
    LogLine("No se pudo generar un token para %s: no se vincula", device.c_str());
    {
      std::lock_guard lock(stateLock_);
      activeSocket_ = INVALID_SOCKET;
      outbox_.reset();
      activeEnding_ = false;
      live_.connected = false;
    }
    slotFreed_.notify_all();
    shutdown(s, SD_BOTH);
    closesocket(s);
    CoUninitialize();
    return;
  }
  Send(c, FrameType::Welcome, WelcomeText(WideToUtf8(computerName_), settings_->Id(), token));
  LogLine("WELCOME a %s", device.c_str());
  SendInitialRequests(s);
  Notify();

  Stream(c);
  EndSession(s, device);
}

void PhoneLink::EndSession(SOCKET s, const std::string& device) {
  {
    std::lock_guard lock(stateLock_);
    activeEnding_ = true;
    live_.connected = false;
    outbox_.reset();
  }
  // The slot stays taken until the decoder is gone, so the next session
  // never finds this one still using the pipeline.
  video_->Teardown();
  {
    std::lock_guard lock(stateLock_);
    activeSocket_ = INVALID_SOCKET;
    activeEnding_ = false;
  }
  slotFreed_.notify_all();
  NewPairingCode();
  shutdown(s, SD_BOTH);
  closesocket(s);
  LogLine("Se desconectó %s", device.c_str());
  Notify();
  CoUninitialize();
}

bool PhoneLink::StreamFrames(Connection& c) {
  const SOCKET s = c.socket;
  SetReceiveTimeout(s, 6000);
  video_->Latency().Reset();
  video_->ClearClock();
  uint64_t frames = 0, bytes = 0;
  bool notDecoding = false;
  int64_t lastReceived = MicrosecondsNow();
  int64_t lastStatistics = lastReceived;
  int64_t lastPing = 0;
  ClockEstimator clock;
  uint8_t type = 0;
  std::vector<uint8_t> payload;

  while (running_) {
    int64_t now = MicrosecondsNow();
    if (now - lastPing >= 1000000) {
      uint8_t stamp[8];
      WriteBe64(stamp, static_cast<uint64_t>(now));
      if (!SendFrame(c.sendLock, s, FrameType::Ping, stamp, sizeof stamp)) return false;
      lastPing = now;
    }
    if (now - lastStatistics >= 1000000) {
      std::lock_guard lock(stateLock_);
      double seconds = static_cast<double>(now - lastStatistics) / 1e6;
      live_.receivedFps = static_cast<double>(frames) / seconds;
      live_.receivedMbps = static_cast<double>(bytes) * 8 / seconds / 1e6;
      frames = bytes = 0;
      lastStatistics = now;
      if (live_.requestedResolution >= 0 && GetTickCount64() - qualityRequestMs_ > 4000) {
        LogLine("El celu no aplicó %s@%d en 4 s: queda lo del último CONFIG",
                kResolutionNames[live_.requestedResolution], kRates[live_.requestedRate]);
        live_.requestedResolution = -1;
        live_.requestedRate = -1;
        Notify();
      }
    }

    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait = {0, 200000};
    int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready < 0) break;
    // Silence is judged by the socket: only a wait that found nothing from
    // the phone counts. Time this thread spent elsewhere (a decoder that
    // takes seconds to start, say) while the phone's bytes were already
    // waiting is not the phone's silence.
    if (ready == 0 && MicrosecondsNow() - lastReceived > 5000000) {
      LogLine("5 s sin datos del celu: se corta");
      break;
    }
    if (ready > 0) {
      if (!ReadFrame(s, &type, &payload)) break;
      lastReceived = MicrosecondsNow();
      std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
      switch (static_cast<FrameType>(type)) {
        case FrameType::Config: {
          ConfigMessage config = ReadConfig(text);
          LogLine("CONFIG %s %gx%g@%g", LogSafe(config.codec).c_str(), config.width, config.height, config.fps);
          int w = TruncatedInt(config.width), h = TruncatedInt(config.height), fps = TruncatedInt(config.fps);
          if (config.codec == "h264") video_->Configure(w, h, fps);
          ConfigOutcome outcome;
          {
            std::lock_guard lock(stateLock_);
            outcome = ApplyConfig(&live_, w, h, fps, GetTickCount64(), qualityRequestMs_);
          }
          if (!outcome.appliedLine.empty()) LogLine("%s", outcome.appliedLine.c_str());
          if (outcome.adopt) settings_->SetQuality(outcome.savedText);
          Notify();
          break;
        }
        case FrameType::Video: {
          VideoPayload video;
          if (!ParseVideoPayload(payload.data(), payload.size(), &video)) break;
          ++frames;
          bytes += payload.size();
          if (!video_->IsSomeoneWatching()) {
            if (!notDecoding) LogLine("Nadie mira la imagen: dejo de decodificar");
            notDecoding = true;
            break;
          }
          if (notDecoding) {
            notDecoding = false;
            video_->ClearKeyframeSeen();
            LogLine("Alguien mira la imagen: pido cuadro clave");
            if (!Send(c, FrameType::Command, KeyframeCommand())) return false;
          }
          int64_t stamp = static_cast<int64_t>(video.timestampUs);
          video_->Latency().Record(kStageArrival, video_->LatencyMs(stamp));
          bool show = !NextVideoFrameBuffered(s);
          video_->Decode(video.data, video.size, stamp, video.keyframe, show);
          break;
        }
        case FrameType::Status: {
          StatusMessage status = ReadStatus(text);
          std::string capsLine;
          bool changed;
          {
            std::lock_guard lock(stateLock_);
            changed = ApplyStatus(&live_, status, GetTickCount64(), focusCommandMs_, blurCommandMs_, &capsLine);
          }
          if (!capsLine.empty()) LogLine("%s", capsLine.c_str());
          if (changed) Notify();
          break;
        }
        case FrameType::Ping: {
          if (!SendFrame(c.sendLock, s, FrameType::Pong, payload.data(), payload.size())) return false;
          if (payload.size() >= 8) {
            video_->SetClockOffset(clock.OnPing(MicrosecondsNow(), static_cast<int64_t>(ReadBe64(payload.data()))));
          }
          break;
        }
        case FrameType::Pong: {
          if (payload.size() < 8) break;
          int64_t trip = clock.OnPong(MicrosecondsNow(), static_cast<int64_t>(ReadBe64(payload.data())));
          std::lock_guard lock(stateLock_);
          live_.roundTripMs = SmoothRoundTrip(live_.roundTripMs, static_cast<double>(trip) / 1000.0);
          break;
        }
        default:
          break;
      }
    }
  }
  return true;
}

PhoneLink::Approval PhoneLink::WaitForApproval(Connection& c, const std::string& device) {
  const SOCKET s = c.socket;
  int32_t id;
  {
    std::lock_guard lock(stateLock_);
    // Nobody can approve a queue without end; more phones than this wait
    // for nothing.
    if (pending_.size() >= kMaxWaitingForApproval) return Approval::Timeout;
    id = nextRequestId_++;
    pending_.push_back({id, device});
  }
  Notify();
  uint64_t deadline = GetTickCount64() + 120000;
  Approval result = Approval::Timeout;
  uint8_t type = 0;
  std::vector<uint8_t> payload;
  while (running_ && GetTickCount64() < deadline) {
    {
      std::unique_lock lock(stateLock_);
      auto approved = [&] { return std::find(approvedIds_.begin(), approvedIds_.end(), id); };
      approvals_.wait_for(lock, std::chrono::milliseconds(300),
                          [&] { return !running_ || approved() != approvedIds_.end(); });
      auto it = approved();
      if (it != approvedIds_.end()) {
        approvedIds_.erase(it);
        result = Approval::Approved;
        break;
      }
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval now = {0, 0};
    if (select(0, &readable, nullptr, nullptr, &now) > 0) {
      // Only small frames, each whole within 2 s: a peer that sends half a
      // frame or drips bytes must not hold this place past its limits.
      bool stopped = false;
      if (!ReadFrameWithin(s, &type, &payload, kMaxHelloLength, kWaitingFrameUs, running_, &stopped)) {
        if (stopped) break;
        result = Approval::Left;
        break;
      }
      // A Pong that cannot go out within the send limit: the peer does not
      // read. It is let go as if it had left, rather than sending into a
      // full socket for as long as the user takes.
      if (type == static_cast<uint8_t>(FrameType::Ping) &&
          !SendFrame(c.sendLock, s, FrameType::Pong, payload.data(), payload.size())) {
        if (WSAGetLastError() == WSAETIMEDOUT) {
          LogLine("%s no lee lo que le mando mientras espera: se corta", LogSafe(device).c_str());
        }
        result = Approval::Left;
        break;
      }
    }
  }
  {
    std::lock_guard lock(stateLock_);
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [id](const PairingRequest& r) { return r.id == id; }),
                   pending_.end());
  }
  Notify();
  return result;
}

void PhoneLink::Deny(Connection& c, const char* reason, const std::string& device) {
  Send(c, FrameType::Deny, DenyText(reason));
  LogLine("DENY (%s) a %s", reason, device.c_str());
  shutdown(c.socket, SD_BOTH);
  closesocket(c.socket);
  CoUninitialize();
}

bool PhoneLink::Send(Connection& c, FrameType type, const std::string& text) {
  return SendFrame(c.sendLock, c.socket, type, text);
}

void PhoneLink::Notify() {
  if (window_) PostMessageW(window_, kMsgStateChanged, 0, 0);
}

void PhoneLink::Stop() {
  running_ = false;
  UnregisterService();
  if (listenSocket_ != INVALID_SOCKET) {
    closesocket(listenSocket_);
    listenSocket_ = INVALID_SOCKET;
  }
  {
    // Connections still silent would hold their threads for up to 10 s.
    std::lock_guard lock(helloLock_);
    for (const HelloWaiter& w : waitingForHello_) shutdown(w.socket, SD_BOTH);
  }
  std::lock_guard lock(stateLock_);
  if (activeSocket_ != INVALID_SOCKET) {
    shutdown(activeSocket_, SD_BOTH);
    activeEnding_ = true;
  }
  approvals_.notify_all();
  slotFreed_.notify_all();
}

void PhoneLink::Disconnect() {
  std::lock_guard lock(stateLock_);
  if (activeSocket_ != INVALID_SOCKET) {
    shutdown(activeSocket_, SD_BOTH);
    activeEnding_ = true;
  }
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
  if (code.empty()) return;  // the drawn code stays
  std::lock_guard lock(stateLock_);
  pairingCode_ = code;
}

std::string PhoneLink::PairingCode() {
  std::lock_guard lock(stateLock_);
  return pairingCode_;
}

std::string PhoneLink::PairingUri() {
  std::string id = settings_ ? settings_->Id() : std::string();
  return PairingUriText(localAddress_, port_, PairingCode(), id);
}

void PhoneLink::Approve(int32_t requestId) {
  {
    std::lock_guard lock(stateLock_);
    approvedIds_.push_back(requestId);
  }
  approvals_.notify_all();
}
