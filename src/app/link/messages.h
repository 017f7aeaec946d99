#pragma once
// The JSON control messages of the phone connection: what the PC reads
// from the phone and the exact texts it writes.
#include <cstdint>
#include <string>
#include <string_view>

struct HelloMessage {
  double v = 0;
  std::string device = "iPhone";
  std::string model;
  bool hasCode = false;
  std::string code;
  bool hasToken = false;
  std::string token;
};
HelloMessage ReadHello(std::string_view text);
// A JSON number's integer part, as the C cast truncates it; 0 when it is
// not a finite number within int's range.
int TruncatedInt(double v);

struct ConfigMessage {
  std::string codec = "h264";
  double width = 0;
  double height = 0;
  double fps = 60;
};
ConfigMessage ReadConfig(std::string_view text);

inline constexpr const char* kResolutionNames[3] = {"720p", "1080p", "4K"};
inline constexpr int kRates[2] = {30, 60};
// Quality class of a stream: index into kResolutionNames by the smaller
// side (720, 1080, 2160), index into kRates; -1 where there is none.
int ResolutionIndex(int width, int height);
int RateIndex(int fps);

// Focus modes in their bit order: "face" bit 0, "auto" bit 1, "manual" bit 2.
inline constexpr const char* kFocusModeNames[3] = {"face", "auto", "manual"};

struct StatusMessage {
  bool hasCaps = false;  // the "caps" object
  bool capsBlur = false;
  uint8_t focusModes = 0;
  bool hasFocus = false;  // the top-level "focus" object
  int faces = 0;
  bool hasMode = false;
  std::string mode;
  bool hasValue = false;
  double value = 0;
  bool hasBlur = false;  // top-level "blur", outside "caps" and "focus"
  double blur = 0;
  bool hasPaused = false;
  bool paused = false;
  bool hasBattery = false;
  double battery = 0;
  bool hasCamera = false;
  std::string camera;
  bool hasRates = false;
  uint8_t rates[3] = {0, 0, 0};
};
StatusMessage ReadStatus(std::string_view text);

std::string WelcomeText(std::string_view pcName, std::string_view id, std::string_view token);
std::string DenyText(std::string_view reason);
std::string QualityCommand(int resolutionIndex, int rateIndex);
std::string PauseCommand();
std::string ResumeCommand();
std::string KeyframeCommand();
std::string FocusCommand(int mode, double value);  // value with 3 decimals
std::string BlurCommand(double value);             // value with 3 decimals
std::string SavedBlurCommand(double value);        // value with 2 decimals, after WELCOME

// Fixed-point text with "." whatever the process locale.
std::string FixedText(double value, int decimals);
