#pragma once
// The settings file's text: reading, writing and the rules for ids, tokens
// and phone names. No locking and no file access here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct LinkedPhone {
  std::string token;
  std::string name;
};

struct SettingsValues {
  std::string id;
  std::string quality;
  float blur = 0.0f;
  std::vector<LinkedPhone> phones;
};

inline constexpr size_t kMaxLinkedPhones = 20;
inline constexpr size_t kMaxPhoneNameBytes = 128;
inline constexpr size_t kIdLength = 36;
inline constexpr size_t kTokenLength = 64;
inline constexpr size_t kMaxSettingsFileBytes = 1024 * 1024;

// Applies the file's lines on top of *values, as read in pieces of at most
// 1023 bytes. The rest of a line longer than one piece is skipped.
void ReadSettingsText(std::string_view bytes, SettingsValues* values);
std::string WriteSettingsText(const SettingsValues& values);

// The UUID text of 16 random bytes, with the version-4 bits set.
std::string UuidV4Text(const uint8_t (&bytes)[16]);
// 32 random bytes as 64 lowercase hexadecimal digits.
std::string TokenText(const uint8_t (&bytes)[32]);
// Leaves out "\n", "\r" and "|", and keeps at most 128 bytes, cut so that
// no UTF-8 character is split.
std::string CleanPhoneName(std::string_view name);
// Both must be 64 bytes; compares all of them whatever differs.
bool TokensMatch(std::string_view a, std::string_view b);
// Shortest text that reads back as the same float.
std::string BlurText(float blur);
