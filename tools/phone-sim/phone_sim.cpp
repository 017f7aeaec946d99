// A stand-in for the phone app: connects to the PC, says HELLO, and streams
// an H.264 clip the way the phone does, obeying the PC's commands. Every
// frame it receives is printed on standard output as one JSON line; with
// --sent, so is every Video frame it sends (the clip's unit, and the clock
// it stamped the frame with: under Wine that clock is QueryPerformanceCounter,
// the clock of every program of the prefix).
//
// Exit codes: 0 ran its time, 2 could not connect or read the clip,
// 3 denied (the reason is printed), 4 protocol error, 5 the PC ended the
// connection, 64 bad command line.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "annexb.h"
#include "app/link/json_reader.h"
#include "app/link/messages.h"
#include "app/link/wire_format.h"
#include "sim_net.h"

namespace {

struct Clip {
  std::vector<uint8_t> bytes;
  std::vector<AccessUnit> units;
};

struct Options {
  std::string host = "127.0.0.1";
  int port = 47800;
  std::string version = "1";  // raw JSON value; empty leaves "v" out
  bool sendDevice = true;
  std::string device = "iPhone de prueba";
  std::string model = "iPhone15,2";
  bool hasCode = false;
  std::string code;
  bool hasToken = false;
  std::string token;
  std::string tokenFile;
  std::string helloRaw;
  bool helloRawGiven = false;
  std::string clip;
  std::string classClips[3];  // 720p, 1080p, 4K
  int width = 1280, height = 720, fps = 30;
  std::string caps = "720p=30,60;1080p=30,60;4K=30";
  std::string focusModes = "face,auto,manual";
  bool blurSupported = true;
  std::string focusMode = "face";
  double focusValue = 0.5;
  int faces = 1;
  double blur = 0;
  double battery = 0.8;
  std::string camera = "Gran angular";
  bool paused = false;
  double seconds = 0;      // 0: until the PC ends the connection
  double silentAfter = -1; // stop sending anything after this many seconds
  double deafAfter = -1;   // stop reading after this many seconds, and flood the PC with large Pings
  bool sendConfig = true;
  bool sendStatus = true;
  bool audAfter = false;  // end each access unit with an access unit delimiter, as some encoders do
  bool printSent = false;  // a line for each Video frame sent
  double configAfter = -1;  // a CONFIG of its own after this many seconds
  int laterWidth = 0, laterHeight = 0, laterFps = 0;
};

void Usage() {
  std::fprintf(stderr,
               "phone-sim [--host H] [--port P] [--v JSON|--no-v] [--device N|--no-device] [--model M]\n"
               "          [--code C] [--token T] [--token-file F] [--hello JSON]\n"
               "          [--clip F] [--clip-720p F] [--clip-1080p F] [--clip-4k F]\n"
               "          [--width W] [--height H] [--fps N] [--caps '720p=30,60;1080p=30;4K=30']\n"
               "          [--focus-modes face,auto,manual] [--no-blur-support] [--focus-mode M]\n"
               "          [--focus-value V] [--faces N] [--blur V] [--battery V] [--camera N] [--paused]\n"
               "          [--seconds S] [--silent-after S] [--deaf-after S] [--no-config] [--no-status]\n"
               "          [--aud-after] [--sent]\n"
               "          [--config-after S WxH@F]\n");
}

bool ParseOptions(int argc, char** argv, Options* o) {
  std::map<std::string, std::string*> text = {
      {"--host", &o->host},         {"--v", &o->version},         {"--device", &o->device},
      {"--model", &o->model},       {"--token-file", &o->tokenFile}, {"--clip", &o->clip},
      {"--clip-720p", &o->classClips[0]}, {"--clip-1080p", &o->classClips[1]},
      {"--clip-4k", &o->classClips[2]}, {"--caps", &o->caps},     {"--focus-modes", &o->focusModes},
      {"--focus-mode", &o->focusMode}, {"--camera", &o->camera}};
  std::map<std::string, int*> ints = {
      {"--port", &o->port}, {"--width", &o->width}, {"--height", &o->height}, {"--fps", &o->fps},
      {"--faces", &o->faces}};
  std::map<std::string, double*> reals = {{"--focus-value", &o->focusValue}, {"--blur", &o->blur},
                                          {"--battery", &o->battery},    {"--seconds", &o->seconds},
                                          {"--silent-after", &o->silentAfter}, {"--deaf-after", &o->deafAfter}};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--no-v") o->version.clear();
    else if (a == "--no-device") o->sendDevice = false;
    else if (a == "--no-blur-support") o->blurSupported = false;
    else if (a == "--paused") o->paused = true;
    else if (a == "--no-config") o->sendConfig = false;
    else if (a == "--no-status") o->sendStatus = false;
    else if (a == "--aud-after") o->audAfter = true;
    else if (a == "--sent") o->printSent = true;
    else if (a == "--code" && hasValue) { o->hasCode = true; o->code = argv[++i]; }
    else if (a == "--token" && hasValue) { o->hasToken = true; o->token = argv[++i]; }
    else if (a == "--hello" && hasValue) { o->helloRawGiven = true; o->helloRaw = argv[++i]; }
    else if (a == "--config-after" && i + 2 < argc) {
      o->configAfter = std::atof(argv[++i]);
      if (std::sscanf(argv[++i], "%dx%d@%d", &o->laterWidth, &o->laterHeight, &o->laterFps) != 3) return false;
    }
    else if (text.count(a) && hasValue) *text[a] = argv[++i];
    else if (ints.count(a) && hasValue) *ints[a] = std::atoi(argv[++i]);
    else if (reals.count(a) && hasValue) *reals[a] = std::atof(argv[++i]);
    else return false;
  }
  return o->fps > 0;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool LoadClip(const std::string& path, Clip* clip) {
  if (!ReadFile(path, &clip->bytes)) return false;
  clip->units = SplitAccessUnits(clip->bytes.data(), clip->bytes.size());
  return !clip->units.empty();
}

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char* TypeName(uint8_t type) {
  switch (static_cast<FrameType>(type)) {
    case FrameType::Hello: return "Hello";
    case FrameType::Welcome: return "Welcome";
    case FrameType::Deny: return "Deny";
    case FrameType::Config: return "Config";
    case FrameType::Video: return "Video";
    case FrameType::Command: return "Command";
    case FrameType::Status: return "Status";
    case FrameType::Ping: return "Ping";
    case FrameType::Pong: return "Pong";
  }
  return "Other";
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string CapsJson(const Options& o) {
  std::string out = "{";
  std::stringstream entries(o.caps);
  std::string entry;
  bool first = true;
  while (std::getline(entries, entry, ';')) {
    size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    out += std::string(first ? "" : ",") + "\"" + entry.substr(0, eq) + "\":[" + entry.substr(eq + 1) + "]";
    first = false;
  }
  if (!o.focusModes.empty()) {
    out += std::string(first ? "" : ",") + "\"focus\":[";
    std::stringstream modes(o.focusModes);
    std::string mode;
    bool firstMode = true;
    while (std::getline(modes, mode, ',')) {
      out += std::string(firstMode ? "" : ",") + "\"" + mode + "\"";
      firstMode = false;
    }
    out += "]";
    first = false;
  }
  out += std::string(first ? "" : ",") + "\"blur\":" + (o.blurSupported ? "true" : "false") + "}";
  return out;
}

class Phone {
 public:
  explicit Phone(Options o) : o_(std::move(o)) {}

  int Run() {
    if (!o_.clip.empty() && !LoadClip(o_.clip, &clip_)) {
      std::fprintf(stderr, "phone-sim: cannot read clip %s\n", o_.clip.c_str());
      return 2;
    }
    if (!o_.hasToken && !o_.tokenFile.empty()) {
      std::ifstream in(o_.tokenFile);
      std::string saved;
      if (in && std::getline(in, saved) && !saved.empty()) {
        o_.hasToken = true;
        o_.token = saved;
      }
    }
    if (!NetStart()) return 2;
    socket_ = NetConnect(o_.host, o_.port);
    if (socket_ == kNoSocket) {
      std::fprintf(stderr, "phone-sim: cannot connect to %s:%d\n", o_.host.c_str(), o_.port);
      return 2;
    }
    if (o_.deafAfter >= 0) {
      // Little room on this side, so the PC's sends back up at once.
      int small = 4096;
      setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
    }
    start_ = NowUs();
    if (!SendText(FrameType::Hello, HelloText())) return 5;
    std::thread reader(&Phone::ReadLoop, this);
    int code = Stream();
    ending_ = true;
    // shutdown wakes a blocked recv on Linux, closing it does on Windows.
    NetShutdown(socket_);
    NetClose(socket_);
    reader.join();
    return code;
  }

 private:
  std::string HelloText() const {
    if (o_.helloRawGiven) return o_.helloRaw;
    std::string out = "{";
    auto add = [&out](const std::string& field) {
      out += (out.size() > 1 ? "," : "") + field;
    };
    if (!o_.version.empty()) add("\"v\":" + o_.version);
    if (o_.sendDevice) add("\"device\":\"" + JsonEscape(o_.device) + "\"");
    add("\"model\":\"" + JsonEscape(o_.model) + "\"");
    if (o_.hasCode) add("\"code\":\"" + JsonEscape(o_.code) + "\"");
    if (o_.hasToken) add("\"token\":\"" + JsonEscape(o_.token) + "\"");
    return out + "}";
  }

  std::string ConfigText() {
    return "{\"codec\":\"h264\",\"width\":" + std::to_string(width_) + ",\"height\":" + std::to_string(height_) +
           ",\"fps\":" + std::to_string(fps_) + "}";
  }

  std::string FullStatusText() {
    return "{\"caps\":" + CapsJson(o_) + ",\"focus\":" + FocusJson() + ",\"blur\":" + FixedText(blur_, 3) +
           ",\"paused\":" + (paused_ ? "true" : "false") + ",\"battery\":" + FixedText(o_.battery, 2) +
           ",\"camera\":\"" + JsonEscape(o_.camera) + "\"}";
  }

  std::string FocusJson() {
    return "{\"mode\":\"" + focusMode_ + "\",\"value\":" + FixedText(focusValue_, 3) +
           ",\"faces\":" + std::to_string(o_.faces) + "}";
  }

  double ElapsedSeconds() const { return static_cast<double>(NowUs() - start_) / 1e6; }
  bool Silent() const { return o_.silentAfter >= 0 && ElapsedSeconds() > o_.silentAfter; }
  bool Deaf() const { return o_.deafAfter >= 0 && ElapsedSeconds() > o_.deafAfter; }

  bool Send(FrameType type, const void* data, size_t size) {
    if (Silent()) return true;
    std::vector<uint8_t> frame = EncodeFrame(static_cast<uint8_t>(type), data, size);
    std::lock_guard lock(sendLock_);
    return NetSendAll(socket_, frame.data(), frame.size());
  }
  bool SendText(FrameType type, const std::string& text) { return Send(type, text.data(), text.size()); }

  void Emit(const std::string& line) {
    std::lock_guard lock(outLock_);
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
  }

  void PrintSent(size_t unit, int64_t clock, bool key) {
    Emit("{\"t\":" + std::to_string(NowUs() - start_) + ",\"type\":\"sent\",\"unit\":" + std::to_string(unit) +
         ",\"clock\":" + std::to_string(clock) + ",\"key\":" + (key ? "true" : "false") + "}\n");
  }

  void Print(uint8_t type, const std::vector<uint8_t>& payload) {
    std::string line = "{\"t\":" + std::to_string(NowUs() - start_) + ",\"type\":\"" + TypeName(type) +
                       "\",\"code\":" + std::to_string(type);
    if (type == static_cast<uint8_t>(FrameType::Ping) || type == static_cast<uint8_t>(FrameType::Pong)) {
      line += ",\"hex\":\"" + Hex(payload) + "\"";
    } else {
      line += ",\"payload\":\"" + JsonEscape(std::string(payload.begin(), payload.end())) + "\"";
    }
    Emit(line + "}\n");
  }

  void ReadLoop() {
    std::vector<uint8_t> payload;
    uint8_t type = 0;
    auto readExact = [this](void* buffer, size_t n) { return NetRecvExact(socket_, buffer, n); };
    while (ReadFrameWith(readExact, &type, &payload)) {
      Print(type, payload);
      std::string text(payload.begin(), payload.end());
      switch (static_cast<FrameType>(type)) {
        case FrameType::Welcome: OnWelcome(text); break;
        case FrameType::Deny: OnDeny(text); break;
        case FrameType::Ping: Send(FrameType::Pong, payload.data(), payload.size()); break;
        case FrameType::Command: OnCommand(text); break;
        default: break;
      }
      if (Deaf()) {
        // Reads no more, and keeps the connection open, as an app the
        // phone's system suspended (or a hostile peer) would.
        while (!ending_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return;
      }
    }
    std::lock_guard lock(stateLock_);
    peerClosed_ = true;
    changed_.notify_all();
  }

  void OnWelcome(const std::string& text) {
    std::string token;
    if (JsonString(text, "token", &token) && !o_.tokenFile.empty()) {
      std::ofstream(o_.tokenFile, std::ios::trunc) << token << "\n";
    }
    std::lock_guard lock(stateLock_);
    welcomed_ = true;
    changed_.notify_all();
  }

  void OnDeny(const std::string& text) {
    std::string reason = "?";
    JsonString(text, "reason", &reason);
    std::fprintf(stderr, "DENY %s\n", reason.c_str());
    std::lock_guard lock(stateLock_);
    denied_ = true;
    changed_.notify_all();
  }

  void OnCommand(const std::string& text) {
    std::string cmd;
    if (!JsonString(text, "cmd", &cmd)) return;
    std::lock_guard lock(stateLock_);
    if (cmd == "quality") {
      std::string res;
      double fps = fps_;
      JsonString(text, "res", &res);
      JsonNumber(text, "fps", &fps);
      for (int r = 0; r < 3; ++r) {
        if (res != kResolutionNames[r] || o_.classClips[r].empty()) continue;
        Clip next;
        if (!LoadClip(o_.classClips[r], &next)) break;
        static const int kSizes[3][2] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
        clip_ = std::move(next);
        unit_ = 0;
        width_ = kSizes[r][0];
        height_ = kSizes[r][1];
        fps_ = static_cast<int>(fps) > 0 ? static_cast<int>(fps) : fps_;
      }
      outbox_.push_back({FrameType::Config, ConfigText()});
    } else if (cmd == "pause") {
      paused_ = true;
      outbox_.push_back({FrameType::Status, "{\"paused\":true}"});
    } else if (cmd == "resume") {
      paused_ = false;
      outbox_.push_back({FrameType::Status, "{\"paused\":false}"});
    } else if (cmd == "keyframe") {
      skipToKeyframe_ = true;
    } else if (cmd == "focus") {
      std::string mode;
      if (JsonString(text, "mode", &mode)) focusMode_ = mode;
      JsonNumber(text, "value", &focusValue_);
      outbox_.push_back({FrameType::Status, "{\"focus\":" + FocusJson() + "}"});
    } else if (cmd == "blur") {
      JsonNumber(text, "value", &blur_);
      outbox_.push_back({FrameType::Status, "{\"blur\":" + FixedText(blur_, 3) + "}"});
    }
    changed_.notify_all();
  }

  // The sending side: waits for the PC's answer, then streams.
  int Stream() {
    int64_t lastPing = 0;
    {
      std::unique_lock lock(stateLock_);
      while (!welcomed_ && !denied_ && !peerClosed_ && !letGo_) {
        lock.unlock();
        SendPingIfDue(&lastPing);
        // Deaf, it floods while it waits for the user as well: a stranger
        // that is never let in can still make the PC write to it.
        if (Deaf()) SendLargePing();
        lock.lock();
        if (OutOfTime()) return 0;
        changed_.wait_for(lock, std::chrono::milliseconds(Deaf() ? 2 : 100));
      }
      if (denied_) return 3;
      if (letGo_) {
        std::fprintf(stderr, "phone-sim: el PC cerró la conexión\n");
        return 5;
      }
      if (!welcomed_) return 4;
      width_ = o_.width;
      height_ = o_.height;
      fps_ = o_.fps;
      paused_ = o_.paused;
      blur_ = o_.blur;
      focusMode_ = o_.focusMode;
      focusValue_ = o_.focusValue;
    }
    if (o_.sendConfig) SendText(FrameType::Config, ConfigText());
    if (o_.sendStatus) SendText(FrameType::Status, FullStatusText());

    int64_t nextFrame = NowUs();
    bool laterConfigSent = false;
    while (true) {
      if (OutOfTime()) return 0;
      if (!laterConfigSent && o_.configAfter >= 0 && ElapsedSeconds() > o_.configAfter) {
        // The phone changes its quality by itself.
        std::lock_guard lock(stateLock_);
        width_ = o_.laterWidth;
        height_ = o_.laterHeight;
        fps_ = o_.laterFps;
        outbox_.push_back({FrameType::Config, ConfigText()});
        laterConfigSent = true;
      }
      std::vector<std::pair<FrameType, std::string>> outbox;
      bool sendVideo = false;
      const AccessUnit* unit = nullptr;
      size_t unitIndex = 0;
      {
        std::unique_lock lock(stateLock_);
        if (peerClosed_ || letGo_) {
          std::fprintf(stderr, "phone-sim: el PC cerró la conexión\n");
          return 5;
        }
        outbox.swap(outbox_);
        if (!clip_.units.empty() && !paused_ && NowUs() >= nextFrame) {
          if (skipToKeyframe_) {
            for (size_t k = 0; k < clip_.units.size(); ++k) {
              size_t at = (unit_ + k) % clip_.units.size();
              if (clip_.units[at].keyframe) {
                unit_ = at;
                break;
              }
            }
            skipToKeyframe_ = false;
          }
          unit = &clip_.units[unit_];
          unitIndex = unit_;
          unit_ = (unit_ + 1) % clip_.units.size();
          sendVideo = true;
          nextFrame += 1000000 / fps_;
          if (NowUs() - nextFrame > 1000000) nextFrame = NowUs();  // fell far behind: do not burst
        }
        if (sendVideo) {
          const uint8_t* data = clip_.bytes.data() + unit->offset;
          size_t size = unit->size;
          std::vector<uint8_t> ended;
          if (o_.audAfter) {
            // The delimiter says the unit is complete: a decoder that waits
            // for the next unit's start to know it has no need to wait.
            static constexpr uint8_t kDelimiter[] = {0, 0, 0, 1, 0x09, 0xF0};
            ended.assign(data, data + size);
            ended.insert(ended.end(), std::begin(kDelimiter), std::end(kDelimiter));
            data = ended.data();
            size = ended.size();
          }
          const int64_t stamp = NowUs();
          const bool key = unit->keyframe;
          std::vector<uint8_t> payload = EncodeVideoPayload(static_cast<uint64_t>(stamp), key, data, size);
          lock.unlock();
          for (auto& [type, text] : outbox) SendText(type, text);
          outbox.clear();
          Send(FrameType::Video, payload.data(), payload.size());
          if (o_.printSent && !Silent()) PrintSent(unitIndex, stamp, key);
        }
      }
      for (auto& [type, text] : outbox) SendText(type, text);
      SendPingIfDue(&lastPing);
      // Deaf, it sends large Pings: the PC's Pongs echo them into a
      // connection nobody reads, and fill it within seconds.
      if (Deaf()) SendLargePing();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // Deaf, it reads nothing: only a send that fails tells it that the PC
  // has let it go.
  void SendLargePing() {
    std::vector<uint8_t> big(32768);
    if (Send(FrameType::Ping, big.data(), big.size())) return;
    std::lock_guard lock(stateLock_);
    letGo_ = true;
    changed_.notify_all();
  }

  void SendPingIfDue(int64_t* lastPing) {
    int64_t now = NowUs();
    if (now - *lastPing < 1000000) return;
    uint8_t payload[8];
    WriteBe64(payload, static_cast<uint64_t>(now));
    Send(FrameType::Ping, payload, sizeof payload);
    *lastPing = now;
  }

  std::atomic<bool> ending_{false};
  bool OutOfTime() const { return o_.seconds > 0 && ElapsedSeconds() > o_.seconds; }

  Options o_;
  SimSocket socket_ = kNoSocket;
  int64_t start_ = 0;
  std::mutex sendLock_;
  std::mutex outLock_;

  std::mutex stateLock_;
  std::condition_variable changed_;
  bool welcomed_ = false, denied_ = false, peerClosed_ = false;
  bool letGo_ = false;  // a send failed while deaf: the PC ended the connection
  Clip clip_;
  size_t unit_ = 0;
  bool skipToKeyframe_ = false;
  int width_ = 0, height_ = 0, fps_ = 30;
  bool paused_ = false;
  double blur_ = 0;
  std::string focusMode_ = "face";
  double focusValue_ = 0.5;
  std::vector<std::pair<FrameType, std::string>> outbox_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 64;
  }
  return Phone(std::move(options)).Run();
}
