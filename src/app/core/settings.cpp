#include "settings.h"

#include <cmath>

#include "platform.h"

Settings g_settings;

bool Settings::Load(bool testMode) {
  std::wstring roaming;
  if (!RoamingAppDataFolder(&roaming)) return false;
  LoadFromFolder(roaming + kPathSeparator + L"Orvane", testMode);
  return true;
}

void Settings::LoadFromFolder(const std::wstring& folder, bool testMode) {
  CreateFolder(folder);
  bool newId = false;
  {
    std::lock_guard lock(mutex_);
    folder_ = folder;
    path_ = folder + kPathSeparator + (testMode ? L"orvane-prueba.ini" : L"orvane.ini");
    std::string bytes;
    if (ReadWholeFile(path_, &bytes)) ReadSettingsText(bytes, &values_);
    if (values_.id.size() != kIdLength) {
      uint8_t random[16] = {};
      (void)RandomBytes(random, sizeof random);
      values_.id = UuidV4Text(random);
      newId = true;
    }
  }
  // The new id goes to disk at once, with everything else that was read.
  if (newId) (void)Save();
}

bool Settings::Save() {
  std::lock_guard lock(mutex_);
  if (path_.empty()) return false;
  return ReplaceFileContents(path_, WriteSettingsText(values_));
}

std::string Settings::AddLinkedPhone(std::string_view name) {
  uint8_t random[32] = {};
  (void)RandomBytes(random, sizeof random);
  std::string token = TokenText(random);
  {
    std::lock_guard lock(mutex_);
    values_.phones.push_back({token, CleanPhoneName(name)});
    if (values_.phones.size() > kMaxLinkedPhones) values_.phones.erase(values_.phones.begin());
  }
  (void)Save();
  return token;
}

bool Settings::FindLinkedPhone(std::string_view token, std::string* name) {
  if (token.size() != kTokenLength) return false;
  std::lock_guard lock(mutex_);
  for (const LinkedPhone& phone : values_.phones) {
    if (TokensMatch(phone.token, token)) {
      if (name) *name = phone.name;
      return true;
    }
  }
  return false;
}

void Settings::SetQuality(std::string_view quality) {
  {
    std::lock_guard lock(mutex_);
    if (values_.quality == quality) return;
    values_.quality = quality;
  }
  (void)Save();
}

void Settings::SetBlur(float blur) {
  {
    std::lock_guard lock(mutex_);
    if (!std::isnan(blur) && !std::isnan(values_.blur) && blur == values_.blur) return;
    values_.blur = blur;
  }
  (void)Save();
}

std::string Settings::Id() {
  std::lock_guard lock(mutex_);
  return values_.id;
}

std::string Settings::Quality() {
  std::lock_guard lock(mutex_);
  return values_.quality;
}

float Settings::Blur() {
  std::lock_guard lock(mutex_);
  return values_.blur;
}

std::vector<LinkedPhone> Settings::Phones() {
  std::lock_guard lock(mutex_);
  return values_.phones;
}

std::wstring Settings::Path() {
  std::lock_guard lock(mutex_);
  return path_;
}
