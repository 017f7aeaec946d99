#pragma once
// What both ends of the camera block check on Windows.
#include <windows.h>

#include "camera_block.h"

// A mapping made by something else under the block's name may not be a
// usable block: every page of the view must be committed and writable.
// (A shorter section cannot be mapped at the block's length at all, but a
// section of the right size whose pages are only reserved maps fine and
// faults at the first write, which in the camera's case would take the
// Frame Server, and with it every camera of the PC, down.)
inline bool WholeBlockUsable(const void* view) {
  if (!view) return false;
  const auto* at = static_cast<const uint8_t*>(view);
  const uint8_t* end = at + kBlockSize;
  constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(at, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) || !(info.Protect & kWritable) || info.RegionSize == 0) {
      return false;
    }
    at = static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}
