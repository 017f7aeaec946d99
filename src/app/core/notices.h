#pragma once
// What keeps a phone or the camera from working that lies outside the
// program: the firewall on this network, Windows' camera privacy switch, a
// virtual camera that could not be made. The window shows one line for the
// most important of them, with one action; this file decides which, and
// when each check runs again, without any window.
#include <cstdint>
#include <string>
#include <vector>

// ---- The firewall ----

// NET_FW_PROFILE2_*.
inline constexpr long kFirewallDomain = 1, kFirewallPrivate = 2, kFirewallPublic = 4;

struct FirewallProfileView {
  long type = 0;                    // one of the three above
  bool enabled = false;             // the firewall is on for it
  bool blockAllInbound = false;     // "block all incoming connections", allowed programs included
  bool inboundAllowedByDefault = false;
};
struct FirewallRuleView {
  bool enabled = false, inbound = false, allow = false;
  long profiles = 0;                // bit mask; 0x7FFFFFFF is all
  std::wstring application;         // empty: every program
};
// Whether the firewall keeps phones from reaching `program` on every network
// the PC is on now (`current`, those profiles only): on each, the firewall is
// on and blocks everything, or a block rule names the program, or no rule
// lets it in and the profile's default blocks. An allow rule for every
// program counts; a block rule for every program does not (it names ports
// or addresses this cannot judge). Unknown (no profile) is not blocked.
bool FirewallBlocksProgram(const std::vector<FirewallProfileView>& current, const std::vector<FirewallRuleView>& rules,
                           const std::wstring& program);

// ---- The notice ----

enum class CameraProblem {
  None,
  NotWindows11,    // the system has no virtual cameras
  NotRegistered,   // the camera's class is not registered
  Failed,          // creating or starting it failed with an HRESULT
};

struct NoticeInputs {
  bool connected = false;         // a phone streams: the network lets it in
  bool firewallBlocks = false;
  bool camerasDenied = false;     // Windows' camera access is off for desktop apps
  CameraProblem camera = CameraProblem::None;
  uint32_t cameraResult = 0;      // the HRESULT of a failed creation
};

enum class NoticeAction { None, NetworkSettings, CameraPrivacySettings, RetryCamera };

struct Notice {
  std::wstring message;           // empty: nothing to say
  std::wstring action;            // the clickable words, empty when there is nothing to do
  NoticeAction does = NoticeAction::None;
};

// The most important of what is wrong: the firewall (while no phone is
// connected), the privacy switch, then the camera.
Notice ChooseNotice(const NoticeInputs& in);

// The settings page an action opens; empty for the others.
const wchar_t* NoticeSettingsPage(NoticeAction action);

// ---- When to look again ----

// A check due at start and then every `intervalMs`.
class CheckPace {
 public:
  explicit CheckPace(uint64_t intervalMs) : intervalMs_(intervalMs) {}
  bool Due(uint64_t nowMs) {
    if (checked_ && nowMs - lastMs_ < intervalMs_) return false;
    checked_ = true;
    lastMs_ = nowMs;
    return true;
  }

 private:
  uint64_t intervalMs_;
  uint64_t lastMs_ = 0;
  bool checked_ = false;
};

// Tries again after 2, 4, 8 and 16 s, then every 30 s, until one succeeds.
class RetryBackoff {
 public:
  static constexpr uint64_t kFirstMs = 2000, kLongestMs = 30000;
  void Failed(uint64_t nowMs) {
    dueMs_ = nowMs + delayMs_;
    delayMs_ = delayMs_ * 2 > kLongestMs ? kLongestMs : delayMs_ * 2;
    waiting_ = true;
  }
  void Succeeded() {
    delayMs_ = kFirstMs;
    waiting_ = false;
  }
  bool Due(uint64_t nowMs) const { return waiting_ && nowMs >= dueMs_; }
  bool Waiting() const { return waiting_; }

 private:
  uint64_t delayMs_ = kFirstMs;
  uint64_t dueMs_ = 0;
  bool waiting_ = false;
};
