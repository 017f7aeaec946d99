// The camera's source under the Frame Server's kind of load, for a few
// seconds: sources made, started, pulled from a second thread and asked for
// their source from a third, then stopped, shut down or just let go, over and
// over, while a writer in another process publishes pictures of changing
// sizes. Nothing may crash, every wait is bounded, and at the end the DLL may
// be unloaded.
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "camera_dll.h"

namespace {

constexpr wchar_t kWriterVariable[] = L"ORVANE_STRESS_WRITER_MS";

// The writer's side, run only as the child process the stress test starts.
TEST(CameraStressWriter, DISABLED_PublishesPicturesOfChangingSizes) {
  wchar_t value[32] = L"";
  if (!GetEnvironmentVariableW(kWriterVariable, value, 32)) GTEST_SKIP() << "only as the stress test's writer";
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(_wtoi(value));
  Writer writer;
  ASSERT_NE(writer.view, nullptr) << "the block exists before the writer starts";
  const UINT32 sizes[][2] = {{1280, 720}, {640, 360}, {1920, 1080}};
  for (int n = 0; GetTickCount64() < until; ++n) {
    writer.Publish(sizes[n % 3][0], sizes[n % 3][1], static_cast<uint8_t>(20 + n % 100));
    Sleep(3);
  }
}

struct Child {
  PROCESS_INFORMATION process{};
  bool Start(int milliseconds) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) +
                           L"\" --gtest_filter=CameraStressWriter.DISABLED_PublishesPicturesOfChangingSizes "
                           L"--gtest_also_run_disabled_tests";
    SetEnvironmentVariableW(kWriterVariable, std::to_wstring(milliseconds).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &startup, &process);
    SetEnvironmentVariableW(kWriterVariable, nullptr);
    return started;
  }
  DWORD Wait(DWORD ms) {
    DWORD code = 9999;
    if (WaitForSingleObject(process.hProcess, ms) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    else TerminateProcess(process.hProcess, code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }
};

// Runs `work` on a thread of its own until told to stop. A thread that
// does not end within 5 s of being told is left behind (and the test fails)
// rather than waited for without end; `work` owns what it uses (it may
// outlive the test), never the test's locals.
class Worker {
 public:
  template <typename Work>
  explicit Worker(Work work) : state_(std::make_shared<State>()) {
    std::thread([state = state_, held = std::optional<Work>(std::move(work))]() mutable {
      while (!state->stop) (*held)();
      held.reset();  // what it holds goes before the test hears it ended
      state->ended.set_value();
    }).detach();
  }
  ~Worker() { (void)Stop(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  bool Stop() {
    state_->stop = true;
    return state_->done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  }

 private:
  struct State {
    std::atomic<bool> stop{false};
    std::promise<void> ended;
    std::shared_future<void> done = ended.get_future().share();
  };
  std::shared_ptr<State> state_;
};

TEST(CameraStress, CyclesOfStartSamplesAndEndsWithAWriterElsewhereNeitherCrashNorHang) {
  Dll dll;
  std::optional<Writer> block;  // keeps the block between sources
  {
    ComPtr<IMFMediaSource> first = NewSource(dll);
    ASSERT_TRUE(first);
    ASSERT_TRUE(StartAt(first.Get(), 640, 360));
    block.emplace();
    first->Shutdown();
  }
  ASSERT_NE(block->view, nullptr);
  Child writer;
  ASSERT_TRUE(writer.Start(5000));

  const UINT32 sizes[][2] = {{640, 360}, {1280, 720}, {1920, 1080}, {3840, 2160}};
  const ULONGLONG until = GetTickCount64() + 4000;
  int cycles = 0, samples = 0, sourcesHandedOut = 0;
  while (GetTickCount64() < until) {
    ComPtr<IMFMediaSource> source = NewSource(dll);
    ASSERT_TRUE(source);
    ComPtr<IMFMediaStream> stream = StartAt(source.Get(), sizes[cycles % 4][0], sizes[cycles % 4][1]);
    ASSERT_TRUE(stream);
    auto pulled = std::make_shared<std::atomic<int>>(0);
    Worker puller([stream, pulled] {
      if (stream->RequestSample(nullptr) == S_OK) ++*pulled;
      ComPtr<IMFMediaEvent> event;
      while (SUCCEEDED(stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))) event.Reset();
    });
    auto handedOut = std::make_shared<std::atomic<int>>(0);
    Worker asker([stream, handedOut] {
      ComPtr<IMFMediaSource> back;
      if (SUCCEEDED(stream->GetMediaSource(&back))) ++*handedOut;
    });
    Sleep(5 + cycles % 20);
    switch (cycles % 3) {
      case 0:
        source->Stop();
        source->Shutdown();
        break;
      case 1:
        source->Shutdown();
        break;
      default:
        break;  // let go with its stream still in use
    }
    source.Reset();
    const bool pullEnded = puller.Stop(), askEnded = asker.Stop();
    if (!pullEnded || !askEnded) {
      // A thread still inside the DLL: it stays loaded, and the test ends here.
      dll.module = nullptr;
      writer.Wait(0);
      FAIL() << (pullEnded ? "GetMediaSource" : "a pull") << " hung, cycle " << cycles;
    }
    samples += *pulled;
    sourcesHandedOut += *handedOut;
    stream.Reset();
    ++cycles;
  }
  EXPECT_EQ(writer.Wait(10000), 0u) << "the writer ran its time";
  // However slow the machine: more than one cycle of each ending, and samples and sources handed out.
  EXPECT_GE(cycles, 6);
  EXPECT_GT(samples, 0) << "samples came while the writer published";
  EXPECT_GT(sourcesHandedOut, 0);
  // Media Foundation's work queue threads may let go of the last events a moment later.
  HRESULT unload = S_FALSE;
  for (int i = 0; i < 100 && (unload = dll.canUnloadNow()) != S_OK; ++i) Sleep(10);
  EXPECT_EQ(unload, S_OK) << "every object of the DLL was released";
}

}  // namespace
