#include "camera_feed.h"

#include "../../common/camera_block_win.h"
#include "../core/log.h"
#include "video_pipeline.h"

bool CameraFeed::OpenBlock() {
  if (view_) return true;
  std::lock_guard lock(openLock_);
  if (view_) return true;
  uint64_t now = GetTickCount64();
  if (now - lastAttemptMs_ <= 999) return false;
  lastAttemptMs_ = now;

  bool local = false;
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kBlockNameGlobal);
  if (!mapping) {
    mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kBlockNameLocal);
    local = mapping != nullptr;
  }
  if (!mapping) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kBlockSize);
  if (view && !WholeBlockUsable(view)) {
    UnmapViewOfFile(view);
    view = nullptr;
  }
  if (!view) {
    CloseHandle(mapping);
    return false;
  }
  // Without the event the reader still samples the block; it just is not woken.
  event_ = OpenEventW(EVENT_MODIFY_STATE, FALSE, local ? kEventNameLocal : kEventNameGlobal);
  mapping_ = mapping;
  view_ = static_cast<uint8_t*>(view);
  LogLine("Memoria de Orvane Cam abierta (%s)", local ? "Local, modo prueba" : "Global");
  return true;
}

bool CameraFeed::IsWatched() { return OpenBlock() && ReaderAlive(*HeaderOf(view_), GetTickCount64()); }

void CameraFeed::Publish(uint32_t slot, uint32_t width, uint32_t height) {
  std::lock_guard lock(publishLock_);
  if (stopped_) return;
  PublishSlot(HeaderOf(view_), slot, width, height, GetTickCount64());
  if (event_) SetEvent(event_);
}

void CameraFeed::SetLinkState(bool connected, bool paused) {
  if (!OpenBlock()) return;
  std::lock_guard lock(publishLock_);
  if (stopped_) return;
  RefreshLinkState(HeaderOf(view_), connected, paused, GetTickCount64());
}

void CameraFeed::StopWriting() {
  std::lock_guard lock(publishLock_);
  stopped_ = true;
  if (uint8_t* view = view_.load()) Poke(HeaderOf(view)->lastWriteTick, uint64_t{0});
}

void CameraFeed::Close() {
  StopWriting();
  std::lock_guard lock(openLock_);
  if (uint8_t* view = view_.exchange(nullptr)) {
    Poke(HeaderOf(view)->lastWriteTick, uint64_t{0});
    UnmapViewOfFile(view);
  }
  if (mapping_) CloseHandle(mapping_);
  if (event_) CloseHandle(event_);
  mapping_ = event_ = nullptr;
}

// The picture at the camera's size, converted with fit into the slot that
// is not published, then published.
bool VideoPipeline::WriteCameraFrame(const DecodedFrame& frame) {
  uint8_t* block = cameraFeed_.Block();
  if (!block) return false;
  CameraSize size = CameraTargetSize(*HeaderOf(block), displayWidth_, displayHeight_);
  if (size.width == 0) return false;
  const int w = static_cast<int>(size.width), h = static_cast<int>(size.height);
  uint32_t slot = FreeSlot(*HeaderOf(block));
  uint8_t* y = SlotOf(block, slot);
  uint8_t* uv = y + static_cast<size_t>(w) * h;

  if (frame.cpu) {
    // Straight into the slot: no staging copy on this path.
    if (!ConvertNv12(*frame.cpu, Nv12Target{y, w, uv, w, w, h}, true, mirror_, &cameraConverter_.scratch)) {
      return false;
    }
  } else {
    if (!EnsureConverter(cameraConverter_, static_cast<int>(codedWidth_), static_cast<int>(codedHeight_), w, h,
                         DXGI_FORMAT_NV12, false)) {
      return false;
    }
    D3D11_TEXTURE2D_DESC desc{};
    if (cameraStaging_) cameraStaging_->GetDesc(&desc);
    if (!cameraStaging_ || desc.Width != size.width || desc.Height != size.height) {
      cameraStaging_.Reset();
      cameraConverter_.outputTexture->GetDesc(&desc);
      desc.Usage = D3D11_USAGE_STAGING;
      desc.BindFlags = 0;
      desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
      if (FAILED(device_->CreateTexture2D(&desc, nullptr, &cameraStaging_))) return false;
    }
    if (!Convert(cameraConverter_, frame, true)) return false;
    context_->CopyResource(cameraStaging_.Get(), cameraConverter_.outputTexture.Get());
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context_->Map(cameraStaging_.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return false;
    const auto* source = static_cast<const uint8_t*>(mapped.pData);
    for (int row = 0; row < h; ++row) memcpy(y + static_cast<size_t>(row) * w, source + row * mapped.RowPitch, w);
    source += static_cast<size_t>(mapped.RowPitch) * h;
    for (int row = 0; row < h / 2; ++row) memcpy(uv + static_cast<size_t>(row) * w, source + row * mapped.RowPitch, w);
    context_->Unmap(cameraStaging_.Get(), 0);
  }
  cameraFeed_.Publish(slot, size.width, size.height);
  ++cameraFrames_;
  return true;
}
