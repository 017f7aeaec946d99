#pragma once
// Splits an H.264 Annex-B byte stream into access units, the unit the
// phone sends as one Video frame.
#include <cstddef>
#include <cstdint>
#include <vector>

struct AccessUnit {
  size_t offset = 0;  // into the stream, start code included
  size_t size = 0;
  bool keyframe = false;  // holds an IDR slice
};

std::vector<AccessUnit> SplitAccessUnits(const uint8_t* data, size_t size);
