#include <windows.h>
#include <bcrypt.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>

#include "../../common/win_handles.h"
#include "platform.h"

int64_t MicrosecondsNow() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<int64_t>(static_cast<double>(now.QuadPart) * 1000000.0 / frequency);
}

TimeOfDay LocalTimeOfDay() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

bool RandomBytes(void* out, size_t count) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(count),
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return true;
    }
  }
  return false;
}

bool RoamingAppDataFolder(std::wstring* folder) {
  PWSTR path = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path))) {
    CoTaskMemFree(path);
    return false;
  }
  *folder = path;
  CoTaskMemFree(path);
  return true;
}

void CreateFolder(const std::wstring& folder) { CreateDirectoryW(folder.c_str(), nullptr); }

bool ReadWholeFile(const std::wstring& path, std::string* bytes, size_t maxBytes) {
  bytes->clear();
  FILE* file = nullptr;
  if (_wfopen_s(&file, path.c_str(), L"rb") != 0 || !file) return false;
  char buffer[4096];
  size_t n;
  while (bytes->size() < maxBytes &&
         (n = fread(buffer, 1, std::min(sizeof buffer, maxBytes - bytes->size()), file)) > 0) {
    bytes->append(buffer, n);
  }
  fclose(file);
  return true;
}

bool ReplaceFileContents(const std::wstring& path, std::string_view bytes) {
  std::wstring temp = path + L".tmp";
  bool written = false;
  {
    UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD done = 0;
    written = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
              done == bytes.size() && FlushFileBuffers(file.Get());
  }
  if (written) {
    // A virus scanner or an editor may hold the old file for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
      }
      DWORD error = GetLastError();
      if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
        break;
      }
      Sleep(25);
    }
  }
  DeleteFileW(temp.c_str());
  return false;
}

std::FILE* OpenTextFileForWriting(const std::wstring& path) {
  FILE* file = nullptr;
  if (_wfopen_s(&file, path.c_str(), L"w") != 0) return nullptr;
  return file;
}
