#pragma once
// The H.264 clips tools/make-clips wrote, split into the access units the
// phone sends one per Video frame.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "annexb.h"

struct Clip {
  std::vector<uint8_t> bytes;
  std::vector<AccessUnit> units;
};

// ctest passes the clips' Linux folder; Wine sees it on drive Z:.
inline Clip LoadClip(const char* name) {
  const char* folder = std::getenv("ORVANE_CLIPS");
  std::string path = std::string("Z:") + (folder ? folder : "/work/main/build/clips") + "/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::ifstream in(path, std::ios::binary);
  Clip clip;
  clip.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  clip.units = SplitAccessUnits(clip.bytes.data(), clip.bytes.size());
  return clip;
}
