#pragma once
// The installer's inbound firewall rule for the program: the private
// network profile, TCP on the program's ports, nothing wider.
#include <windows.h>
#include <netfw.h>

#include <string>

inline constexpr wchar_t kFirewallRuleName[] = L"Orvane para PC";
inline constexpr wchar_t kFirewallRuleDescription[] =
    L"Deja que el iPhone le mande el video a Orvane (solo en red privada).";
inline constexpr wchar_t kFirewallRulePorts[] = L"47800-47809";

// Removes the rule of that name from the system's policy and, when `add`,
// adds it again for the program.
HRESULT FirewallRule(bool add, const std::wstring& programPath);

// The same on a given rule collection: `rule` (a new, empty rule) is filled
// and added; null only removes. A rule with any setting that did not take
// is not added, and the failure is returned.
HRESULT ReplaceFirewallRule(INetFwRules* rules, INetFwRule* rule, const std::wstring& programPath);
