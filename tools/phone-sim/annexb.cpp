#include "annexb.h"

namespace {

struct Nal {
  size_t start;    // first byte of the start code
  size_t payload;  // first byte after the start code
};

std::vector<Nal> FindNals(const uint8_t* d, size_t n) {
  std::vector<Nal> nals;
  size_t i = 0;
  while (i + 3 <= n) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
      size_t start = (i > 0 && d[i - 1] == 0) ? i - 1 : i;
      nals.push_back({start, i + 3});
      i += 3;
    } else {
      ++i;
    }
  }
  return nals;
}

bool IsVcl(int type) { return type == 1 || type == 5; }

// A slice whose first_mb_in_slice is 0 (its ue(v) code starts with a 1 bit)
// begins a new picture.
bool FirstSliceOfPicture(const uint8_t* d, size_t n, size_t payload) {
  return payload + 1 < n && (d[payload + 1] & 0x80) != 0;
}

}  // namespace

std::vector<AccessUnit> SplitAccessUnits(const uint8_t* data, size_t size) {
  std::vector<AccessUnit> units;
  std::vector<Nal> nals = FindNals(data, size);
  bool open = false;          // an access unit is being collected
  bool sawVcl = false;        // it already holds a slice
  AccessUnit current;
  auto close = [&](size_t end) {
    if (open && sawVcl) {
      current.size = end - current.offset;
      units.push_back(current);
    }
    open = false;
    sawVcl = false;
  };
  for (size_t k = 0; k < nals.size(); ++k) {
    size_t p = nals[k].payload;
    if (p >= size) break;
    int type = data[p] & 0x1F;
    // AUD, SPS, PPS, SEI and the first slice of a picture start a new
    // unit once the current one has its slices.
    bool starts = type == 9 || type == 7 || type == 8 || type == 6 ||
                  (IsVcl(type) && FirstSliceOfPicture(data, size, p));
    if (starts && sawVcl) close(nals[k].start);
    if (!open) {
      open = true;
      current = AccessUnit{nals[k].start, 0, false};
    }
    if (IsVcl(type)) sawVcl = true;
    if (type == 5) current.keyframe = true;
  }
  close(size);
  return units;
}
