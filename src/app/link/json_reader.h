#pragma once
// The phone's JSON messages are read by key search over the raw text, not
// by a tree parser: a key is found at any depth, the first match wins.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Index of the value of "key" (after the colon and white space).
std::optional<size_t> JsonFind(std::string_view text, std::string_view key);
bool JsonBool(std::string_view text, std::string_view key, bool* out);
bool JsonNumber(std::string_view text, std::string_view key, double* out);
bool JsonString(std::string_view text, std::string_view key, std::string* out);
// The object or array value of key, brackets included, and the text with
// the key, its colon and its value taken out.
bool JsonCut(std::string_view text, std::string_view key, std::string* object, std::string* rest);
// The frame rates offered per resolution ("720p", "1080p", "4K") inside the
// "caps" object: bit 0 for 30 fps, bit 1 for 60 fps.
bool ReadCapsBits(std::string_view text, uint8_t out[3]);

// Escapes '"' and '\\' with a backslash and bytes below 0x20 as \u00xx.
std::string JsonEscape(std::string_view text);
