#include "local_address.h"

bool IsVirtualAdapter(const AdapterInfo& a) {
  if (a.friendlyName.find(L"vEthernet") != std::wstring::npos) return true;
  for (const wchar_t* word : {L"Virtual", L"VMware", L"Hyper-V", L"TAP", L"VPN"}) {
    if (a.description.find(word) != std::wstring::npos) return true;
  }
  return false;
}

std::string ChooseAddress(const std::vector<AdapterInfo>& adapters) {
  std::string preferred, fallback;
  for (const AdapterInfo& a : adapters) {
    if (!a.up || a.loopback) continue;
    bool isVirtual = IsVirtualAdapter(a);
    for (const std::string& address : a.ipv4) {
      if (address.rfind("169.254.", 0) == 0) continue;
      if (a.hasGateway && !isVirtual) {
        if (preferred.empty()) preferred = address;
      } else if (fallback.empty()) {
        fallback = address;
      }
    }
  }
  if (!preferred.empty()) return preferred;
  if (!fallback.empty()) return fallback;
  return "127.0.0.1";
}
