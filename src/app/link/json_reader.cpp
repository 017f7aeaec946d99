#include "json_reader.h"

#include <cstdio>

#include "../core/numbers.h"

namespace {

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

size_t SkipSpace(std::string_view text, size_t i) {
  while (i < text.size() && IsJsonSpace(text[i])) ++i;
  return i;
}

// Index of the opening quote of the key and of its value, from `from` on.
bool FindKey(std::string_view text, std::string_view key, size_t from, size_t* keyStart, size_t* value) {
  std::string quoted = "\"" + std::string(key) + "\"";
  size_t at = from;
  while (true) {
    size_t hit = text.find(quoted, at);
    if (hit == std::string_view::npos) return false;
    size_t i = SkipSpace(text, hit + quoted.size());
    if (i < text.size() && text[i] == ':') {
      *keyStart = hit;
      *value = SkipSpace(text, i + 1);
      return true;
    }
    at = i;
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string* out, unsigned code) {
  if (code <= 0x7F) {
    out->push_back(static_cast<char>(code));
  } else if (code <= 0x7FF) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::optional<size_t> JsonFind(std::string_view text, std::string_view key) {
  size_t keyStart = 0, value = 0;
  if (!FindKey(text, key, 0, &keyStart, &value)) return std::nullopt;
  return value;
}

bool JsonBool(std::string_view text, std::string_view key, bool* out) {
  auto at = JsonFind(text, key);
  if (!at) return false;
  std::string_view v = text.substr(*at);
  if (v.substr(0, 4) == "true") {
    *out = true;
    return true;
  }
  if (v.substr(0, 5) == "false") {
    *out = false;
    return true;
  }
  return false;
}

bool JsonNumber(std::string_view text, std::string_view key, double* out) {
  auto at = JsonFind(text, key);
  if (!at) return false;
  size_t consumed = 0;
  double value = ParseDoublePrefix(text.substr(*at), &consumed);
  if (consumed == 0) return false;
  *out = value;
  return true;
}

bool JsonString(std::string_view text, std::string_view key, std::string* out) {
  auto at = JsonFind(text, key);
  if (!at || *at >= text.size() || text[*at] != '"') return false;
  std::string value;
  for (size_t i = *at + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      *out = std::move(value);
      return true;
    }
    if (c != '\\') {
      value.push_back(c);
      continue;
    }
    if (++i >= text.size()) break;
    switch (char e = text[i]) {
      case 'b': value.push_back('\b'); break;
      case 'f': value.push_back('\f'); break;
      case 'n': value.push_back('\n'); break;
      case 'r': value.push_back('\r'); break;
      case 't': value.push_back('\t'); break;
      case 'u': {
        if (i + 4 >= text.size()) break;  // dropped; what follows is copied as it is
        unsigned code = 0;
        for (size_t k = 1; k <= 4; ++k) {
          int d = HexDigit(text[i + k]);
          if (d < 0) break;
          code = code * 16 + static_cast<unsigned>(d);
        }
        AppendUtf8(&value, code);
        i += 4;
        break;
      }
      default: value.push_back(e); break;
    }
  }
  return false;
}

bool JsonCut(std::string_view text, std::string_view key, std::string* object, std::string* rest) {
  size_t from = 0, keyStart = 0, value = 0;
  while (FindKey(text, key, from, &keyStart, &value)) {
    if (value >= text.size() || (text[value] != '{' && text[value] != '[')) {
      from = value;
      continue;
    }
    int depth = 0;
    bool inString = false;
    for (size_t i = value; i < text.size(); ++i) {
      char c = text[i];
      if (inString) {
        if (c == '\\') ++i;
        else if (c == '"') inString = false;
        continue;
      }
      if (c == '"') {
        inString = true;
      } else if (c == '{' || c == '[') {
        ++depth;
      } else if ((c == '}' || c == ']') && --depth == 0) {
        *object = std::string(text.substr(value, i + 1 - value));
        *rest = std::string(text.substr(0, keyStart)) + std::string(text.substr(i + 1));
        return true;
      }
    }
    return false;
  }
  return false;
}

bool ReadCapsBits(std::string_view text, uint8_t out[3]) {
  out[0] = out[1] = out[2] = 0;
  if (text.size() < 6) return false;
  size_t caps = text.find("\"caps\"");
  if (caps == std::string_view::npos) return false;
  size_t open = text.find('{', caps);
  if (open == std::string_view::npos) return false;
  size_t close = text.find('}', open);
  if (close == std::string_view::npos) return false;
  std::string_view body = text.substr(open, close + 1 - open);

  static const char* const kNames[3] = {"\"720p\"", "\"1080p\"", "\"4K\""};
  for (int r = 0; r < 3; ++r) {
    size_t name = body.find(kNames[r]);
    if (name == std::string_view::npos) continue;
    size_t from = body.find('[', name);
    if (from == std::string_view::npos) continue;
    size_t to = body.find(']', from);
    if (to == std::string_view::npos) continue;
    std::string_view list = body.substr(from + 1, to - from - 1);
    while (!list.empty()) {
      size_t consumed = 0;
      long long rate = ParseIntPrefix(list, &consumed);
      if (consumed == 0) {
        list.remove_prefix(1);
        continue;
      }
      list.remove_prefix(consumed);
      if (rate == 30) out[r] |= 1;
      if (rate == 60) out[r] |= 2;
    }
  }
  return true;
}

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (b < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}
