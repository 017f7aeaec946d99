#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "app/core/diagnostics.h"
#include "app/core/latency_stats.h"
#include "app/core/log.h"

namespace {

TEST(Diagnostics, StateLineFormat) {
  StateLineValues v;
  v.cpuPercent = 1.234;
  v.memoryMb = 38.04;
  v.connected = true;
  v.width = 1920;
  v.height = 1080;
  v.fps = 60;
  v.receivedFps = 59.96;
  v.receivedMbps = 8.25;
  v.decodedFrames = 18446744073709551615ull;
  v.cameraFrames = 7;
  v.roundTripMs = 4.56;
  v.decodeMs = 6.789;
  v.hardware = true;
  EXPECT_EQ(StateLineText(v),
            "estado cpu=1.23% ram=38.0MB conectado=1 1920x1080@60 recibidos=60.0/s mbps=8.2 "
            "decodificados=18446744073709551615 a_camara=7 rtt=4.6ms dec=6.79ms hw=1");
  EXPECT_EQ(StateLineText(StateLineValues{}),
            "estado cpu=0.00% ram=0.0MB conectado=0 0x0@0 recibidos=0.0/s mbps=0.0 decodificados=0 "
            "a_camara=0 rtt=-1.0ms dec=0.00ms hw=0");
}

TEST(Diagnostics, DelayLineShowsMinusOneForEmptyStages) {
  DelayLineValues v;
  v.average[0] = 21.04;
  v.worst[0] = 40;
  v.clockOffsetUs = -123456789012;
  v.skippedFrames = 3;
  EXPECT_EQ(DelayLineText(v),
            "demora ms (prom/peor) llegada=21.0/40.0 decodificado=-1.0/-1.0 camara=-1.0/-1.0 "
            "vista=-1.0/-1.0 desfase=-123456789012us salteados=3");
}

TEST(Diagnostics, CpuPercentIsOverAllProcessorsAndNeedsTwoSamples) {
  CpuMemorySample s;
  UpdateCpuPercent(&s, 1000, 5000000, 2);
  EXPECT_EQ(s.cpuPercent, 0);
  // 0.5 s of process time over 1 s of wall time on 2 processors: 25 %.
  UpdateCpuPercent(&s, 1000 + 5000000, 5000000 + 10000000, 2);
  EXPECT_DOUBLE_EQ(s.cpuPercent, 25.0);
  // A wall clock that went backwards keeps the old figure.
  UpdateCpuPercent(&s, 99999999, 100, 2);
  EXPECT_DOUBLE_EQ(s.cpuPercent, 25.0);
}

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orvane-log-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = pattern;
  }
  void TearDown() override {
    LogClose();
    unlink(path_.c_str());
  }
  std::string Contents() {
    std::ifstream in(path_);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  std::wstring WidePath() const { return std::wstring(path_.begin(), path_.end()); }
  std::string path_;
};

TEST_F(LogFile, LinesAreTimeStampedAndFlushedAtOnce) {
  LogOpen(WidePath());
  ASSERT_TRUE(LogIsOpen());
  LogLine("hola %s %d", "mundo", 5);
  std::string text = Contents();
  ASSERT_EQ(text.size(), 26u);
  EXPECT_EQ(text.substr(13), "hola mundo 5\n");
  EXPECT_EQ(text[2], ':');
  EXPECT_EQ(text[8], '.');
  EXPECT_EQ(text[12], ' ');
}

TEST_F(LogFile, WithoutAPathNoFileIsMadeAnywhere) {
  // Run in an empty folder: a log of its own would land there.
  char folder[] = "/tmp/orvane-nolog-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  char before[4096];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  ASSERT_EQ(chdir(folder), 0);
  LogOpen(L"");
  EXPECT_FALSE(LogIsOpen());
  LogLine("nada");
  LogClose();
  ASSERT_EQ(chdir(before), 0);
  EXPECT_EQ(rmdir(folder), 0) << "something was written in the working folder";
}

TEST_F(LogFile, TheCrashPathGivesUpOnABusyLogInsteadOfHanging) {
  LogOpen(WidePath());
  {
    // The crashing thread itself may be inside LogLine.
    auto held = HoldLogForTests();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(LogLineUnlessBusy("Falla: %s", "uno"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
  EXPECT_TRUE(LogLineUnlessBusy("Falla: %s", "dos"));
  std::string text = Contents();
  EXPECT_EQ(text.find("uno"), std::string::npos);
  EXPECT_NE(text.find("Falla: dos\n"), std::string::npos);
}

TEST_F(LogFile, ReportWritesOneLinePerStageWithSamples) {
  LogOpen(WidePath());
  LatencyStats stats;
  stats.Report("al salir");
  EXPECT_EQ(Contents(), "");
  stats.Record(kStageArrival, 10);
  stats.Record(kStageShown, 30);
  stats.Report("al cortar");
  std::string text = Contents();
  EXPECT_NE(text.find("DEMORA TOTAL (al cortar) llegada: prom=10.0 ms p95=10.0 ms peor=10.0 ms (1 cuadros)\n"),
            std::string::npos);
  EXPECT_NE(text.find("DEMORA TOTAL (al cortar) vista: prom=30.0 ms p95=30.0 ms peor=30.0 ms (1 cuadros)\n"),
            std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

}  // namespace
