#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "app/core/log.h"
#include "app/core/platform.h"
#include "app/core/settings.h"
#include "app/link/phone_link.h"
#include "app/link/wire_win.h"
#include "app/video/video_pipeline.h"
#include "clips.h"
#include "decoder_spy.h"

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

bool Connects(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  a.sin_port = htons(static_cast<u_short>(port));
  bool connected = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  closesocket(s);
  return connected;
}

Settings g_testSettings;

TEST(PhoneLinkListener, TakesTheFirstFreePortAndSkipsBusyOnes) {
  SOCKET busy = BindLoopback(47805);
  ASSERT_NE(busy, INVALID_SOCKET);
  PhoneLink* link = NewLink();
  ASSERT_TRUE(link->Start(nullptr, nullptr, &g_testSettings, 47805));
  EXPECT_EQ(link->Port(), 47806);
  EXPECT_TRUE(Connects(47806));
  link->Stop();
  closesocket(busy);
}

TEST(PhoneLinkListener, PortBelowOneMeansTheDefault) {
  PhoneLink* link = NewLink();
  ASSERT_TRUE(link->Start(nullptr, nullptr, &g_testSettings, 0));
  EXPECT_EQ(link->Port(), 47800);
  link->Stop();
  // Stopped, and its accept thread gone (under Wine a socket closed under a
  // pending accept is only let go when that accept returns): the port is
  // free again.
  ASSERT_TRUE(link->WaitForThreads(2000));
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

namespace approval {

// A phone that connected and said HELLO without code or token.
struct Phone {
  SOCKET s = INVALID_SOCKET;
  std::mutex sendLock;
  Phone(int port, const std::string& device, const std::string& more = "") {
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    a.sin_port = htons(static_cast<u_short>(port));
    connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    DWORD timeout = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    SendFrame(sendLock, s, FrameType::Hello, "{\"v\":1,\"device\":\"" + device + "\"" + more + "}");
  }
  ~Phone() { closesocket(s); }
  bool Readable(int ms) const {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval t = {0, ms * 1000};
    return select(0, &set, nullptr, nullptr, &t) > 0;
  }
  std::string Next(uint8_t* type) {
    std::vector<uint8_t> payload;
    if (!ReadFrame(s, type, &payload)) return "(closed)";
    return std::string(payload.begin(), payload.end());
  }
};

struct Fixture {
  Settings* settings = new Settings;
  VideoPipeline* video = new VideoPipeline;
  PhoneLink* link = new PhoneLink;  // kept alive for its detached threads
  std::wstring log;
  explicit Fixture(int port) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    settings->LoadFromFolder(std::wstring(dir) + L"orvane-approval", true);
    log = std::wstring(dir) + L"orvane-approval.log";
    LogOpen(log);
    EXPECT_TRUE(link->Start(nullptr, video, settings, port));
  }
  bool WaitPending(size_t n) {
    for (int i = 0; i < 100; ++i) {
      if (link->Snapshot().pending.size() == n) return true;
      Sleep(50);
    }
    return false;
  }
  // The log once it holds `expected` (or after 3 s without it).
  std::string Log(const std::string& expected = "") {
    std::string text;
    for (int i = 0; i < 60; ++i) {
      (void)ReadWholeFile(log, &text);
      if (text.find(expected) != std::string::npos) break;
      Sleep(50);
    }
    LogClose();
    return text;
  }
};

TEST(PhoneLinkApproval, OnlyTheApprovedPhoneGetsIn) {
  Fixture f(47803);
  Phone one(f.link->Port(), "Uno");
  ASSERT_TRUE(f.WaitPending(1));
  Phone two(f.link->Port(), "Dos");
  ASSERT_TRUE(f.WaitPending(2));
  AppState state = f.link->Snapshot();
  EXPECT_EQ(state.pending[0].deviceName, "Uno");
  EXPECT_EQ(state.pending[1].deviceName, "Dos");
  f.link->Approve(state.pending[1].id);

  uint8_t type = 0;
  std::string welcome = two.Next(&type);
  EXPECT_EQ(type, static_cast<uint8_t>(FrameType::Welcome)) << welcome;
  EXPECT_NE(welcome.find("\"token\":\""), std::string::npos);
  EXPECT_FALSE(one.Readable(800)) << "the other phone still waits";
  ASSERT_TRUE(f.WaitPending(1));
  EXPECT_EQ(f.link->Snapshot().pending[0].deviceName, "Uno");
  EXPECT_EQ(f.settings->Phones().back().name, "Dos") << "the approved phone is linked";

  // Stopping the program answers the one still waiting.
  f.link->Stop();
  ASSERT_TRUE(one.Readable(2000));
  EXPECT_EQ(one.Next(&type), "{\"reason\":\"timeout\"}");
  EXPECT_EQ(type, static_cast<uint8_t>(FrameType::Deny));
  std::string text = f.Log("DENY (timeout) a Uno");
  EXPECT_NE(text.find("WELCOME a Dos"), std::string::npos);
  EXPECT_NE(text.find("DENY (timeout) a Uno"), std::string::npos);
}

// Also: with no phone streaming (one waiting is not one streaming), a
// quality asked for is asked of nobody and the saved one stays.
TEST(PhoneLinkApproval, APhoneThatLeavesWhileWaitingGetsNoDenyAndNoPhoneTakesNoQuality) {
  Fixture f(47804);
  f.settings->SetQuality("1080p@30");
  {
    Phone leaving(f.link->Port(), "Se va");
    ASSERT_TRUE(f.WaitPending(1));
    f.link->RequestQuality(2, 1);
    EXPECT_EQ(f.settings->Quality(), "1080p@30");
    uint8_t type = 0;
    EXPECT_FALSE(leaving.Readable(0)) << "nothing was sent to the waiting phone: " << leaving.Next(&type);
  }
  EXPECT_TRUE(f.WaitPending(0));
  f.link->RequestQuality(0, 0);
  EXPECT_EQ(f.settings->Quality(), "1080p@30") << "the saved quality stays without a phone";
  f.link->Stop();
  ASSERT_TRUE(f.link->WaitForThreads(5000)) << "every thread ended: nothing more can be said";
  std::string text = f.Log();
  EXPECT_EQ(text.find("DENY"), std::string::npos) << text;
  EXPECT_NE(text.find("HELLO de Se va"), std::string::npos);
}

TEST(PhoneLinkApproval, NoMoreThanEightWaitAtOnce) {
  Fixture f(47805);
  std::vector<std::unique_ptr<Phone>> waiting;
  for (int i = 0; i < 8; ++i) waiting.push_back(std::make_unique<Phone>(f.link->Port(), "p" + std::to_string(i)));
  ASSERT_TRUE(f.WaitPending(8));
  Phone ninth(f.link->Port(), "noveno");
  ASSERT_TRUE(ninth.Readable(3000));
  uint8_t type = 0;
  EXPECT_EQ(ninth.Next(&type), "{\"reason\":\"timeout\"}");
  EXPECT_EQ(f.link->Snapshot().pending.size(), 8u);
  f.link->Stop();
  for (auto& p : waiting) {
    ASSERT_TRUE(p->Readable(2000));
    EXPECT_EQ(p->Next(&type), "{\"reason\":\"timeout\"}");
  }
  f.Log();
}

}  // namespace approval

namespace approval {

// Half a frame while waiting for the user holds no thread: the rest must
// follow within 2 s, and Stop does not wait for it at all.
TEST(PhoneLinkApproval, APartFrameEndsTheWaitAfterTwoSeconds) {
  Fixture f(47806);
  Phone dripping(f.link->Port(), "Gotea");
  ASSERT_TRUE(f.WaitPending(1));
  const uint8_t part[] = {0, 0, 0, 20, static_cast<uint8_t>(FrameType::Status), '{'};
  send(dripping.s, reinterpret_cast<const char*>(part), sizeof part, 0);
  ULONGLONG t0 = GetTickCount64();
  // Not at once, and not the 10 s a connection may take to say HELLO.
  ASSERT_TRUE(dripping.Readable(8000));
  uint8_t type = 0;
  EXPECT_EQ(dripping.Next(&type), "(closed)") << "dropped as if it had left: no DENY";
  EXPECT_GE(GetTickCount64() - t0, 1800u);
  EXPECT_TRUE(f.WaitPending(0));

  // A frame too big for a phone that is not let in yet ends it at once.
  Phone big(f.link->Port(), "Grande");
  ASSERT_TRUE(f.WaitPending(1));
  const uint8_t huge[] = {0, 0x40, 0, 0, static_cast<uint8_t>(FrameType::Status)};
  send(big.s, reinterpret_cast<const char*>(huge), sizeof huge, 0);
  ASSERT_TRUE(big.Readable(1000));
  EXPECT_EQ(big.Next(&type), "(closed)");

  Phone stuck(f.link->Port(), "Trabado");
  ASSERT_TRUE(f.WaitPending(1));
  send(stuck.s, reinterpret_cast<const char*>(part), sizeof part, 0);
  Sleep(500);
  f.link->Stop();
  // Stop's DENY, not the part frame's own end after its 2 s (which closes without one).
  ASSERT_TRUE(stuck.Readable(5000));
  EXPECT_EQ(stuck.Next(&type), "{\"reason\":\"timeout\"}");
  EXPECT_TRUE(f.link->WaitForThreads(2000));
  std::string text = f.Log("DENY (timeout) a Trabado");
  EXPECT_EQ(text.find("DENY (timeout) a Gotea"), std::string::npos) << text;
}

// A token nobody can guess or none at all: the phone is not let in, and
// the place it took is free again.
TEST(PhoneLinkPairing, WithoutRandomBytesNoPhoneIsLinked) {
  Fixture f(47808);
  f.link->SetPairingCode("424242");
  size_t linked = f.settings->Phones().size();
  f.settings->SetRandomSource([](void*, size_t) { return false; });
  uint8_t type = 0;
  {
    Phone phone(f.link->Port(), "Sin azar", ",\"code\":\"424242\"");
    EXPECT_EQ(phone.Next(&type), "(closed)");
  }
  EXPECT_EQ(f.settings->Phones().size(), linked);
  f.settings->SetRandomSource(RandomBytes);
  Phone next(f.link->Port(), "Con azar", ",\"code\":\"424242\"");
  EXPECT_NE(next.Next(&type).find("\"token\":\""), std::string::npos);
  EXPECT_EQ(type, static_cast<uint8_t>(FrameType::Welcome));
  f.link->Stop();
  std::string text = f.Log("Se desconectó Con azar");
  EXPECT_NE(text.find("No se pudo generar un token para Sin azar: no se vincula"), std::string::npos) << text;
  EXPECT_EQ(text.find("WELCOME a Sin azar"), std::string::npos);
}

}  // namespace approval

namespace handover {

// A linked phone that streams the 720p clip: HELLO with its token, CONFIG
// and the first units, all at once.
SOCKET StreamingPhone(int port, const std::string& token, const Clip& clip, size_t units) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  a.sin_port = htons(static_cast<u_short>(port));
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  DWORD timeout = 5000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  std::mutex lock;
  SendFrame(lock, s, FrameType::Hello, "{\"v\":1,\"device\":\"Vuelve\",\"token\":\"" + token + "\"}");
  SendFrame(lock, s, FrameType::Config, "{\"codec\":\"h264\",\"width\":1280,\"height\":720,\"fps\":30}");
  for (size_t i = 0; i < units; ++i) {
    const AccessUnit& u = clip.units[i];
    std::vector<uint8_t> payload =
        EncodeVideoPayload(static_cast<uint64_t>(i) * 33333, u.keyframe, clip.bytes.data() + u.offset, u.size);
    SendFrame(lock, s, FrameType::Video, payload.data(), payload.size());
  }
  return s;
}

// Right after "Desconectar" the phone comes straight back. The session that
// ends and the one that starts must never share the decoder.
TEST(PhoneLinkHandOver, APhoneThatComesBackAtOnceAlwaysGetsVideo) {
  Clip clip = LoadClip("clip-720p30.h264");
  ASSERT_GE(clip.units.size(), 30u);
  auto* video = new VideoPipeline;
  ASSERT_TRUE(video->InitGraphics());
  video->SetPreviewTarget(320, 180, true);  // somebody watches
  auto* settings = new Settings;
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  settings->LoadFromFolder(std::wstring(dir) + L"orvane-handover", true);
  std::string token = settings->AddLinkedPhone("Vuelve");
  auto* link = new PhoneLink;
  ASSERT_TRUE(link->Start(nullptr, video, settings, 47807));

  for (int round = 0; round < 12; ++round) {
    unsigned long long before = video->DecodedFrames();
    SOCKET s = StreamingPhone(link->Port(), token, clip, 25);
    ASSERT_NE(s, INVALID_SOCKET);
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    ASSERT_TRUE(ReadFrame(s, &type, &payload)) << "round " << round;
    ASSERT_EQ(type, static_cast<uint8_t>(FrameType::Welcome))
        << "round " << round << ": " << std::string(payload.begin(), payload.end());
    for (int i = 0; i < 100 && video->DecodedFrames() < before + 15; ++i) Sleep(20);
    EXPECT_GE(video->DecodedFrames(), before + 15) << "round " << round << " got no video";
    link->Disconnect();
    // The phone sees the end and reconnects at once.
    while (ReadFrame(s, &type, &payload)) {
    }
    closesocket(s);
  }
  link->Stop();
  EXPECT_TRUE(link->WaitForThreads(2000));
  video->Close();
}

}  // namespace handover

namespace stalled {

using approval::Fixture;

// A linked phone that reads its WELCOME and then never reads again, with a
// small receive buffer, while it goes on sending, as an app suspended by
// the phone's system (or a hostile peer) might. Flooding, it sends large
// Pings: the program's Pongs then fill the socket's buffers within seconds,
// however large the system makes them.
struct DeafPhone {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  std::mutex lock;
  std::atomic<bool> stop{false};
  std::thread pinger;
  std::string welcome;
  DeafPhone(int port, const std::string& token, bool flood) {
    int small = 2048;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    a.sin_port = htons(static_cast<u_short>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    DWORD timeout = 5000, sendLimit = 1000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    // Its own Pings give up too when the program stops reading them.
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendLimit), sizeof sendLimit);
    SendFrame(lock, s, FrameType::Hello, "{\"v\":1,\"device\":\"Sordo\",\"token\":\"" + token + "\"}");
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    if (ReadFrame(s, &type, &payload) && type == static_cast<uint8_t>(FrameType::Welcome)) {
      welcome.assign(payload.begin(), payload.end());
    }
    pinger = std::thread([this, flood] {
      // A Pong echoes its Ping: large Pings make large Pongs.
      std::vector<uint8_t> stamp(flood ? 32768 : 8);
      while (!stop && SendFrame(lock, s, FrameType::Ping, stamp.data(), stamp.size())) Sleep(flood ? 1 : 100);
    });
  }
  ~DeafPhone() {
    stop = true;
    shutdown(s, SD_BOTH);  // a Ping stuck in send gives up
    if (pinger.joinable()) pinger.join();
    closesocket(s);
  }
};

// Pause, focus and blur, asked over and over for `seconds`, one every
// `gapMs`, on a thread of their own; the slowest request in µs, or nothing
// when the thread did not end within 10 s more (it is then left behind, not
// waited for: a request waits for the phone).
std::optional<int64_t> AskOverAndOver(PhoneLink* link, double seconds, int gapMs, int* asked) {
  auto result = std::make_shared<std::promise<int64_t>>();
  auto slowest = result->get_future();
  auto count = std::make_shared<std::atomic<int>>(0);
  const int64_t until = MicrosecondsNow() + static_cast<int64_t>(seconds * 1e6);
  std::thread([result, link, until, gapMs, count] {
    int64_t worst = 0;
    for (int i = 0; MicrosecondsNow() < until; ++i, ++*count) {
      int64_t t0 = MicrosecondsNow();
      if (i % 3 == 0) link->RequestPause(i % 2 == 0);
      else if (i % 3 == 1) link->RequestFocus(1, static_cast<float>(i % 100) / 100.0f);
      else link->RequestBlur(static_cast<float>(i % 100) / 100.0f, false);
      worst = std::max(worst, MicrosecondsNow() - t0);
      Sleep(static_cast<DWORD>(gapMs));
    }
    result->set_value(worst);
  }).detach();
  const bool ended = slowest.wait_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 10000)) ==
                     std::future_status::ready;
  if (asked) *asked = *count;
  if (!ended) return std::nullopt;
  return slowest.get();
}

bool Connected(PhoneLink* link, bool expected, int ms) {
  for (int i = 0; i < ms / 20 && link->Snapshot().connected != expected; ++i) Sleep(20);
  return link->Snapshot().connected == expected;
}

// No request may wait for the phone, the phone is cut off within the send
// limit once its buffers are full, and the next phone gets in.
TEST(PhoneLinkStalledPhone, RequestsNeverWaitAndAPhoneThatStopsReadingIsCutOff) {
  Fixture f(47802);
  std::string token = f.settings->AddLinkedPhone("Sordo");
  DeafPhone deaf(f.link->Port(), token, true);
  ASSERT_NE(deaf.welcome, "") << "welcomed";
  ASSERT_TRUE(Connected(f.link, true, 2000));
  int64_t since = MicrosecondsNow();
  std::optional<int64_t> slowest = AskOverAndOver(f.link, 4.0, 1, nullptr);
  ASSERT_TRUE(slowest) << "a request waited for the phone";
  // A request that waited would take the whole send limit (2 s), or for ever.
  EXPECT_LT(*slowest, 1500000) << "µs of the slowest request: well under the send limit, whatever the load";
  EXPECT_TRUE(Connected(f.link, false, 5000)) << "cut off";
  EXPECT_LT(MicrosecondsNow() - since, 12000000);

  approval::Phone next(f.link->Port(), "Otro", ",\"token\":\"" + f.settings->AddLinkedPhone("Otro") + "\"");
  uint8_t type = 0;
  EXPECT_NE(next.Next(&type).find("\"token\":\""), std::string::npos);
  EXPECT_EQ(type, static_cast<uint8_t>(FrameType::Welcome)) << "the program goes on";
  f.link->Stop();
  std::string text = f.Log("Se desconectó Otro");
  EXPECT_NE(text.find("El celu no lee lo que le mando: se corta"), std::string::npos) << text;
  EXPECT_NE(text.find("Se desconectó Sordo"), std::string::npos) << text;
}

// The same requests to a phone that reads them: it keeps its session.
TEST(PhoneLinkStalledPhone, APhoneThatReadsIsNeverCutOff) {
  Fixture f(47804);
  std::string token = f.settings->AddLinkedPhone("Oye");
  DeafPhone phone(f.link->Port(), token, false);
  ASSERT_NE(phone.welcome, "");
  std::atomic<bool> reading{true};
  std::atomic<int> commands{0};
  std::thread reader([&] {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    while (reading && ReadFrame(phone.s, &type, &payload)) {
      if (type == static_cast<uint8_t>(FrameType::Command)) ++commands;
    }
  });
  ASSERT_TRUE(Connected(f.link, true, 2000));
  int asked = 0;
  std::optional<int64_t> slowest = AskOverAndOver(f.link, 2.0, 5, &asked);
  ASSERT_TRUE(slowest);
  // Each resume (every sixth request) brings a key frame request with it.
  const int expected = asked + (asked + 3) / 6;
  for (int i = 0; i < 100 && commands < expected; ++i) Sleep(20);
  EXPECT_TRUE(f.link->Snapshot().connected);
  EXPECT_GE(commands, expected) << "every request, in full";
  f.link->Stop();
  reading = false;
  reader.join();
  EXPECT_EQ(f.Log("Se desconectó Oye").find("se corta"), std::string::npos);
}

}  // namespace stalled

namespace silence {

using approval::Fixture;

// A linked phone that streams the 720p clip at its rate, reading nothing,
// until told to stop sending; its connection stays open until it goes.
struct PacedPhone {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  std::atomic<bool> sending{true};
  std::atomic<int64_t> lastSent{0};
  std::thread sender;
  PacedPhone(int port, const std::string& token, const Clip& clip) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    a.sin_port = htons(static_cast<u_short>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    sender = std::thread([this, token, &clip] {
      std::mutex lock;
      SendFrame(lock, s, FrameType::Hello, "{\"v\":1,\"device\":\"Lento\",\"token\":\"" + token + "\"}");
      SendFrame(lock, s, FrameType::Config, "{\"codec\":\"h264\",\"width\":1280,\"height\":720,\"fps\":30}");
      for (size_t i = 0; sending; ++i) {
        const AccessUnit& u = clip.units[i % clip.units.size()];
        std::vector<uint8_t> payload = EncodeVideoPayload(static_cast<uint64_t>(MicrosecondsNow()), u.keyframe,
                                                          clip.bytes.data() + u.offset, u.size);
        if (!SendFrame(lock, s, FrameType::Video, payload.data(), payload.size())) break;
        lastSent = MicrosecondsNow();
        Sleep(33);
      }
    });
  }
  ~PacedPhone() {
    sending = false;
    shutdown(s, SD_BOTH);
    if (sender.joinable()) sender.join();
    closesocket(s);
  }
};

template <typename Condition>
bool WaitUntil(Condition condition, int ms) {
  for (int i = 0; i < ms / 20 && !condition(); ++i) Sleep(20);
  return condition();
}

// The decoder takes longer than the 5 s rule over one picture (as its start
// did on a loaded machine) while the phone goes on sending: its bytes wait
// in the socket all along, so it was never silent and keeps its session.
// When it really stops sending, the rule still cuts it.
TEST(PhoneLinkSilence, TimeSpentDecodingIsNotThePhonesSilence) {
  Clip clip = LoadClip("clip-720p30.h264");
  ASSERT_GE(clip.units.size(), 30u);
  // Kept alive for a session thread that may outlive a failed test.
  auto* record = new DecoderSpy::Record;
  record->stallMs = 6000;
  struct SlowDecoder {
    explicit SlowDecoder(DecoderSpy::Record* r) {
      DecoderSpy::record = r;
      UseDecoderFactoryForTests(&DecoderSpy::Create);
    }
    ~SlowDecoder() {
      UseDecoderFactoryForTests(nullptr);
      DecoderSpy::record = nullptr;
    }
  } slow(record);
  Fixture f(47800);
  ASSERT_TRUE(f.video->InitGraphics());
  f.video->SetPreviewTarget(320, 180, true);  // somebody watches: every picture is decoded
  PacedPhone phone(f.link->Port(), f.settings->AddLinkedPhone("Lento"), clip);
  ASSERT_TRUE(WaitUntil([&] { return record->stalled.load(); }, 20000)) << "the decoder never got a picture";
  const unsigned long long after = f.video->DecodedFrames();
  EXPECT_TRUE(WaitUntil([&] { return f.video->DecodedFrames() >= after + 30; }, 15000))
      << "the stream did not go on after the slow picture";
  EXPECT_TRUE(f.link->Snapshot().connected);

  phone.sending = false;
  ASSERT_TRUE(WaitUntil([&] { return !f.link->Snapshot().connected; }, 15000)) << "a silent phone stays";
  EXPECT_GE(MicrosecondsNow() - phone.lastSent, 5000000) << "cut before 5 s of silence";
  const auto logged = [&](const char* line) {
    std::string text;
    return ReadWholeFile(f.log, &text) && text.find(line) != std::string::npos;
  };
  EXPECT_TRUE(WaitUntil([&] { return logged("Se desconectó Lento"); }, 15000));
  std::string text = f.Log();
  const size_t cut = text.find("5 s sin datos del celu: se corta");
  ASSERT_NE(cut, std::string::npos) << text;
  EXPECT_NE(text.find("Se desconectó Lento", cut), std::string::npos) << text;
  f.link->Stop();
  EXPECT_TRUE(f.link->WaitForThreads(2000));
  f.video->Close();
}

}  // namespace silence
