#include "settings_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "numbers.h"

namespace {

constexpr size_t kReadPiece = 1023;

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

void ApplyLine(std::string_view line, SettingsValues* values) {
  // The line's text ends at a NUL byte, as a C string read of it would.
  line = line.substr(0, line.find('\0'));
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (StartsWith(line, "id=")) {
    values->id = line.substr(3);
  } else if (StartsWith(line, "calidad=")) {
    values->quality = line.substr(8);
  } else if (StartsWith(line, "fondo=")) {
    values->blur = static_cast<float>(LeadingDouble(line.substr(6)));
  } else if (StartsWith(line, "celu=")) {
    std::string_view rest = line.substr(5);
    size_t bar = rest.find('|');
    if (bar != std::string_view::npos) {
      values->phones.push_back({std::string(rest.substr(0, bar)), std::string(rest.substr(bar + 1))});
    }
  }
}

}  // namespace

void ReadSettingsText(std::string_view bytes, SettingsValues* values) {
  bool continuation = false;
  while (!bytes.empty()) {
    // One fgets piece: up to and including a line feed, at most 1023 bytes.
    size_t end = bytes.find('\n');
    size_t length = end == std::string_view::npos ? bytes.size() : end + 1;
    if (length > kReadPiece) length = kReadPiece;
    std::string_view piece = bytes.substr(0, length);
    bytes.remove_prefix(length);
    bool endsLine = piece.back() == '\n' || bytes.empty();
    // A piece that continues an overlong line is the tail of some other
    // entry (a phone's name, say) and must never be taken as a line.
    if (!continuation) ApplyLine(piece, values);
    continuation = !endsLine;
  }
}

std::string WriteSettingsText(const SettingsValues& values) {
  std::string out = "# Orvane para PC: id de esta PC y celus vinculados (token|nombre)\n";
  out += "id=" + values.id + "\n";
  if (!values.quality.empty()) out += "calidad=" + values.quality + "\n";
  out += "fondo=" + BlurText(values.blur) + "\n";
  for (const LinkedPhone& phone : values.phones) out += "celu=" + phone.token + "|" + phone.name + "\n";
  return out;
}

std::string UuidV4Text(const uint8_t (&bytes)[16]) {
  uint8_t b[16];
  for (int i = 0; i < 16; ++i) b[i] = bytes[i];
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

std::string TokenText(const uint8_t (&bytes)[32]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(64);
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

std::string CleanPhoneName(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '\n' || c == '\r' || c == '|') continue;
    out.push_back(c);
  }
  if (out.size() > kMaxPhoneNameBytes) {
    size_t cut = kMaxPhoneNameBytes;
    // Step back over continuation bytes so the last character stays whole.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return out;
}

bool TokensMatch(std::string_view a, std::string_view b) {
  if (a.size() != kTokenLength || b.size() != kTokenLength) return false;
  unsigned difference = 0;
  for (size_t i = 0; i < kTokenLength; ++i) {
    difference |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
  }
  return difference == 0;
}

std::string BlurText(float blur) {
  if (std::isnan(blur)) return "nan";
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, blur);
  if (ec != std::errc()) return "0";
  return std::string(text, end);
}
