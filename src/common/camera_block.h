#pragma once
// The shared memory through which the program hands pictures to the camera
// DLL: the layout, the names and both sides' protocol. The two processes
// share no lock; two slots, the order of the writer's stores and the
// reader's counter check around its copy keep every picture whole.
//
// Every field written by the other process is untrusted: sizes are checked
// and slot indexes masked before they are used for a copy.
#include <atomic>
#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kBlockMagic = 0x314D424F;  // "OBM1"
inline constexpr uint32_t kBlockVersion = 1;
inline constexpr size_t kBlockHeaderSize = 4096;
inline constexpr size_t kSlotSize = 3840 * 2160 * 3 / 2;  // one 4K NV12 picture
inline constexpr size_t kBlockSize = kBlockHeaderSize + 2 * kSlotSize;
static_assert(kBlockSize == 24887296);

inline constexpr uint32_t kMinSide = 16;
inline constexpr uint32_t kMaxWidth = 3840;
inline constexpr uint32_t kMaxHeight = 2160;
inline constexpr uint64_t kReaderAliveMs = 2000;  // heartbeat younger than this: somebody watches
inline constexpr uint64_t kPictureFreshMs = 3000; // older pictures turn the camera black

inline constexpr wchar_t kBlockNameGlobal[] = L"Global\\OrvaneCamMemoria";
inline constexpr wchar_t kBlockNameLocal[] = L"Local\\OrvaneCamMemoria";
inline constexpr wchar_t kEventNameGlobal[] = L"Global\\OrvaneCamCuadro";
inline constexpr wchar_t kEventNameLocal[] = L"Local\\OrvaneCamCuadro";
// SYSTEM, LocalService, Administrators, interactive users and S-1-5-19: the
// Frame Server runs as a service, the program as the user.
inline constexpr wchar_t kBlockSddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;LS)(A;;GA;;;BA)(A;;GA;;;IU)(A;;GA;;;S-1-5-19)";

struct CameraBlockHeader {
  uint32_t magic;
  uint32_t version;
  uint64_t readerHeartbeat;  // reader: tick at start and every sample, 0 when stopped
  uint32_t requestedWidth;   // reader: the size and rate the camera delivers
  uint32_t requestedHeight;
  uint32_t requestedFps;
  uint32_t reserved;
  uint64_t lastWriteTick;  // writer: tick of the last picture, kept fresh while connected
  uint32_t latestSlot;
  uint32_t frameCounter;
  uint32_t slotWidth[2];
  uint32_t slotHeight[2];
  uint32_t paused;
};
static_assert(offsetof(CameraBlockHeader, readerHeartbeat) == 8);
static_assert(offsetof(CameraBlockHeader, requestedWidth) == 16);
static_assert(offsetof(CameraBlockHeader, lastWriteTick) == 32);
static_assert(offsetof(CameraBlockHeader, latestSlot) == 40);
static_assert(offsetof(CameraBlockHeader, frameCounter) == 44);
static_assert(offsetof(CameraBlockHeader, slotWidth) == 48);
static_assert(offsetof(CameraBlockHeader, slotHeight) == 56);
static_assert(offsetof(CameraBlockHeader, paused) == 64);

// Fields of the mapped header are only ever touched through these.
template <typename T>
T Peek(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}
template <typename T>
void Poke(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

inline CameraBlockHeader* HeaderOf(uint8_t* block) { return reinterpret_cast<CameraBlockHeader*>(block); }
inline uint8_t* SlotOf(uint8_t* block, uint32_t slot) { return block + kBlockHeaderSize + (slot & 1) * kSlotSize; }

inline bool PictureSizeValid(uint32_t width, uint32_t height) {
  return width >= kMinSide && width <= kMaxWidth && height >= kMinSide && height <= kMaxHeight;
}

// ---- Writer (the program) ----

// Somebody pulls samples: the magic is there and the heartbeat is recent.
bool ReaderAlive(const CameraBlockHeader& header, uint64_t nowMs);

struct CameraSize {
  uint32_t width = 0, height = 0;  // 0x0: publish nothing
};
// The camera's requested size when it is a valid one, else the picture's
// own display size; rounded down to even numbers.
CameraSize CameraTargetSize(const CameraBlockHeader& header, uint32_t displayWidth, uint32_t displayHeight);

// The slot a new picture goes into: never the published one.
inline uint32_t FreeSlot(const CameraBlockHeader& header) { return (Peek(header.latestSlot) ^ 1) & 1; }

// Makes the picture just written into `slot` the newest one. The sizes are
// stored before the slot index and the counter, so a reader that sees the
// new counter also sees the sizes that go with it.
void PublishSlot(CameraBlockHeader* header, uint32_t slot, uint32_t width, uint32_t height, uint64_t nowMs);

// Once a second: the paused flag, and the picture's freshness. While a phone
// is connected the last picture stays on, however old; without one the
// camera turns black at its next sample.
void RefreshLinkState(CameraBlockHeader* header, bool connected, bool paused, uint64_t nowMs);

// ---- Reader (the camera DLL) ----

struct ReaderState {
  uint32_t lastSeenCounter = 0;
  bool hasFrame = false;           // a picture is on, and fresh
  uint32_t width = 0, height = 0;  // of that picture
};

struct Nv12Destination {
  uint8_t* data;  // first Y row; the CbCr rows follow the height Y rows
  uint32_t pitch;
  uint32_t width, height;  // even
};

// The block holds a fresh picture of a valid size that `state` has not shown
// yet: a waiting request can be answered with something new.
bool NewPictureWaiting(const uint8_t* block, const ReaderState& state, uint64_t nowMs);

// One sample: writes the heartbeat and the requested size into the block
// (block may be null: no block, black picture) and fills the destination
// with the newest picture, straight from its slot, scaled by nearest
// neighbour when its size differs; black when there is none or it is old.
//
// The writer fills the slot that is not published, publishes it, and may
// then at once start on the other: a copy during which the counter moved
// may be torn, and is made again from the newest slot.
void FillFrameFrom(uint8_t* block, ReaderState* state, const Nv12Destination& out, uint32_t fps, uint64_t nowMs);
