#include "messages.h"

#include <charconv>
#include <cmath>

#include "json_reader.h"

HelloMessage ReadHello(std::string_view text) {
  HelloMessage m;
  JsonNumber(text, "v", &m.v);
  JsonString(text, "device", &m.device);
  JsonString(text, "model", &m.model);
  m.hasCode = JsonString(text, "code", &m.code);
  m.hasToken = JsonString(text, "token", &m.token);
  return m;
}

int TruncatedInt(double v) {
  if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
  return static_cast<int>(v);
}

ConfigMessage ReadConfig(std::string_view text) {
  ConfigMessage m;
  JsonString(text, "codec", &m.codec);
  JsonNumber(text, "width", &m.width);
  JsonNumber(text, "height", &m.height);
  JsonNumber(text, "fps", &m.fps);
  return m;
}

int ResolutionIndex(int width, int height) {
  int side = width < height ? width : height;
  switch (side) {
    case 720: return 0;
    case 1080: return 1;
    case 2160: return 2;
    default: return -1;
  }
}

int RateIndex(int fps) { return fps == 30 ? 0 : fps == 60 ? 1 : -1; }

StatusMessage ReadStatus(std::string_view text) {
  StatusMessage m;
  std::string caps, focus, afterCaps, afterFocus;
  m.hasCaps = JsonCut(text, "caps", &caps, &afterCaps);
  if (!m.hasCaps) afterCaps = std::string(text);
  m.hasFocus = JsonCut(afterCaps, "focus", &focus, &afterFocus);
  if (!m.hasFocus) afterFocus = afterCaps;

  if (m.hasCaps) {
    JsonBool(caps, "blur", &m.capsBlur);
    std::string modes, ignored;
    if (JsonCut(caps, "focus", &modes, &ignored)) {
      for (int bit = 0; bit < 3; ++bit) {
        if (modes.find("\"" + std::string(kFocusModeNames[bit]) + "\"") != std::string::npos) {
          m.focusModes = static_cast<uint8_t>(m.focusModes | (1 << bit));
        }
      }
    }
  }
  if (m.hasFocus) {
    double faces = 0;
    if (JsonNumber(focus, "faces", &faces)) m.faces = TruncatedInt(faces);
    m.hasMode = JsonString(focus, "mode", &m.mode);
    m.hasValue = JsonNumber(focus, "value", &m.value);
  }
  m.hasBlur = JsonNumber(afterFocus, "blur", &m.blur);
  m.hasPaused = JsonBool(text, "paused", &m.paused);
  m.hasBattery = JsonNumber(text, "battery", &m.battery);
  m.hasCamera = JsonString(text, "camera", &m.camera);
  m.hasRates = ReadCapsBits(text, m.rates);
  return m;
}

std::string FixedText(double value, int decimals) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return "0";
  return std::string(text, end);
}

std::string WelcomeText(std::string_view pcName, std::string_view id, std::string_view token) {
  return "{\"pc\":\"" + JsonEscape(pcName) + "\",\"id\":\"" + std::string(id) + "\",\"token\":\"" +
         std::string(token) + "\"}";
}

std::string DenyText(std::string_view reason) { return "{\"reason\":\"" + std::string(reason) + "\"}"; }

std::string QualityCommand(int resolutionIndex, int rateIndex) {
  return std::string("{\"cmd\":\"quality\",\"res\":\"") + kResolutionNames[resolutionIndex] +
         "\",\"fps\":" + std::to_string(kRates[rateIndex]) + "}";
}

std::string PauseCommand() { return "{\"cmd\":\"pause\"}"; }
std::string ResumeCommand() { return "{\"cmd\":\"resume\"}"; }
std::string KeyframeCommand() { return "{\"cmd\":\"keyframe\"}"; }

std::string FocusCommand(int mode, double value) {
  return std::string("{\"cmd\":\"focus\",\"mode\":\"") + kFocusModeNames[mode] + "\",\"value\":" +
         FixedText(value, 3) + "}";
}

std::string BlurCommand(double value) { return "{\"cmd\":\"blur\",\"value\":" + FixedText(value, 3) + "}"; }

std::string SavedBlurCommand(double value) {
  return "{\"cmd\":\"blur\",\"value\":" + FixedText(value, 2) + "}";
}
