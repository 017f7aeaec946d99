#pragma once
// What both ends of the camera block check on Windows.
#include <windows.h>

#include "camera_block.h"

// A mapping made by something else under the block's name may be smaller
// than the block: touching it past its end would crash the process (in the
// camera's case the Frame Server, and with it every camera of the PC).
inline bool WholeBlockMapped(const void* view) {
  MEMORY_BASIC_INFORMATION info{};
  return view && VirtualQuery(view, &info, sizeof info) == sizeof info && info.RegionSize >= kBlockSize;
}
