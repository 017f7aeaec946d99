// A client nobody here wrote: the platform's own source reader over the
// camera DLL's source. It drives the source through its asynchronous event
// model, as camera applications' pipelines do.
#include "camera_dll.h"
// After mfidl.h, which it needs.
#include <mfreadwrite.h>

namespace {

struct Read {
  LONGLONG time = 0;
  UINT32 pitch = 0;
  std::vector<uint8_t> nv12;  // packed
};

bool ReadOne(IMFSourceReader* reader, UINT32 width, UINT32 height, Read* out) {
  DWORD stream = 0, flags = 0;
  LONGLONG time = 0;
  ComPtr<IMFSample> sample;
  HRESULT hr = reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &time, &sample);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM), 0u);
  if (FAILED(hr) || !sample) return false;
  ComPtr<IMFMediaBuffer> buffer;
  ComPtr<IMF2DBuffer> buffer2d;
  BYTE* data = nullptr;
  LONG pitch = 0;
  if (FAILED(sample->GetBufferByIndex(0, &buffer)) || FAILED(buffer.As(&buffer2d)) ||
      FAILED(buffer2d->Lock2D(&data, &pitch))) {
    return false;
  }
  out->time = time;
  out->pitch = static_cast<UINT32>(pitch);
  out->nv12.resize(static_cast<size_t>(width) * height * 3 / 2);
  if (pitch >= static_cast<LONG>(width)) {
    for (UINT32 row = 0; row < height * 3 / 2; ++row) memcpy(&out->nv12[row * width], data + row * pitch, width);
  }
  buffer2d->Unlock2D();
  return pitch >= static_cast<LONG>(width);
}

TEST(CameraSourceReader, ThePlatformsReaderPullsTheChosenTypeAndThePublishedPictureUnchanged) {
  Dll dll;
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  ComPtr<IMFSourceReader> reader;
  ASSERT_EQ(MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader), S_OK);

  // The third of the six types: 1280x720 at 30.
  ComPtr<IMFMediaType> chosen;
  for (DWORD i = 0; !chosen; ++i) {
    ComPtr<IMFMediaType> type;
    ASSERT_EQ(reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, i, &type), S_OK) << i;
    UINT32 w = 0, h = 0, num = 0, den = 0;
    MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &w, &h);
    MFGetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, &num, &den);
    if (w == 1280 && h == 720 && num == 30 && den == 1) chosen = type;
  }
  ASSERT_EQ(reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, chosen.Get()), S_OK);
  ASSERT_EQ(reader->SetStreamSelection(MF_SOURCE_READER_FIRST_VIDEO_STREAM, TRUE), S_OK);
  ComPtr<IMFMediaType> current;
  ASSERT_EQ(reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &current), S_OK);
  UINT32 width = 0, height = 0;
  MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &width, &height);
  EXPECT_EQ(width, 1280u);
  EXPECT_EQ(height, 720u);

  Read first;
  ASSERT_TRUE(ReadOne(reader.Get(), 1280, 720, &first)) << "the first read starts the source";
  Writer writer;
  ASSERT_NE(writer.view, nullptr) << "the started stream made the block";
  EXPECT_EQ(HeaderOf(writer.view)->requestedWidth, 1280u);
  EXPECT_EQ(HeaderOf(writer.view)->requestedHeight, 720u);
  writer.Publish(1280, 720, 70);
  std::vector<uint8_t> published(SlotOf(writer.view, HeaderOf(writer.view)->latestSlot),
                                 SlotOf(writer.view, HeaderOf(writer.view)->latestSlot) + 1280 * 720 * 3 / 2);

  // Samples the reader asked for before the picture came may still be on their way.
  LONGLONG last = first.time;
  bool seen = false;
  for (int i = 0; i < 10 && !seen; ++i) {
    Read next;
    ASSERT_TRUE(ReadOne(reader.Get(), 1280, 720, &next));
    EXPECT_GT(next.time, last) << "time stamps rise";
    last = next.time;
    seen = next.nv12 == published;
  }
  EXPECT_TRUE(seen) << "the published picture, byte for byte";
  reader.Reset();
  source->Shutdown();
  source.Reset();
  // The reader lets go of the source and its stream on Media Foundation's
  // own threads, a moment later: the DLL is not unloaded under them.
  HRESULT unload = S_FALSE;
  for (int i = 0; i < 200 && (unload = dll.canUnloadNow()) != S_OK; ++i) Sleep(10);
  EXPECT_EQ(unload, S_OK);
}

}  // namespace
