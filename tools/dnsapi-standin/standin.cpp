// A stand-in of ours for the DNS-SD registration of dnsapi.dll, for tests
// under Wine, whose dnsapi lacks it. Registration and deregistration complete
// later, on a thread of the stand-in, through the request's callback, as
// Windows documents them, and nothing is kinder than the documentation:
//   - an instance handed to a callback is the caller's, to be freed with
//     DnsServiceFreeInstance, exactly once;
//   - the request (and the instance it points to) is read again when the
//     operation completes, and deregistration takes the very request that
//     registered the service: both must stay put until the deregistration's
//     callback;
//   - deregistering what is not registered fails; DeRegister's cancel
//     argument must be null.
// What the caller gets wrong is a "misuse:" line in the log.
//
// Environment:
//   DNSSD_STANDIN_LOG        the call log: one line per call, completion and
//                            misuse, each beginning with the process id;
//                            "load" names the program that loaded the stand-in
//   DNSSD_STANDIN_CONFLICT   "rename": the name is taken, the registration
//                            completes under "<name> (2)"; "error": it fails
//                            with DNS_ERROR_RCODE_YXDOMAIN
//   DNSSD_STANDIN_DEREGISTER "never": deregistrations never complete
#include <windows.h>
#include <windns.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../standin_text.h"

namespace {

constexpr DWORD kRequestPending = 9506;  // DNS_REQUEST_PENDING
constexpr DWORD kCompletionMs = 150;

// Freed instances are overwritten with this and never given back to the
// heap: whoever reads one afterwards reads garbage, not a later instance.
constexpr int kPoison = 0xDD;

SRWLOCK g_logLock = SRWLOCK_INIT;

std::wstring Env(const wchar_t* name) {
  wchar_t value[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

void Log(const char* format, ...) {
  std::wstring path = Env(L"DNSSD_STANDIN_LOG");
  if (path.empty()) return;
  char line[2048];
  int head = std::snprintf(line, sizeof line, "%lu ", GetCurrentProcessId());
  va_list args;
  va_start(args, format);
  int body = std::vsnprintf(line + head, sizeof line - static_cast<size_t>(head) - 1, format, args);
  va_end(args);
  if (body < 0) return;
  size_t size = std::min(sizeof line - 2, static_cast<size_t>(head + body));
  line[size++] = '\n';
  AcquireSRWLockExclusive(&g_logLock);
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
  }
  ReleaseSRWLockExclusive(&g_logLock);
}

wchar_t* CopyText(const wchar_t* text) {
  if (!text) return nullptr;
  size_t length = wcslen(text) + 1;
  auto* out = new wchar_t[length];
  std::memcpy(out, text, length * sizeof(wchar_t));
  return out;
}

PDNS_SERVICE_INSTANCE NewInstance(const wchar_t* name, const wchar_t* host, const IP4_ADDRESS* ip4,
                                  const IP6_ADDRESS* ip6, WORD port, WORD priority, WORD weight, DWORD count,
                                  const wchar_t* const* keys, const wchar_t* const* values) {
  auto* instance = new DNS_SERVICE_INSTANCE{};
  instance->pszInstanceName = CopyText(name);
  instance->pszHostName = CopyText(host);
  if (ip4) instance->ip4Address = new IP4_ADDRESS(*ip4);
  if (ip6) instance->ip6Address = new IP6_ADDRESS(*ip6);
  instance->wPort = port;
  instance->wPriority = priority;
  instance->wWeight = weight;
  instance->dwPropertyCount = count;
  if (count > 0) {
    instance->keys = new PWSTR[count];
    instance->values = new PWSTR[count];
    for (DWORD i = 0; i < count; ++i) {
      instance->keys[i] = CopyText(keys[i]);
      instance->values[i] = CopyText(values[i]);
    }
  }
  instance->dwInterfaceIndex = 0;
  return instance;
}

PDNS_SERVICE_INSTANCE CopyInstance(const DNS_SERVICE_INSTANCE& from, const wchar_t* name) {
  PDNS_SERVICE_INSTANCE copy = NewInstance(name, from.pszHostName, from.ip4Address, from.ip6Address, from.wPort,
                                           from.wPriority, from.wWeight, from.dwPropertyCount, from.keys, from.values);
  copy->dwInterfaceIndex = from.dwInterfaceIndex;
  return copy;
}

std::string Describe(const DNS_SERVICE_INSTANCE& instance) {
  std::string ip4 = "null";
  if (instance.ip4Address) {
    const auto* b = reinterpret_cast<const unsigned char*>(instance.ip4Address);  // network order
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    ip4 = text;
  }
  std::string txt;
  for (DWORD i = 0; i < instance.dwPropertyCount; ++i) {
    if (i) txt += ",";
    txt += Utf8(instance.keys[i]) + "=" + Utf8(instance.values[i]);
  }
  char line[1536];
  std::snprintf(line, sizeof line, "name=%s host=%s ip4=%s ip6=%s port=%u priority=%u weight=%u txt=[%s]",
                Utf8(instance.pszInstanceName).c_str(), Utf8(instance.pszHostName).c_str(), ip4.c_str(),
                instance.ip6Address ? "set" : "null", instance.wPort, instance.wPriority, instance.wWeight,
                txt.c_str());
  return line;
}

enum class State { Registering, Registered, Failed, Deregistering, Deregistered };

const char* StateName(State state) {
  switch (state) {
    case State::Registering: return "registering";
    case State::Registered: return "registered";
    case State::Failed: return "failed";
    case State::Deregistering: return "deregistering";
    case State::Deregistered: return "deregistered";
  }
  return "?";
}

struct Handed {
  PDNS_SERVICE_INSTANCE pointer;
  int id;
  bool freed;
};

struct Registration {
  int id;
  PDNS_SERVICE_REGISTER_REQUEST request;  // the caller's, read again at each completion
  DNS_SERVICE_REGISTER_REQUEST asked;     // what it held when it was registered
  PDNS_SERVICE_INSTANCE service;          // our own copy of what was registered
  std::wstring name;                      // as registered: renamed on a conflict
  State state;
  bool deregistered;  // DeRegister was called (the registration may still be completing)
};

struct Job {
  ULONGLONG due;
  size_t registration;
  bool deregistration;
};

struct Standin {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;
  std::vector<Handed> handed;
  std::vector<Registration> registrations;
  std::vector<Job> jobs;
  HANDLE worker = nullptr;
};

// Never destroyed: the worker thread may still run while the process exits.
Standin& S() {
  static Standin* standin = new Standin;
  return *standin;
}

// Both under the lock.
int Hand(PDNS_SERVICE_INSTANCE instance) {
  int id = static_cast<int>(S().handed.size()) + 1;
  S().handed.push_back({instance, id, false});
  return id;
}

Handed* Find(const DNS_SERVICE_INSTANCE* instance) {
  for (Handed& h : S().handed) {
    if (h.pointer == instance) return &h;
  }
  return nullptr;
}

bool InUse(State state) {
  return state == State::Registering || state == State::Registered || state == State::Deregistering;
}

void Complete(const Job& job) {
  Standin& s = S();
  AcquireSRWLockExclusive(&s.lock);
  Registration& r = s.registrations[job.registration];
  bool changed = std::memcmp(r.request, &r.asked, sizeof r.asked) != 0;
  DWORD status = ERROR_SUCCESS;
  if (!job.deregistration) {
    std::wstring conflict = Env(L"DNSSD_STANDIN_CONFLICT");
    if (conflict == L"rename") {
      size_t dot = r.name.find(L"._");
      r.name.insert(dot == std::wstring::npos ? r.name.size() : dot, L" (2)");
    } else if (conflict == L"error") {
      status = static_cast<DWORD>(DNS_ERROR_RCODE_YXDOMAIN);
    }
    if (r.state == State::Registering) r.state = status == ERROR_SUCCESS ? State::Registered : State::Failed;
  } else {
    r.state = State::Deregistered;
  }
  // Documented: a copy of what was registered, for the caller to free.
  PDNS_SERVICE_INSTANCE copy = CopyInstance(*r.service, r.name.c_str());
  int copyId = Hand(copy);
  int id = r.id;
  std::string name = Utf8(r.name.c_str());
  PDNS_SERVICE_REGISTER_COMPLETE callback = r.asked.pRegisterCompletionCallback;
  PVOID context = r.asked.pQueryContext;
  ReleaseSRWLockExclusive(&s.lock);

  const char* what = job.deregistration ? "DeRegister" : "Register";
  if (changed) Log("misuse: the request of R%d changed before its %s completed", id, what);
  Log("%s R%d completes status=%lu name=%s -> #%d", what, id, status, name.c_str(), copyId);
  callback(status, context, copy);
  Log("%s R%d callback returned", what, id);
}

DWORD WINAPI Worker(void*) {
  Standin& s = S();
  for (;;) {
    AcquireSRWLockExclusive(&s.lock);
    while (s.jobs.empty()) SleepConditionVariableSRW(&s.wake, &s.lock, INFINITE, 0);
    Job job = s.jobs.front();
    ULONGLONG now = GetTickCount64();
    if (now < job.due) {
      SleepConditionVariableSRW(&s.wake, &s.lock, static_cast<DWORD>(job.due - now), 0);
      ReleaseSRWLockExclusive(&s.lock);
      continue;
    }
    s.jobs.erase(s.jobs.begin());
    ReleaseSRWLockExclusive(&s.lock);
    Complete(job);
  }
}

// Under the lock. Jobs complete in the order they were asked for.
void Queue(size_t registration, bool deregistration) {
  Standin& s = S();
  ULONGLONG due = GetTickCount64() + kCompletionMs;
  if (!s.jobs.empty() && s.jobs.back().due > due) due = s.jobs.back().due;
  s.jobs.push_back({due, registration, deregistration});
  if (!s.worker) s.worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
  WakeConditionVariable(&s.wake);
}

Registration* FindRegistration(const DNS_SERVICE_REGISTER_REQUEST* request, size_t* index) {
  std::vector<Registration>& all = S().registrations;
  for (size_t i = all.size(); i-- > 0;) {
    if (all[i].request == request) {
      *index = i;
      return &all[i];
    }
  }
  return nullptr;
}

void Unloading() {
  Standin& s = S();
  // The worker may have died holding the lock (the process is ending).
  if (!TryAcquireSRWLockExclusive(&s.lock)) {
    Log("unload: busy");
    return;
  }
  std::string left;
  for (const Handed& h : s.handed) {
    if (!h.freed) left += " #" + std::to_string(h.id);
  }
  std::string pending;
  for (const Registration& r : s.registrations) {
    if (r.state == State::Registering || r.state == State::Deregistering) {
      pending += " R" + std::to_string(r.id) + "(" + StateName(r.state) + ")";
    }
  }
  ReleaseSRWLockExclusive(&s.lock);
  Log("unload: not freed:%s pending:%s", left.empty() ? " none" : left.c_str(),
      pending.empty() ? " none" : pending.c_str());
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    wchar_t program[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    Log("load %s", Utf8(program).c_str());
  } else if (reason == DLL_PROCESS_DETACH) {
    Unloading();
  }
  return TRUE;
}

PDNS_SERVICE_INSTANCE WINAPI DnsServiceConstructInstance(PCWSTR serviceName, PCWSTR hostName, PIP4_ADDRESS ip4,
                                                         PIP6_ADDRESS ip6, WORD port, WORD priority, WORD weight,
                                                         DWORD count, PCWSTR* keys, PCWSTR* values) {
  PDNS_SERVICE_INSTANCE instance = nullptr;
  bool propertiesGiven = count == 0 || (keys && values);
  for (DWORD i = 0; propertiesGiven && i < count; ++i) propertiesGiven = keys[i] && values[i];
  int id = 0;
  if (serviceName && propertiesGiven) {
    instance = NewInstance(serviceName, hostName, ip4, ip6, port, priority, weight, count, keys, values);
    AcquireSRWLockExclusive(&S().lock);
    id = Hand(instance);
    ReleaseSRWLockExclusive(&S().lock);
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
  }
  if (instance) {
    Log("DnsServiceConstructInstance %s -> #%d", Describe(*instance).c_str(), id);
  } else {
    Log("DnsServiceConstructInstance name=%s -> null", Utf8(serviceName).c_str());
  }
  return instance;
}

DWORD WINAPI DnsServiceRegister(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
  Standin& s = S();
  AcquireSRWLockExclusive(&s.lock);
  DWORD result = kRequestPending;
  int id = 0;
  const Handed* instance = request ? Find(request->pServiceInstance) : nullptr;
  size_t existing = 0;
  const Registration* again = request ? FindRegistration(request, &existing) : nullptr;
  bool freedInstance = instance && instance->freed;
  if (!request || request->Version != DNS_QUERY_REQUEST_VERSION1 || !instance || instance->freed ||
      !request->pRegisterCompletionCallback || (again && InUse(again->state))) {
    result = ERROR_INVALID_PARAMETER;
  } else {
    Registration r{};
    r.id = static_cast<int>(s.registrations.size()) + 1;
    r.request = request;
    r.asked = *request;
    r.service = CopyInstance(*request->pServiceInstance, request->pServiceInstance->pszInstanceName);
    r.service->dwInterfaceIndex = request->InterfaceIndex;
    r.name = request->pServiceInstance->pszInstanceName;
    r.state = State::Registering;
    id = r.id;
    s.registrations.push_back(std::move(r));
    if (cancel) cancel->reserved = request;
    Queue(s.registrations.size() - 1, false);
  }
  int instanceId = instance ? instance->id : 0;
  ReleaseSRWLockExclusive(&s.lock);
  if (freedInstance) Log("misuse: DnsServiceRegister with #%d, already freed", instanceId);
  if (request) {
    Log("DnsServiceRegister R%d version=%lu interface=%lu instance=#%d callback=%s context=%s unicast=%d cancel=%s "
        "-> %lu",
        id, request->Version, request->InterfaceIndex, instanceId,
        request->pRegisterCompletionCallback ? "set" : "null", request->pQueryContext ? "set" : "null",
        request->unicastEnabled ? 1 : 0, cancel ? "set" : "null", result);
  } else {
    Log("DnsServiceRegister request=null -> %lu", result);
  }
  return result;
}

DWORD WINAPI DnsServiceDeRegister(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
  Standin& s = S();
  AcquireSRWLockExclusive(&s.lock);
  DWORD result = kRequestPending;
  size_t index = 0;
  Registration* r = request ? FindRegistration(request, &index) : nullptr;
  bool changed = r && std::memcmp(request, &r->asked, sizeof r->asked) != 0;
  int id = r ? r->id : 0;
  const char* state = r ? StateName(r->state) : "unknown";
  if (!request || cancel) {
    result = ERROR_INVALID_PARAMETER;
  } else if (!r || r->deregistered || (r->state != State::Registering && r->state != State::Registered)) {
    // Never registered, failed, or withdrawn already.
    result = ERROR_NOT_FOUND;
  } else {
    r->deregistered = true;
    r->state = State::Deregistering;
    if (Env(L"DNSSD_STANDIN_DEREGISTER") != L"never") Queue(index, true);
  }
  ReleaseSRWLockExclusive(&s.lock);
  if (changed) Log("misuse: DnsServiceDeRegister with a request that is not the one R%d registered with", id);
  Log("DnsServiceDeRegister R%d (%s) cancel=%s -> %lu", id, state, cancel ? "set" : "null", result);
  return result;
}

VOID WINAPI DnsServiceFreeInstance(PDNS_SERVICE_INSTANCE instance) {
  Standin& s = S();
  AcquireSRWLockExclusive(&s.lock);
  Handed* h = Find(instance);
  int id = h ? h->id : 0;
  bool twice = h && h->freed;
  int user = 0;
  const char* userState = "";
  for (const Registration& r : s.registrations) {
    if (h && r.asked.pServiceInstance == instance && InUse(r.state)) {
      user = r.id;
      userState = StateName(r.state);
    }
  }
  if (h && !h->freed) {
    h->freed = true;
    std::memset(instance, kPoison, sizeof *instance);
  }
  ReleaseSRWLockExclusive(&s.lock);
  if (!instance) return;
  if (!h) {
    Log("misuse: DnsServiceFreeInstance of a pointer this library never handed out");
    return;
  }
  if (twice) Log("misuse: #%d freed twice", id);
  if (user) Log("misuse: #%d freed while R%d still uses it (%s)", id, user, userState);
  Log("DnsServiceFreeInstance #%d", id);
}

// iphlpapi's GetAdaptersAddresses asks this of the process's dnsapi (the DNS
// suffix of each adapter): the stand-in has no resolver settings to give.
DNS_STATUS WINAPI DnsQueryConfig(DNS_CONFIG_TYPE config, DWORD, PWSTR, PVOID, PVOID, PDWORD) {
  Log("DnsQueryConfig type=%d -> %lu", static_cast<int>(config), static_cast<unsigned long>(ERROR_NOT_SUPPORTED));
  return ERROR_NOT_SUPPORTED;
}

}  // extern "C"
