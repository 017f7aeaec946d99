#pragma once
// The one IPv4 address the PC announces in its pairing address.
#include <string>
#include <vector>

struct AdapterInfo {
  bool up = false;
  bool loopback = false;
  std::wstring friendlyName;
  std::wstring description;
  bool hasGateway = false;
  std::vector<std::string> ipv4;  // dotted text, in the adapter's order
};

// The first address of an adapter with a gateway that is not virtual; else
// the first other usable one; else "127.0.0.1". Link-local addresses never
// count.
std::string ChooseAddress(const std::vector<AdapterInfo>& adapters);
bool IsVirtualAdapter(const AdapterInfo& adapter);
