#pragma once
// The per-user settings file: this PC's id, the last quality and blur, and
// the linked phones. One mutex guards everything; no operation calls out
// while holding it.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "settings_format.h"

class Settings {
 public:
  // Reads the file in the roaming application-data folder, making the
  // folder and a new id as needed. False when that folder is unknown.
  bool Load(bool testMode);
  // The same for a given folder (tests use their own).
  void LoadFromFolder(const std::wstring& folder, bool testMode);
  [[nodiscard]] bool Save();

  // The random source for the id and tokens (tests put a failing one here).
  using RandomSource = bool (*)(void* out, size_t count);
  void SetRandomSource(RandomSource source) { random_ = source; }

  // The new phone's token; empty, and nobody linked, when no random bytes
  // could be had.
  std::string AddLinkedPhone(std::string_view name);
  bool FindLinkedPhone(std::string_view token, std::string* name = nullptr);
  void SetQuality(std::string_view quality);
  void SetBlur(float blur);

  std::string Id();
  std::string Quality();
  float Blur();
  std::vector<LinkedPhone> Phones();
  std::wstring Path();

 private:
  std::mutex mutex_;
  SettingsValues values_;
  std::wstring folder_;
  std::wstring path_;
  RandomSource random_ = RandomBytes;
};

extern Settings g_settings;
