// The checks behind the window's notice: the firewall (on a pool thread:
// its rules come from the firewall service), Windows' camera privacy switch
// (the registry, on the UI thread), the virtual camera's last try; and the
// notice's action.
#include <windows.h>
#include <netfw.h>
#include <oleauto.h>
#include <shellapi.h>
#include <wrl/client.h>

#include <atomic>

#include "../../common/text_win.h"
#include "../video/virtual_camera.h"
#include "app_window.h"
#include "log.h"
#include "notices_win.h"
#include "options.h"
#include "platform.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr uint64_t kFirewallEveryMs = 15000;
constexpr uint64_t kPrivacyEveryMs = 5000;

// The firewall's answer, written by the pool thread, read by the UI thread:
// bit 0 known, bit 1 blocks, bits 8.. the current profiles; or a failed
// query's HRESULT with bit 0 clear.
enum : int64_t { kUnasked = -1 };
std::atomic<int64_t> g_firewallAnswer{kUnasked};
PTP_WORK g_firewallWork = nullptr;
std::atomic<bool> g_firewallRunning{false};

// The UI thread's.
CheckPace g_firewallPace{kFirewallEveryMs};
CheckPace g_privacyPace{kPrivacyEveryMs};
int64_t g_firewallLogged = kUnasked;
int g_privacyLogged = -1;  // -1 never asked, 0 allowed, 1 denied
bool g_camerasDenied = false;
bool g_firewallBlocks = false;

std::wstring OwnProgramPath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

std::wstring BstrText(BSTR text) {
  std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return out;
}

HRESULT ReadRules(INetFwPolicy2* policy, std::vector<FirewallRuleView>* out) {
  ComPtr<INetFwRules> rules;
  HRESULT hr = policy->get_Rules(&rules);
  ComPtr<IUnknown> unknown;
  if (SUCCEEDED(hr)) hr = rules->get__NewEnum(&unknown);
  ComPtr<IEnumVARIANT> items;
  if (SUCCEEDED(hr)) hr = unknown.As(&items);
  if (FAILED(hr)) return hr;
  VARIANT item;
  VariantInit(&item);
  while (items->Next(1, &item, nullptr) == S_OK) {
    ComPtr<INetFwRule> rule;
    if (item.vt == VT_DISPATCH && item.pdispVal && SUCCEEDED(item.pdispVal->QueryInterface(IID_PPV_ARGS(&rule)))) {
      FirewallRuleView view;
      VARIANT_BOOL enabled = VARIANT_FALSE;
      NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
      NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
      BSTR application = nullptr;
      if (SUCCEEDED(rule->get_Enabled(&enabled)) && SUCCEEDED(rule->get_Direction(&direction)) &&
          SUCCEEDED(rule->get_Action(&action)) && SUCCEEDED(rule->get_Profiles(&view.profiles)) &&
          SUCCEEDED(rule->get_ApplicationName(&application))) {
        view.enabled = enabled != VARIANT_FALSE;
        view.inbound = direction == NET_FW_RULE_DIR_IN;
        view.allow = action == NET_FW_ACTION_ALLOW;
        view.application = BstrText(application);
        out->push_back(std::move(view));
      } else {
        SysFreeString(application);
      }
    }
    VariantClear(&item);
  }
  return S_OK;
}

// The firewall as the service reports it.
HRESULT AskFirewall(long* profiles, bool* blocks) {
  ComPtr<INetFwPolicy2> policy;
  HRESULT hr = CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&policy));
  if (SUCCEEDED(hr)) hr = policy->get_CurrentProfileTypes(profiles);
  if (FAILED(hr)) return hr;
  std::vector<FirewallProfileView> current;
  for (long type : {kFirewallDomain, kFirewallPrivate, kFirewallPublic}) {
    if ((*profiles & type) == 0) continue;
    const auto profile = static_cast<NET_FW_PROFILE_TYPE2>(type);
    FirewallProfileView view;
    view.type = type;
    VARIANT_BOOL enabled = VARIANT_TRUE, blockAll = VARIANT_FALSE;
    NET_FW_ACTION inbound = NET_FW_ACTION_BLOCK;
    hr = policy->get_FirewallEnabled(profile, &enabled);
    if (SUCCEEDED(hr)) hr = policy->get_BlockAllInboundTraffic(profile, &blockAll);
    if (SUCCEEDED(hr)) hr = policy->get_DefaultInboundAction(profile, &inbound);
    if (FAILED(hr)) return hr;
    view.enabled = enabled != VARIANT_FALSE;
    view.blockAllInbound = blockAll != VARIANT_FALSE;
    view.inboundAllowedByDefault = inbound == NET_FW_ACTION_ALLOW;
    current.push_back(view);
  }
  std::vector<FirewallRuleView> rules;
  hr = ReadRules(policy.Get(), &rules);
  if (FAILED(hr)) return hr;
  *blocks = FirewallBlocksProgram(current, rules, OwnProgramPath());
  return S_OK;
}

// Test mode: the firewall named by the "--simular-red" file, which the
// service under Wine cannot report: "publica", "privada" or "dominio" for the
// network, "bloqueo" for a block rule of this program (left by a cancelled
// prompt). The installer's rule is there for private networks.
bool SimulatedFirewall(long* profiles, bool* blocks) {
  std::string words;
  if (!g_options.prueba || g_options.simularRed.empty() || !ReadWholeFile(g_options.simularRed, &words, 4096)) {
    return false;
  }
  *profiles = 0;
  if (words.find("publica") != std::string::npos) *profiles |= kFirewallPublic;
  if (words.find("privada") != std::string::npos) *profiles |= kFirewallPrivate;
  if (words.find("dominio") != std::string::npos) *profiles |= kFirewallDomain;
  const std::wstring program = OwnProgramPath();
  std::vector<FirewallProfileView> current;
  for (long type : {kFirewallDomain, kFirewallPrivate, kFirewallPublic}) {
    if (*profiles & type) current.push_back({.type = type, .enabled = true});
  }
  std::vector<FirewallRuleView> rules{
      {.enabled = true, .inbound = true, .allow = true, .profiles = kFirewallPrivate, .application = program}};
  if (words.find("bloqueo") != std::string::npos) {
    rules.push_back({.enabled = true, .inbound = true, .allow = false, .profiles = 0x7FFFFFFF, .application = program});
  }
  *blocks = FirewallBlocksProgram(current, rules, program);
  return true;
}

void CALLBACK CheckFirewall(PTP_CALLBACK_INSTANCE, PVOID, PTP_WORK) {
  long profiles = 0;
  bool blocks = false;
  HRESULT hr = S_OK;
  if (!SimulatedFirewall(&profiles, &blocks)) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    hr = AskFirewall(&profiles, &blocks);
    if (SUCCEEDED(com)) CoUninitialize();
  }
  g_firewallAnswer = SUCCEEDED(hr) ? 1 | (blocks ? 2 : 0) | (static_cast<int64_t>(profiles) << 8)
                                   : static_cast<int64_t>(static_cast<uint32_t>(hr)) << 8;
  g_firewallRunning = false;
}

void StartFirewallCheck() {
  if (!g_firewallWork || g_firewallRunning.exchange(true)) return;
  SubmitThreadpoolWork(g_firewallWork);
}

// The pool thread's last answer, taken over and logged when it changed.
bool FirewallBlocks() {
  const int64_t answer = g_firewallAnswer;
  if (answer != g_firewallLogged && answer != kUnasked) {
    const unsigned profiles = static_cast<unsigned>(answer >> 8);
    if ((answer & 1) == 0) {
      // A firewall that cannot be asked is said once, and shows nothing.
      if (g_firewallLogged == kUnasked) LogLine("Firewall: no se pudo consultar (0x%08x)", profiles);
    } else {
      LogLine("Firewall: %s (perfiles 0x%x)",
              answer & 2 ? "Windows bloquea al celu en esta red" : "deja entrar al celu", profiles);
    }
    g_firewallLogged = answer;
  }
  return answer != kUnasked && (answer & 3) == 3;
}

// "Deny" in one of the switches: the device's, all apps' of this user, or
// desktop apps' of this user; or a policy that denies every app.
bool CamerasDenied() {
  static const wchar_t kStore[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\CapabilityAccessManager\\ConsentStore\\webcam";
  const struct {
    HKEY root;
    std::wstring key;
  } switches[] = {
      {HKEY_LOCAL_MACHINE, kStore},
      {HKEY_CURRENT_USER, kStore},
      {HKEY_CURRENT_USER, std::wstring(kStore) + L"\\NonPackaged"},
  };
  for (const auto& s : switches) {
    wchar_t value[16] = L"";
    DWORD bytes = sizeof value;
    if (RegGetValueW(s.root, s.key.c_str(), L"Value", RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS &&
        _wcsicmp(value, L"Deny") == 0) {
      return true;
    }
  }
  DWORD policy = 0, bytes = sizeof policy;
  return RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Policies\\Microsoft\\Windows\\AppPrivacy",
                      L"LetAppsAccessCamera", RRF_RT_REG_DWORD, nullptr, &policy, &bytes) == ERROR_SUCCESS &&
         policy == 2;  // force deny
}

void CheckPrivacy() {
  g_camerasDenied = CamerasDenied();
  const int answer = g_camerasDenied ? 1 : 0;
  // An allowed camera is only worth a line after it was denied.
  if (answer != g_privacyLogged && (answer == 1 || g_privacyLogged == 1)) {
    LogLine("Permiso de cámara: %s",
            g_camerasDenied ? "Windows no deja usar cámaras a las apps" : "las apps pueden usar cámaras");
  }
  g_privacyLogged = answer;
}

}  // namespace

void StartNoticeChecks() {
  g_firewallWork = CreateThreadpoolWork(CheckFirewall, nullptr, nullptr);
  NoticeTick(GetTickCount64());
}

void NoticeTick(uint64_t nowMs) {
  if (g_firewallPace.Due(nowMs)) StartFirewallCheck();
  if (g_privacyPace.Due(nowMs)) CheckPrivacy();
  g_firewallBlocks = FirewallBlocks();
  RetryVirtualCameraWhenDue(nowMs);
}

void StopNoticeChecks() {
  if (!g_firewallWork) return;
  WaitForThreadpoolWorkCallbacks(g_firewallWork, TRUE);
  CloseThreadpoolWork(g_firewallWork);
  g_firewallWork = nullptr;
}

Notice CurrentNotice(bool connected) {
  NoticeInputs in;
  in.connected = connected;
  in.firewallBlocks = g_firewallBlocks;
  in.camerasDenied = g_camerasDenied;
  in.camera = VirtualCameraProblem(&in.cameraResult);
  return ChooseNotice(in);
}

void RunNoticeAction(bool connected) {
  const Notice notice = CurrentNotice(connected);
  if (notice.does == NoticeAction::RetryCamera) {
    LogLine("Aviso: Orvane Cam se intenta de nuevo");
    CreateVirtualCamera();
    return;
  }
  const wchar_t* page = NoticeSettingsPage(notice.does);
  if (!*page) return;
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", page, nullptr, nullptr, SW_SHOWNORMAL));
  LogLine("Aviso: se abre %s (%s)", WideToUtf8(page).c_str(), result > 32 ? "hecho" : "no se pudo");
}
