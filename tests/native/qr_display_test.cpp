#include "app/ui/qr_display.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "app/core/log.h"

namespace {

const std::string kAddress =
    "orvane://pc?host=192.168.1.20&port=47801&code=042917&id=0123abcd-0000-4000-8000-0123456789ab";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

TEST(QrHolder, EncodesOnlyWhenTheAddressChangesAndSaysSoOnce) {
  std::string log = "/tmp/orvane-qr-" + std::to_string(getpid()) + ".log";
  LogOpen(std::wstring(log.begin(), log.end()));
  QrHolder qr;
  EXPECT_EQ(qr.Code(), nullptr);
  EXPECT_TRUE(qr.Build(kAddress));
  const qrcodegen::QrCode* first = qr.Code();
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(qr.Build(kAddress)) << "the same address again";
  EXPECT_EQ(qr.Code(), first);
  std::string changed = kAddress;
  changed.replace(changed.find("042917"), 6, "550311");
  EXPECT_TRUE(qr.Build(changed));
  LogClose();
  std::string text = ReadFile(log);
  unlink(log.c_str());
  int size = qr.Code()->getSize();
  EXPECT_NE(text.find("QR: " + kAddress + " (" + std::to_string(size) + " módulos)"), std::string::npos) << text;
  EXPECT_EQ(text.find("QR: " + kAddress), text.rfind("QR: " + kAddress)) << "logged once";
  EXPECT_NE(text.find("QR: " + changed), std::string::npos);
  // The address of about a hundred bytes needs a small code at the lowest level.
  EXPECT_GE(size, 21);
  EXPECT_LE(size, 41);
}

// Whatever the version, the code fills the same 136-DIP square, and its
// module edges fall on whole device pixels at the window's scale.
TEST(QrHolder, ModuleEdgesFillTheSquareSnappedToTheScale) {
  for (int n : {21, 29, 177}) {
    for (float m : {1.0f, 1.25f, 1.5f, 2.0f, 0.0f, -1.0f}) {
      float scale = m > 0 ? m : 1.0f;
      if (scale == 1.0f || scale == 2.0f) {
        EXPECT_FLOAT_EQ(QrModuleEdge(kQrLeft, 0, n, m), kQrLeft);
        EXPECT_FLOAT_EQ(QrModuleEdge(kQrLeft, n, n, m), kQrLeft + kQrSide) << n << " " << m;
      }
      float previous = 0;
      for (int k = 0; k <= n; ++k) {
        float edge = QrModuleEdge(kQrTop, k, n, m);
        EXPECT_LE(std::fabs(edge * scale - std::round(edge * scale)), 1e-3f) << n << " " << m << " " << k;
        EXPECT_GE(edge, previous);
        EXPECT_LE(std::fabs(edge - (kQrTop + kQrSide * static_cast<float>(k) / static_cast<float>(n))),
                  0.5f / scale + 1e-4f);
        previous = edge;
      }
    }
  }
  // Halves round away from zero: 122 + 136/2 at scale 1 is exact; at n = 16
  // and scale 1, edge 1 is 130.5 and goes to 131.
  EXPECT_FLOAT_EQ(QrModuleEdge(kQrLeft, 1, 16, 1.0f), 131.0f);
}

}  // namespace
