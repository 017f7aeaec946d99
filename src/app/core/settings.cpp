#include "settings.h"

#include <cmath>

#include "log.h"
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
  bool newId = false, noId = false;
  {
    std::lock_guard lock(mutex_);
    folder_ = folder;
    path_ = folder + kPathSeparator + (testMode ? L"orvane-prueba.ini" : L"orvane.ini");
    // A few KiB hold 20 phones; a huge or broken file is read only this far.
    std::string bytes;
    if (ReadWholeFile(path_, &bytes, kMaxSettingsFileBytes + 1)) {
      if (bytes.size() > kMaxSettingsFileBytes) {
        bytes.resize(kMaxSettingsFileBytes);
        bytes.resize(bytes.rfind('\n') + 1);  // without the line cut in two
      }
      ReadSettingsText(bytes, &values_);
    }
    if (values_.id.size() != kIdLength) {
      uint8_t random[16] = {};
      newId = random_(random, sizeof random);
      // A fixed id would be the same on every PC; the next start tries again.
      if (newId) values_.id = UuidV4Text(random);
      noId = !newId;
    }
  }
  if (noId) LogLine("No se pudo generar el id de esta PC: se intenta al próximo inicio");
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
  if (!random_(random, sizeof random)) return std::string();
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
