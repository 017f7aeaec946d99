#include "pairing.h"

const char* DenyReason(HelloVerdict verdict) {
  switch (verdict) {
    case HelloVerdict::DenyVersion: return "version";
    case HelloVerdict::DenyCode: return "code";
    case HelloVerdict::DenyToken: return "token";
    default: return "";
  }
}

std::string PairingUriText(std::string_view address, int port, std::string_view code, std::string_view id) {
  return "orvane://pc?host=" + std::string(address) + "&port=" + std::to_string(port) + "&code=" +
         std::string(code) + "&id=" + std::string(id);
}

std::string LogSafe(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f) c = ' ';
  }
  return out;
}
