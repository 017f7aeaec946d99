#include "notices.h"

#include <cwchar>
#include <cwctype>

namespace {

bool SameProgram(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

bool ProfileBlocks(const FirewallProfileView& profile, const std::vector<FirewallRuleView>& rules,
                   const std::wstring& program) {
  if (!profile.enabled) return false;
  if (profile.blockAllInbound) return true;
  bool allowed = profile.inboundAllowedByDefault;
  for (const FirewallRuleView& rule : rules) {
    if (!rule.enabled || !rule.inbound || (rule.profiles & profile.type) == 0) continue;
    const bool ours = SameProgram(rule.application, program);
    // A block rule wins over every allow rule.
    if (!rule.allow && ours) return true;
    if (rule.allow && (ours || rule.application.empty())) allowed = true;
  }
  return !allowed;
}

}  // namespace

bool FirewallBlocksProgram(const std::vector<FirewallProfileView>& current, const std::vector<FirewallRuleView>& rules,
                           const std::wstring& program) {
  if (current.empty()) return false;
  for (const FirewallProfileView& profile : current) {
    if (!ProfileBlocks(profile, rules, program)) return false;
  }
  return true;
}

Notice ChooseNotice(const NoticeInputs& in) {
  if (in.firewallBlocks && !in.connected) {
    return {L"Windows bloquea al celu en esta red", L"Abrir red", NoticeAction::NetworkSettings};
  }
  if (in.camerasDenied) {
    return {L"Windows no deja usar c\u00E1maras a las apps", L"Permisos", NoticeAction::CameraPrivacySettings};
  }
  switch (in.camera) {
    case CameraProblem::None:
      break;
    case CameraProblem::NotWindows11:
      return {L"Orvane Cam necesita Windows 11", L"", NoticeAction::None};
    case CameraProblem::NotRegistered:
      // Tried again by itself: reinstalling is what helps.
      return {L"Orvane Cam no est\u00E1 registrada: reinstal\u00E1 Orvane", L"", NoticeAction::None};
    case CameraProblem::Failed: {
      wchar_t text[64];
      std::swprintf(text, 64, L"No se cre\u00F3 Orvane Cam (0x%08X)", static_cast<unsigned>(in.cameraResult));
      return {text, L"Reintentar", NoticeAction::RetryCamera};
    }
  }
  return {};
}

const wchar_t* NoticeSettingsPage(NoticeAction action) {
  switch (action) {
    case NoticeAction::NetworkSettings:
      return L"ms-settings:network-status";
    case NoticeAction::CameraPrivacySettings:
      return L"ms-settings:privacy-webcam";
    default:
      return L"";
  }
}
