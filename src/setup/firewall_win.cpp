#include "firewall_win.h"

#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// The firewall's properties are BSTRs; this owns one for the length of a call.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(text_); }
  BSTR Get() const { return text_; }

 private:
  BSTR text_;
};

// A rule missing any of its settings would be wider than asked for (every
// profile, every port), so each one must take or the rule is not added.
HRESULT FillRule(INetFwRule* rule, const std::wstring& programPath) {
  Bstr name(kFirewallRuleName), description(kFirewallRuleDescription), program(programPath.c_str()),
      ports(kFirewallRulePorts);
  if (!name.Get() || !description.Get() || !program.Get() || !ports.Get()) return E_OUTOFMEMORY;
  HRESULT hr = rule->put_Name(name.Get());
  if (SUCCEEDED(hr)) hr = rule->put_Description(description.Get());
  if (SUCCEEDED(hr)) hr = rule->put_ApplicationName(program.Get());
  if (SUCCEEDED(hr)) hr = rule->put_Protocol(NET_FW_IP_PROTOCOL_TCP);
  if (SUCCEEDED(hr)) hr = rule->put_LocalPorts(ports.Get());
  if (SUCCEEDED(hr)) hr = rule->put_Direction(NET_FW_RULE_DIR_IN);
  if (SUCCEEDED(hr)) hr = rule->put_Action(NET_FW_ACTION_ALLOW);
  if (SUCCEEDED(hr)) hr = rule->put_Profiles(NET_FW_PROFILE2_PRIVATE);
  if (SUCCEEDED(hr)) hr = rule->put_Enabled(VARIANT_TRUE);
  return hr;
}

}  // namespace

HRESULT ReplaceFirewallRule(INetFwRules* rules, INetFwRule* rule, const std::wstring& programPath) {
  {
    // A rule that is not there is no error.
    Bstr name(kFirewallRuleName);
    (void)rules->Remove(name.Get());
  }
  if (!rule) return S_OK;
  HRESULT hr = FillRule(rule, programPath);
  return SUCCEEDED(hr) ? rules->Add(rule) : hr;
}

HRESULT FirewallRule(bool add, const std::wstring& programPath) {
  ComPtr<INetFwPolicy2> policy;
  HRESULT hr = CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&policy));
  if (FAILED(hr)) return hr;
  ComPtr<INetFwRules> rules;
  hr = policy->get_Rules(&rules);
  if (FAILED(hr)) return hr;
  ComPtr<INetFwRule> rule;
  if (add) {
    hr = CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&rule));
    if (FAILED(hr)) {
      (void)ReplaceFirewallRule(rules.Get(), nullptr, programPath);
      return hr;
    }
  }
  return ReplaceFirewallRule(rules.Get(), rule.Get(), programPath);
}
