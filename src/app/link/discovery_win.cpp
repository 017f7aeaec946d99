// The PC's DNS-SD announcement and the choice of the address it gives out.
// The DNS-SD functions exist only on recent Windows, so they are looked up
// when needed; without them the program runs on, found through the QR code.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
#include <windns.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
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
    if (HMODULE dnsapi = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
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

// What the system's completion callbacks reach, through the request's
// context. It lives apart from the link: when a completion is still due as the
// program stops, it stays behind (with the request and our instance, which
// the system may still read) for the callback to find.
struct MdnsRegistration {
  std::atomic<int> refs{1};  // the link's, and one per completion still due
  std::mutex lock;
  std::condition_variable settled;
  DNS_SERVICE_REGISTER_REQUEST request{};
  DNS_SERVICE_CANCEL cancel{};
  PDNS_SERVICE_INSTANCE instance = nullptr;  // ours, from DnsServiceConstructInstance
  std::wstring name;                         // the instance name asked for
  int pending = 0;                           // completions still to come
  bool registrationSettled = false;          // the registration's completion came
  bool registered = false;                   // to be withdrawn at stop
  bool withdrawn = false;                    // the last completion frees our instance
  bool closed = false;                       // the link stopped: nothing more is logged
};

namespace {

// Deregistration is quick on a network; the program's exit waits no longer.
constexpr DWORD kWithdrawMs = 1000;

void Release(MdnsRegistration* mdns) {
  if (mdns->refs.fetch_sub(1) == 1) delete mdns;
}

// Runs on a thread of the DNS service client, for the registration and again
// for the deregistration, each with a copy of the instance that is ours to free.
void WINAPI RegistrationDone(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
  auto* mdns = static_cast<MdnsRegistration*>(context);
  const DnsSd& dns = Functions();
  bool counted = false;
  {
    std::lock_guard lock(mdns->lock);
    bool registration = !mdns->registrationSettled;
    mdns->registrationSettled = true;
    if (registration && status != 0) mdns->registered = false;  // nothing to withdraw
    if (!mdns->closed) {
      if (!registration) {
        LogLine("mDNS: baja terminó con estado %lu", static_cast<unsigned long>(status));
      } else {
        LogLine("mDNS: registro terminó con estado %lu", static_cast<unsigned long>(status));
        // On a name taken on the network the responder picks another one.
        if (status == 0 && instance && instance->pszInstanceName && mdns->name != instance->pszInstanceName) {
          LogLine("mDNS: el nombre estaba en uso; se anuncia como %s",
                  WideToUtf8(instance->pszInstanceName).c_str());
        }
      }
    }
    if (instance) dns.free(instance);
    counted = mdns->pending > 0;  // one we never asked for holds no reference
    if (counted) --mdns->pending;
    if (mdns->pending == 0 && mdns->withdrawn && mdns->instance) {
      dns.free(mdns->instance);
      mdns->instance = nullptr;
    }
    mdns->settled.notify_all();
  }
  if (counted) Release(mdns);
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

void PhoneLink::RegisterService() {
  const DnsSd& dns = Functions();
  std::wstring instanceName = computerName_ + L"._orvane._tcp.local";
  std::wstring hostName = computerName_ + L".local";
  std::wstring id = Utf8ToWide(settings_ ? settings_->Id() : std::string());
  PCWSTR keys[3] = {L"v", L"id", L"name"};
  PCWSTR values[3] = {L"1", id.c_str(), computerName_.c_str()};
  // The address the pairing code carries and nothing else: left to itself
  // the responder also announces addresses the listener does not serve
  // (IPv6, other adapters).
  IP4_ADDRESS address = 0;
  bool haveAddress = inet_pton(AF_INET, localAddress_.c_str(), &address) == 1;
  PDNS_SERVICE_INSTANCE instance = dns.Complete() && haveAddress
                                       ? dns.construct(instanceName.c_str(), hostName.c_str(), &address, nullptr,
                                                       static_cast<WORD>(port_), 0, 0, 3, keys, values)
                                       : nullptr;
  if (!instance) {
    LogLine("mDNS: no se pudo armar la instancia");
    if (!dns.Complete()) LogLine("mDNS: este Windows no tiene DNS-SD");
    return;
  }
  // The request stays put until the deregistration completes: deregistering
  // takes the very request that registered, and the system may read it until
  // then.
  auto* mdns = new MdnsRegistration;
  mdns->instance = instance;
  mdns->name = instanceName;
  mdns->request.Version = DNS_QUERY_REQUEST_VERSION1;
  mdns->request.InterfaceIndex = 0;
  mdns->request.pServiceInstance = instance;
  mdns->request.pRegisterCompletionCallback = &RegistrationDone;
  mdns->request.pQueryContext = mdns;
  mdns->request.unicastEnabled = FALSE;
  // Counted before the call: the completion may come before it returns.
  mdns->pending = 1;
  mdns->refs = 2;
  mdns->registered = true;
  DWORD result = dns.registerService(&mdns->request, &mdns->cancel);
  LogLine("mDNS: DnsServiceRegister -> %lu", static_cast<unsigned long>(result));
  if (result == 0 || result == kDnsRequestPending) {
    mdns_ = mdns;
    return;
  }
  dns.free(instance);  // refused: no completion will come
  delete mdns;
}

void PhoneLink::UnregisterService() {
  MdnsRegistration* mdns = std::exchange(mdns_, nullptr);
  if (!mdns) return;
  const DnsSd& dns = Functions();
  bool withdraw = false;
  {
    std::lock_guard lock(mdns->lock);
    withdraw = mdns->registered;
    mdns->registered = false;
    if (withdraw) {
      ++mdns->pending;
      ++mdns->refs;
    }
  }
  if (withdraw) {
    DWORD result = dns.deregister(&mdns->request, nullptr);
    LogLine("mDNS: DnsServiceDeRegister -> %lu", static_cast<unsigned long>(result));
    if (result != kDnsRequestPending) {
      std::lock_guard lock(mdns->lock);
      --mdns->pending;
      --mdns->refs;
    }
  }
  {
    std::unique_lock lock(mdns->lock);
    mdns->withdrawn = true;
    if (mdns->settled.wait_for(lock, std::chrono::milliseconds(kWithdrawMs), [mdns] { return mdns->pending == 0; })) {
      if (mdns->instance) dns.free(mdns->instance);
      mdns->instance = nullptr;
    } else {
      // A completion may still come and read the request and our instance:
      // both stay, its callback frees the instance, and logs nothing.
      mdns->closed = true;
      LogLine("mDNS: la baja no terminó en %lu ms; la instancia queda sin liberar",
              static_cast<unsigned long>(kWithdrawMs));
    }
  }
  Release(mdns);
}
