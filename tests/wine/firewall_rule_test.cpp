// The installer's firewall rule, filled into a recording rule and rule
// collection: what Windows would be asked to allow.
#include <gtest/gtest.h>
#include <windows.h>
#include <netfw.h>

#include <string>
#include <vector>

#include "setup/firewall_win.h"

// COM interfaces have no virtual destructor; these objects live on the stack.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

// Dispatch methods and getters nobody here calls.
#define NOT_CALLED(name, type) \
  HRESULT STDMETHODCALLTYPE name(type) override { return E_NOTIMPL; }

template <typename Interface>
class Recorder : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  NOT_CALLED(GetTypeInfoCount, UINT*)
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

// Records every setting in order as "name=value"; `refuse` fails one of them.
class RecordingRule : public Recorder<INetFwRule> {
 public:
  std::vector<std::wstring> settings;
  std::wstring refuse;

  HRESULT Set(const wchar_t* name, const std::wstring& value) {
    if (refuse == name) return E_ACCESSDENIED;
    settings.push_back(std::wstring(name) + L"=" + value);
    return S_OK;
  }
  static std::wstring Number(long value) { return std::to_wstring(value); }

  HRESULT STDMETHODCALLTYPE put_Name(BSTR v) override { return Set(L"Name", v); }
  HRESULT STDMETHODCALLTYPE put_Description(BSTR v) override { return Set(L"Description", v); }
  HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR v) override { return Set(L"ApplicationName", v); }
  HRESULT STDMETHODCALLTYPE put_ServiceName(BSTR v) override { return Set(L"ServiceName", v); }
  HRESULT STDMETHODCALLTYPE put_Protocol(LONG v) override { return Set(L"Protocol", Number(v)); }
  HRESULT STDMETHODCALLTYPE put_LocalPorts(BSTR v) override { return Set(L"LocalPorts", v); }
  HRESULT STDMETHODCALLTYPE put_RemotePorts(BSTR v) override { return Set(L"RemotePorts", v); }
  HRESULT STDMETHODCALLTYPE put_LocalAddresses(BSTR v) override { return Set(L"LocalAddresses", v); }
  HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR v) override { return Set(L"RemoteAddresses", v); }
  HRESULT STDMETHODCALLTYPE put_IcmpTypesAndCodes(BSTR v) override { return Set(L"IcmpTypesAndCodes", v); }
  HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION v) override { return Set(L"Direction", Number(v)); }
  HRESULT STDMETHODCALLTYPE put_Interfaces(VARIANT) override { return Set(L"Interfaces", L"?"); }
  HRESULT STDMETHODCALLTYPE put_InterfaceTypes(BSTR v) override { return Set(L"InterfaceTypes", v); }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL v) override { return Set(L"Enabled", Number(v)); }
  HRESULT STDMETHODCALLTYPE put_Grouping(BSTR v) override { return Set(L"Grouping", v); }
  HRESULT STDMETHODCALLTYPE put_Profiles(LONG v) override { return Set(L"Profiles", Number(v)); }
  HRESULT STDMETHODCALLTYPE put_EdgeTraversal(VARIANT_BOOL v) override { return Set(L"EdgeTraversal", Number(v)); }
  HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION v) override { return Set(L"Action", Number(v)); }

  NOT_CALLED(get_Name, BSTR*)
  NOT_CALLED(get_Description, BSTR*)
  NOT_CALLED(get_ApplicationName, BSTR*)
  NOT_CALLED(get_ServiceName, BSTR*)
  NOT_CALLED(get_Protocol, LONG*)
  NOT_CALLED(get_LocalPorts, BSTR*)
  NOT_CALLED(get_RemotePorts, BSTR*)
  NOT_CALLED(get_LocalAddresses, BSTR*)
  NOT_CALLED(get_RemoteAddresses, BSTR*)
  NOT_CALLED(get_IcmpTypesAndCodes, BSTR*)
  NOT_CALLED(get_Direction, NET_FW_RULE_DIRECTION*)
  NOT_CALLED(get_Interfaces, VARIANT*)
  NOT_CALLED(get_InterfaceTypes, BSTR*)
  NOT_CALLED(get_Enabled, VARIANT_BOOL*)
  NOT_CALLED(get_Grouping, BSTR*)
  NOT_CALLED(get_Profiles, LONG*)
  NOT_CALLED(get_EdgeTraversal, VARIANT_BOOL*)
  NOT_CALLED(get_Action, NET_FW_ACTION*)
};

// Records removals and additions in order.
class RecordingRules : public Recorder<INetFwRules> {
 public:
  std::vector<std::wstring> calls;

  HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
    calls.push_back(L"Add " + std::to_wstring(static_cast<RecordingRule*>(rule)->settings.size()) + L" settings");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
    calls.push_back(L"Remove " + std::wstring(name));
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);  // no such rule yet
  }
  NOT_CALLED(get_Count, LONG*)
  HRESULT STDMETHODCALLTYPE Item(BSTR, INetFwRule**) override { return E_NOTIMPL; }
  NOT_CALLED(get__NewEnum, IUnknown**)
};

#undef NOT_CALLED

const std::wstring kProgram = L"C:\\Program Files\\Orvane\\Orvane.exe";

TEST(FirewallRule, AllowsOnlyTheProgramInboundOnItsTcpPortsOnPrivateNetworksAfterDroppingTheOldRule) {
  RecordingRules rules;
  RecordingRule rule;
  ASSERT_EQ(ReplaceFirewallRule(&rules, &rule, kProgram), S_OK);
  EXPECT_EQ(rules.calls, (std::vector<std::wstring>{L"Remove Orvane para PC", L"Add 9 settings"}));
  EXPECT_EQ(rule.settings, (std::vector<std::wstring>{
                               L"Name=Orvane para PC",
                               L"Description=Deja que el iPhone le mande el video a Orvane (solo en red privada).",
                               L"ApplicationName=" + kProgram,
                               L"Protocol=6",
                               L"LocalPorts=47800-47809",
                               L"Direction=1",  // inbound
                               L"Action=1",     // allow
                               L"Profiles=2",   // private only
                               L"Enabled=-1",
                           }));
}

TEST(FirewallRule, ARuleWithASettingThatDidNotTakeIsNeverAddedAndRemovalAloneAddsNothing) {
  for (const wchar_t* refused : {L"Name", L"ApplicationName", L"Protocol", L"LocalPorts", L"Direction", L"Profiles"}) {
    RecordingRules rules;
    RecordingRule rule;
    rule.refuse = refused;
    EXPECT_EQ(ReplaceFirewallRule(&rules, &rule, kProgram), E_ACCESSDENIED) << refused;
    EXPECT_EQ(rules.calls, std::vector<std::wstring>{L"Remove Orvane para PC"}) << refused;
  }
  RecordingRules rules;
  EXPECT_EQ(ReplaceFirewallRule(&rules, nullptr, kProgram), S_OK);
  EXPECT_EQ(rules.calls, std::vector<std::wstring>{L"Remove Orvane para PC"});
}

}  // namespace
