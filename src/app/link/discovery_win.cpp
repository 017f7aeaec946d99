// The PC's DNS-SD announcement and the choice of the address it gives out.
// The DNS-SD functions exist only on recent Windows, so they are looked up
// when needed; without them the program runs on, found through the QR code.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
#include <windns.h>

#include <vector>

#include "../../common/text_win.h"
#include "../../common/win_missing.h"
#include "../core/log.h"
#include "../core/settings.h"
#include "local_address.h"
#include "phone_link.h"

namespace {

constexpr DWORD kDnsRequestPending = 9506;  // DNS_REQUEST_PENDING, missing from mingw-w64

using ConstructInstanceFn = PDNS_SERVICE_INSTANCE(WINAPI*)(PCWSTR, PCWSTR, PIP4_ADDRESS, PIP6_ADDRESS, WORD, WORD,
                                                           WORD, DWORD, PCWSTR*, PCWSTR*);
using RegisterFn = DWORD(WINAPI*)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL);
using DeRegisterFn = DWORD(WINAPI*)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL);
using FreeInstanceFn = VOID(WINAPI*)(PDNS_SERVICE_INSTANCE);

struct DnsSd {
  ConstructInstanceFn construct = nullptr;
  RegisterFn registerService = nullptr;
  DeRegisterFn deregister = nullptr;
  FreeInstanceFn free = nullptr;
  bool Complete() const { return construct && registerService && deregister && free; }
};

const DnsSd& Functions() {
  static const DnsSd functions = [] {
    DnsSd f;
    if (HMODULE dnsapi = LoadLibraryW(L"dnsapi.dll")) {
      f.construct = LookUpFunction<ConstructInstanceFn>(dnsapi, "DnsServiceConstructInstance");
      f.registerService = LookUpFunction<RegisterFn>(dnsapi, "DnsServiceRegister");
      f.deregister = LookUpFunction<DeRegisterFn>(dnsapi, "DnsServiceDeRegister");
      f.free = LookUpFunction<FreeInstanceFn>(dnsapi, "DnsServiceFreeInstance");
    }
    return f;
  }();
  return functions;
}

}  // namespace

std::string ChooseLocalAddress() {
  std::vector<unsigned char> buffer(32768, 0);
  ULONG size = static_cast<ULONG>(buffer.size());
  const ULONG flags = GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_GATEWAYS;
  auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  ULONG result = GetAdaptersAddresses(AF_INET, flags, nullptr, list, &size);
  if (result == ERROR_BUFFER_OVERFLOW) {
    buffer.assign(size, 0);
    list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    result = GetAdaptersAddresses(AF_INET, flags, nullptr, list, &size);
  }
  if (result != NO_ERROR) return "127.0.0.1";

  std::vector<AdapterInfo> adapters;
  for (IP_ADAPTER_ADDRESSES* a = list; a; a = a->Next) {
    AdapterInfo info;
    info.up = a->OperStatus == IfOperStatusUp;
    info.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    info.friendlyName = a->FriendlyName ? a->FriendlyName : L"";
    info.description = a->Description ? a->Description : L"";
    info.hasGateway = a->FirstGatewayAddress != nullptr;
    for (IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
      if (!u->Address.lpSockaddr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
      char text[32] = "";
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(u->Address.lpSockaddr)->sin_addr, text, sizeof text);
      info.ipv4.push_back(text);
    }
    adapters.push_back(std::move(info));
  }
  return ChooseAddress(adapters);
}

void WINAPI PhoneLink::RegistrationDone(DWORD status, PVOID, PDNS_SERVICE_INSTANCE instance) {
  LogLine("mDNS: registro terminó con estado %lu", static_cast<unsigned long>(status));
  if (instance && Functions().free) Functions().free(instance);
}

void PhoneLink::RegisterService() {
  const DnsSd& dns = Functions();
  std::wstring instanceName = computerName_ + L"._orvane._tcp.local";
  std::wstring hostName = computerName_ + L".local";
  std::wstring id = Utf8ToWide(settings_ ? settings_->Id() : std::string());
  PCWSTR keys[3] = {L"v", L"id", L"name"};
  PCWSTR values[3] = {L"1", id.c_str(), computerName_.c_str()};
  mdnsInstance_ = dns.Complete() ? dns.construct(instanceName.c_str(), hostName.c_str(), nullptr, nullptr,
                                                 static_cast<WORD>(port_), 0, 0, 3, keys, values)
                                 : nullptr;
  if (!mdnsInstance_) {
    LogLine("mDNS: no se pudo armar la instancia");
    if (!dns.Complete()) LogLine("mDNS: este Windows no tiene DNS-SD");
    return;
  }
  DNS_SERVICE_REGISTER_REQUEST request{};
  request.Version = DNS_QUERY_REQUEST_VERSION1;
  request.InterfaceIndex = 0;
  request.pServiceInstance = mdnsInstance_;
  request.pRegisterCompletionCallback = &PhoneLink::RegistrationDone;
  request.pQueryContext = this;
  request.unicastEnabled = FALSE;
  DWORD result = dns.registerService(&request, &mdnsCancel_);
  mdnsRegistered_ = result == 0 || result == kDnsRequestPending;
  LogLine("mDNS: DnsServiceRegister -> %lu", static_cast<unsigned long>(result));
}

void PhoneLink::UnregisterService() {
  const DnsSd& dns = Functions();
  if (mdnsRegistered_ && mdnsInstance_) {
    DNS_SERVICE_REGISTER_REQUEST request{};
    request.Version = DNS_QUERY_REQUEST_VERSION1;
    request.pServiceInstance = mdnsInstance_;
    request.pRegisterCompletionCallback = &PhoneLink::RegistrationDone;
    dns.deregister(&request, nullptr);
    mdnsRegistered_ = false;
  }
  if (mdnsInstance_) {
    dns.free(mdnsInstance_);
    mdnsInstance_ = nullptr;
  }
}
