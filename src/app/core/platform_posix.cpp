#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>

#include "platform.h"

namespace {

std::string NarrowPath(const std::wstring& path) {
  std::string out;
  for (wchar_t wc : path) {
    auto c = static_cast<uint32_t>(wc);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace

int64_t MicrosecondsNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

TimeOfDay LocalTimeOfDay() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000)};
}

bool RandomBytes(void* out, size_t count) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::ifstream in("/dev/urandom", std::ios::binary);
    if (in.read(static_cast<char*>(out), static_cast<std::streamsize>(count))) return true;
  }
  return false;
}

bool RoamingAppDataFolder(std::wstring* folder) {
  const char* home = std::getenv("ORVANE_APPDATA");
  if (!home) home = std::getenv("HOME");
  if (!home) return false;
  folder->clear();
  for (const char* p = home; *p; ++p) folder->push_back(static_cast<unsigned char>(*p));
  return true;
}

void CreateFolder(const std::wstring& folder) { (void)mkdir(NarrowPath(folder).c_str(), 0700); }

bool ReadWholeFile(const std::wstring& path, std::string* bytes, size_t maxBytes) {
  bytes->clear();
  std::ifstream in(NarrowPath(path), std::ios::binary);
  if (!in) return false;
  char buffer[4096];
  while (bytes->size() < maxBytes) {
    in.read(buffer, static_cast<std::streamsize>(std::min(sizeof buffer, maxBytes - bytes->size())));
    if (in.gcount() <= 0) break;
    bytes->append(buffer, static_cast<size_t>(in.gcount()));
  }
  return true;
}

bool ReplaceFileContents(const std::wstring& path, std::string_view bytes) {
  std::string target = NarrowPath(path);
  std::string temp = target + ".tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size() && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

std::FILE* OpenTextFileForWriting(const std::wstring& path) {
  return std::fopen(NarrowPath(path).c_str(), "w");
}
