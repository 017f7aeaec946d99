// The camera hands out each picture once, as it is published, however often
// it is asked: clients that ask again the moment a sample arrives (as the
// Frame Server and applications do) get samples at the pictures' rate, with
// the last picture again or black only when nothing new comes for about an
// interval; what waits is dropped at once by a stop or a shutdown.
#include <atomic>
#include <optional>
#include <thread>

#include "camera_dll.h"
// After mfidl.h, which it needs.
#include <mfreadwrite.h>

namespace {

constexpr LONGLONG kInterval = 333333;  // 100 ns units, at 30 fps

struct Got {
  LONGLONG time;  // the sample's own time stamp: when it was handed out
  int picture;    // the writer's number, or -1 for black
};

// Picture n is published with its luma starting at 20 + n.
int PictureOf(const uint8_t* luma) { return luma[0] == 16 ? -1 : luma[0] - 20; }

bool ReadSample(IMFSample* sample, Got* got) {
  ComPtr<IMFMediaBuffer> buffer;
  BYTE* data = nullptr;
  DWORD max = 0;
  if (FAILED(sample->GetBufferByIndex(0, &buffer)) || FAILED(buffer->Lock(&data, &max, nullptr))) return false;
  got->picture = PictureOf(data);
  buffer->Unlock();
  return SUCCEEDED(sample->GetSampleTime(&got->time));
}

// Asks again the moment each sample arrives, as the Frame Server does.
bool EagerSample(IMFMediaStream* stream, Got* got) {
  if (FAILED(stream->RequestSample(nullptr))) return false;
  for (int i = 0; i < 2000; ++i) {
    ComPtr<IMFMediaEvent> event;
    if (FAILED(stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))) {
      Sleep(1);
      continue;
    }
    if (TypeOf(event.Get()) != MEMediaSample) continue;
    ComPtr<IMFSample> sample = SampleOf(event.Get());
    return sample && ReadSample(sample.Get(), got);
  }
  return false;
}

// Publishes `count` numbered pictures, one each `period` ms by the clock (a
// late one does not bring the next ones forward).
std::thread PublishNumbered(Writer& writer, int count, int period) {
  return std::thread([&writer, count, period] {
    const ULONGLONG start = GetTickCount64();
    for (int n = 0; n < count; ++n) {
      const ULONGLONG due = start + static_cast<ULONGLONG>(n) * period;
      const ULONGLONG now = GetTickCount64();
      if (due > now) Sleep(static_cast<DWORD>(due - now));
      writer.Publish(640, 360, static_cast<uint8_t>(20 + n));
    }
  });
}

struct Tally {
  int samples = 0, repeats = 0, distinct = 0;
  LONGLONG longestGap = 0;
};

// What a client saw from the first picture on.
Tally Count(const std::vector<Got>& got) {
  Tally t;
  int last = -2;
  LONGLONG lastTime = 0;
  for (const Got& g : got) {
    if (g.picture < 0 && last == -2) continue;  // black before the first picture
    if (last != -2) t.longestGap = std::max(t.longestGap, g.time - lastTime);
    ++t.samples;
    if (g.picture == last) ++t.repeats;
    else if (g.picture >= 0) ++t.distinct;
    last = g.picture;
    lastTime = g.time;
  }
  return t;
}

class CameraPacing : public ::testing::Test {
 protected:
  void SetUp() override {
    source = NewSource(dll);
    ASSERT_TRUE(source);
    stream = StartAt(source.Get(), 640, 360);  // 30 fps
    ASSERT_TRUE(stream);
    writer.emplace();
    ASSERT_NE(writer->view, nullptr);
    ASSERT_NE(writer->event, nullptr) << "the stream made the block's event";
    writer->Disconnect();
  }
  void TearDown() override {
    if (source) source->Shutdown();
  }
  // An eager client's samples while `count` pictures are published every `period` ms.
  std::vector<Got> EagerWhilePublishing(int count, int period) {
    std::vector<Got> got;
    std::thread publisher = PublishNumbered(*writer, count, period);
    for (Got g{}; EagerSample(stream.Get(), &g);) {
      got.push_back(g);
      if (g.picture == count - 1 || got.size() > 2000) break;
    }
    publisher.join();
    return got;
  }

  Dll dll;
  ComPtr<IMFMediaSource> source;
  ComPtr<IMFMediaStream> stream;
  std::optional<Writer> writer;
};

TEST_F(CameraPacing, AnEagerClientGetsEachPictureOnceAtThePicturesRate) {
  const std::vector<Got> got = EagerWhilePublishing(45, 33);
  const Tally t = Count(got);
  // A picture late by more than half an interval may follow one repeat.
  EXPECT_GE(t.distinct, 44) << "every picture handed out";
  EXPECT_LE(t.repeats, 4) << "of " << t.samples << " samples";
  EXPECT_LE(t.samples, 50);
}

TEST_F(CameraPacing, PicturesAtHalfTheRateAllArriveAndTheStreamNeverStalls) {
  const Tally t = Count(EagerWhilePublishing(20, 67));
  EXPECT_EQ(t.distinct, 20);
  EXPECT_LE(t.longestGap, kInterval * 5 / 2);
  EXPECT_GE(t.repeats, 10) << "the last picture comes again between two new ones";
}

TEST_F(CameraPacing, WithoutAWriterBlackComesAtTheTypesRate) {
  std::vector<Got> got(31);
  for (Got& g : got) ASSERT_TRUE(EagerSample(stream.Get(), &g));
  for (const Got& g : got) EXPECT_EQ(g.picture, -1);
  // 30 intervals after the first; never faster than the type's rate.
  const LONGLONG span = got.back().time - got.front().time;
  EXPECT_GE(span, 30 * kInterval - 20 * 10000);
  LONGLONG shortest = span;
  for (size_t i = 1; i < got.size(); ++i) shortest = std::min(shortest, got[i].time - got[i - 1].time);
  EXPECT_GE(shortest, kInterval - 20000);
}

// The platform's own reader, read in a loop: it asks ahead on its own, and
// still gets each picture once.
TEST_F(CameraPacing, ThePlatformsReaderReadInALoopGetsEachPictureOnce) {
  source->Shutdown();
  source = NewSource(dll);
  ASSERT_TRUE(source);
  ComPtr<IMFSourceReader> reader;
  ASSERT_EQ(MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader), S_OK);
  ASSERT_EQ(reader->SetStreamSelection(MF_SOURCE_READER_FIRST_VIDEO_STREAM, TRUE), S_OK);
  UINT32 width = 0, height = 0;
  ComPtr<IMFMediaType> type;
  ASSERT_EQ(reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &type), S_OK);
  MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height);
  std::vector<Got> got;
  auto read = [&] {
    DWORD index = 0, flags = 0;
    LONGLONG time = 0;
    ComPtr<IMFSample> sample;
    Got g{};
    if (FAILED(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &index, &flags, &time, &sample)) ||
        !sample || !ReadSample(sample.Get(), &g)) {
      return false;
    }
    got.push_back(g);
    return true;
  };
  ASSERT_TRUE(read()) << "the first read starts the source";
  std::thread publisher = PublishNumbered(*writer, 45, 33);
  while (got.size() < 2000 && read() && got.back().picture != 44) {
  }
  publisher.join();
  const Tally t = Count(got);
  EXPECT_GE(t.distinct, 44);
  EXPECT_LE(t.repeats, 4) << "of " << t.samples << " samples";
  reader.Reset();
}

// A caller's token: how many references are held on it. Lives on the
// test's stack, never destroyed through an interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class Token final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  std::atomic<ULONG> refs{1};
};
#pragma GCC diagnostic pop

// Requests waiting for a picture are dropped at once by a stop, a shutdown
// or the last release: the stream holds nothing of them any more, and the
// DLL may be unloaded once the client lets go.
TEST_F(CameraPacing, StopShutdownAndTheLastReleaseDropWaitingRequestsAtOnce) {
  Token tokens[5];
  auto askAndWait = [&] {
    Got first{};
    ASSERT_TRUE(EagerSample(stream.Get(), &first));
    for (Token& t : tokens) ASSERT_EQ(stream->RequestSample(&t), S_OK);
    for (Token& t : tokens) ASSERT_GT(t.refs, 1u) << "the request waits for a picture";
  };
  auto dropped = [&] {
    for (Token& t : tokens) EXPECT_EQ(t.refs, 1u);
  };

  askAndWait();
  LONGLONG before = MFGetSystemTime();
  EXPECT_EQ(source->Stop(), S_OK);
  EXPECT_LT(MFGetSystemTime() - before, 100 * 10000);
  dropped();

  ComPtr<IMFMediaStream2> stream2;
  ASSERT_EQ(stream.As(&stream2), S_OK);
  ASSERT_EQ(stream2->SetStreamState(MF_STREAM_STATE_RUNNING), S_OK);
  askAndWait();
  before = MFGetSystemTime();
  EXPECT_EQ(stream2->SetStreamState(MF_STREAM_STATE_STOPPED), S_OK);
  EXPECT_LT(MFGetSystemTime() - before, 100 * 10000);
  dropped();

  ASSERT_EQ(stream2->SetStreamState(MF_STREAM_STATE_RUNNING), S_OK);
  stream2.Reset();
  askAndWait();
  before = MFGetSystemTime();
  EXPECT_EQ(source->Shutdown(), S_OK);
  EXPECT_LT(MFGetSystemTime() - before, 100 * 10000);
  dropped();
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_SHUTDOWN);

  // A new source, let go with requests still waiting, neither stopped nor shut down.
  source = NewSource(dll);
  ASSERT_TRUE(source);
  stream = StartAt(source.Get(), 640, 360);
  ASSERT_TRUE(stream);
  askAndWait();
  stream.Reset();
  source.Reset();
  dropped();
  writer.reset();
  HRESULT unload = S_FALSE;
  for (int i = 0; i < 100 && (unload = dll.canUnloadNow()) != S_OK; ++i) Sleep(10);
  EXPECT_EQ(unload, S_OK);
}

}  // namespace
