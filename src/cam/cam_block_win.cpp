// The reader's end of the shared block: the camera DLL creates the block
// and its event, so the program (which only opens them) finds them once a
// camera application has started the stream.
#include "../common/camera_block_win.h"
#include "cam_objects_win.h"
// After windows.h.
#include <sddl.h>

bool EnsureBlock(ReaderBlock* block) {
  if (block->view) return true;
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kBlockSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    security.lpSecurityDescriptor = descriptor;
  }
  SECURITY_ATTRIBUTES* attributes = descriptor ? &security : nullptr;
  if (!block->mapping) {
    block->mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(kBlockSize), kBlockNameGlobal);
    if (!block->mapping) block->mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kBlockNameGlobal);
    if (!block->mapping) {
      block->mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(kBlockSize), kBlockNameLocal);
      block->local = block->mapping != nullptr;
    }
  }
  if (!block->event) {
    block->event = block->local ? CreateEventW(nullptr, FALSE, FALSE, kEventNameLocal)
                                : CreateEventW(attributes, FALSE, FALSE, kEventNameGlobal);
  }
  if (descriptor) LocalFree(descriptor);
  if (!block->mapping) return false;

  void* view = MapViewOfFile(block->mapping, FILE_MAP_ALL_ACCESS, 0, 0, kBlockSize);
  if (view && !WholeBlockUsable(view)) {
    UnmapViewOfFile(view);
    view = nullptr;
  }
  if (!view) {
    CloseHandle(block->mapping);
    block->mapping = nullptr;
    return false;
  }
  block->view = static_cast<uint8_t*>(view);
  CameraBlockHeader* header = HeaderOf(block->view);
  if (Peek(header->magic) != kBlockMagic) {
    Poke(header->version, kBlockVersion);
    Poke(header->magic, kBlockMagic);
  }
  return true;
}

void CloseBlock(ReaderBlock* block) {
  if (block->view) UnmapViewOfFile(block->view);
  if (block->mapping) CloseHandle(block->mapping);
  if (block->event) CloseHandle(block->event);
  *block = ReaderBlock{};
}
