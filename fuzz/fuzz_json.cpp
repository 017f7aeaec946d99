// Arbitrary text through every JSON reader function, with keys taken from
// the input's first bytes so that key and text vary together.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/link/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t split = all.find('\n');
  std::string_view key = split == std::string_view::npos ? std::string_view("caps") : all.substr(0, split);
  std::string_view text = split == std::string_view::npos ? all : all.substr(split + 1);

  if (auto at = JsonFind(text, key); at && *at > text.size()) __builtin_trap();
  bool b;
  (void)JsonBool(text, key, &b);
  double d;
  (void)JsonNumber(text, key, &d);
  std::string s;
  if (JsonString(text, key, &s) && s.size() > text.size() * 3) __builtin_trap();
  std::string object, rest;
  if (JsonCut(text, key, &object, &rest)) {
    if (object.size() + rest.size() > text.size()) __builtin_trap();
    if (object.empty() || (object.front() != '{' && object.front() != '[')) __builtin_trap();
  }
  uint8_t rates[3];
  if (ReadCapsBits(text, rates) && ((rates[0] | rates[1] | rates[2]) & ~3)) __builtin_trap();
  std::string escaped = JsonEscape(text);
  for (char c : escaped) {
    if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();
  }
  // What the writer escapes, the reader reads back unchanged.
  std::string wrapped = "{\"k\":\"" + escaped + "\"}";
  std::string back;
  if (!JsonString(wrapped, "k", &back)) __builtin_trap();
  if (text.find('\0') == std::string_view::npos && back.size() == text.size() && back != text) __builtin_trap();
  return 0;
}
