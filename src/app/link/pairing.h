#pragma once
// Who may stream: the decision on a phone's HELLO, the pairing address, and
// the limit on guessing the pairing code.
#include <string>
#include <string_view>

#include "messages.h"

enum class HelloVerdict {
  ApprovedByToken,  // WELCOME carries the same token
  ApprovedByCode,   // a new token is issued
  AskUser,          // wait for "Conectar" on the PC
  DenyVersion,
  DenyCode,
  DenyToken,
};

// tokenIsLinked says whether a presented token belongs to a linked phone;
// it is asked only when a token is present and the version is right.
template <typename TokenIsLinked>
HelloVerdict DecideHello(const HelloMessage& hello, std::string_view currentCode, TokenIsLinked&& tokenIsLinked) {
  if (TruncatedInt(hello.v) != 1) return HelloVerdict::DenyVersion;
  if (hello.hasToken && tokenIsLinked(hello.token)) return HelloVerdict::ApprovedByToken;
  // An empty code never pairs, whatever the current one is.
  if (hello.hasCode) {
    return !currentCode.empty() && hello.code == currentCode ? HelloVerdict::ApprovedByCode : HelloVerdict::DenyCode;
  }
  if (hello.hasToken) return HelloVerdict::DenyToken;
  return HelloVerdict::AskUser;
}

const char* DenyReason(HelloVerdict verdict);  // "version", "code", "token"

std::string PairingUriText(std::string_view address, int port, std::string_view code, std::string_view id);

// The pairing code only changes when a streaming session ends, so without a
// limit anyone on the network could try all million codes. After this many
// wrong codes in a row a new code is drawn.
class CodeGuessGuard {
 public:
  static constexpr int kMaxWrongCodes = 5;
  // True when this wrong code uses up the allowance (the count restarts).
  bool WrongCode() {
    if (++wrong_ < kMaxWrongCodes) return false;
    wrong_ = 0;
    return true;
  }
  void Proven() { wrong_ = 0; }
  int Count() const { return wrong_; }

 private:
  int wrong_ = 0;
};

// Text the phone sent, fit for one log line: control characters become
// spaces.
std::string LogSafe(std::string_view text);
