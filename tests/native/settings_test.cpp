#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/core/settings.h"

namespace fs = std::filesystem;

namespace {

const std::string kToken(64, 'a');
const std::string kId = "0123abcd-0000-4000-8000-0123456789ab";

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orvane-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    folder_ = root_ / "Orvane";
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path File(bool test = false) const { return folder_ / (test ? "orvane-prueba.ini" : "orvane.ini"); }
  void Write(const std::string& text, bool test = false) {
    fs::create_directories(folder_);
    std::ofstream(File(test), std::ios::binary) << text;
  }
  std::string Read(bool test = false) const {
    std::ifstream in(File(test), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  void Load(Settings* s, bool test = false) { s->LoadFromFolder(folder_.wstring(), test); }

  fs::path root_, folder_;
};

TEST_F(SettingsFile, FirstStartCreatesFolderAndFileWithFreshVersion4Id) {
  Settings s;
  Load(&s);
  std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  EXPECT_TRUE(std::regex_match(s.Id(), uuid)) << s.Id();
  EXPECT_EQ(Read(),
            "# Orvane para PC: id de esta PC y celus vinculados (token|nombre)\nid=" + s.Id() + "\nfondo=0\n");
  EXPECT_FALSE(fs::exists(File().string() + ".tmp"));

  Settings other;
  Load(&other);
  EXPECT_NE(other.Id(), "");
  EXPECT_EQ(other.Id(), s.Id()) << "a second load keeps the id";
}

TEST_F(SettingsFile, WrongLengthIdIsReplacedAndEverythingElseKept) {
  std::string phone = "celu=" + kToken + "|iPhone\n";
  Write("id=" + std::string(35, 'x') + "\ncalidad=1080p@60\nfondo=0.25\n" + phone);
  Settings s;
  Load(&s);
  EXPECT_EQ(s.Id().size(), 36u);
  EXPECT_NE(s.Id(), std::string(35, 'x'));
  EXPECT_EQ(Read(), "# Orvane para PC: id de esta PC y celus vinculados (token|nombre)\nid=" + s.Id() +
                        "\ncalidad=1080p@60\nfondo=0.25\n" + phone);
}

TEST_F(SettingsFile, RightLengthIdIsKeptAndFileLeftAlone) {
  std::string text = "id=" + kId + "\n";
  Write(text);
  Settings s;
  Load(&s);
  EXPECT_EQ(s.Id(), kId);
  EXPECT_EQ(Read(), text);
}

TEST_F(SettingsFile, LinesInAnyOrderWithCrLfAndRepeats) {
  Write("celu=" + kToken + "|Uno\r\nfondo=0.5\r\nid=" + std::string(36, 'z') + "\r\nid=" + kId +
        "\r\nxx=1\r\n\r\ncelu=" + kToken + "|Uno\r\ncalidad=4K@30\r\ncelu=sinbarra\r\n");
  Settings s;
  Load(&s);
  EXPECT_EQ(s.Id(), kId);
  EXPECT_EQ(s.Quality(), "4K@30");
  EXPECT_FLOAT_EQ(s.Blur(), 0.5f);
  ASSERT_EQ(s.Phones().size(), 2u) << "duplicates stay, a line without | is dropped";
  EXPECT_EQ(s.Phones()[0].name, "Uno");
}

TEST_F(SettingsFile, LoadAppliesNoPhoneLimitAndBadBlurReadsZero) {
  std::string text = "id=" + kId + "\nfondo=mucho\n";
  for (int i = 0; i < 25; ++i) text += "celu=" + kToken + "|n" + std::to_string(i) + "\n";
  Write(text);
  Settings s;
  Load(&s);
  EXPECT_EQ(s.Phones().size(), 25u);
  EXPECT_EQ(s.Blur(), 0.0f);
}

TEST_F(SettingsFile, TokenWithFurtherBarsAndShortTokenIsNeverFound) {
  Write("id=" + kId + "\ncelu=abc|iPhone|de Quon\n");
  Settings s;
  Load(&s);
  ASSERT_EQ(s.Phones().size(), 1u);
  EXPECT_EQ(s.Phones()[0].token, "abc");
  EXPECT_EQ(s.Phones()[0].name, "iPhone|de Quon");
  EXPECT_FALSE(s.FindLinkedPhone("abc"));
}

TEST_F(SettingsFile, FindLinkedPhoneNeedsAllSixtyFourBytes) {
  Write("id=" + kId + "\ncelu=" + kToken + "|Mi iPhone\n");
  Settings s;
  Load(&s);
  std::string name;
  EXPECT_TRUE(s.FindLinkedPhone(kToken, &name));
  EXPECT_EQ(name, "Mi iPhone");
  EXPECT_TRUE(s.FindLinkedPhone(kToken));
  EXPECT_FALSE(s.FindLinkedPhone(kToken.substr(0, 63)));
  EXPECT_FALSE(s.FindLinkedPhone(kToken + "a"));
  std::string last = kToken;
  last.back() = 'b';
  EXPECT_FALSE(s.FindLinkedPhone(last));
  std::string first = kToken;
  first.front() = 'b';
  EXPECT_FALSE(s.FindLinkedPhone(first));
}

TEST_F(SettingsFile, AddedPhoneGetsFreshTokenAndCleanNameOnDisk) {
  Settings s;
  Load(&s);
  std::string token = s.AddLinkedPhone("iPhone|de\nQuon\r");
  EXPECT_THAT(token, ::testing::MatchesRegex("[0-9a-f]{64}"));
  EXPECT_NE(s.AddLinkedPhone("otro"), token);
  EXPECT_THAT(Read(), ::testing::HasSubstr("\ncelu=" + token + "|iPhonedeQuon\ncelu="));
  Settings again;
  Load(&again);
  std::string name;
  EXPECT_TRUE(again.FindLinkedPhone(token, &name));
  EXPECT_EQ(name, "iPhonedeQuon");
}

TEST_F(SettingsFile, TwentyFirstPhoneDropsTheOldest) {
  Settings s;
  Load(&s);
  std::vector<std::string> tokens;
  for (int i = 0; i < 21; ++i) tokens.push_back(s.AddLinkedPhone("p" + std::to_string(i)));
  auto phones = s.Phones();
  ASSERT_EQ(phones.size(), 20u);
  EXPECT_EQ(phones.front().name, "p1");
  EXPECT_EQ(phones.back().name, "p20");
  EXPECT_FALSE(s.FindLinkedPhone(tokens[0]));
  std::string text = Read();
  EXPECT_EQ(text.find("|p0\n"), std::string::npos);
  EXPECT_LT(text.find("|p1\n"), text.find("|p2\n"));
}

TEST_F(SettingsFile, OverlongNameCannotPlantAnIdOrAPhone) {
  // Before the fix, the tail of a long line was read as a line of its own.
  std::string evilId = "id=ffffffff-ffff-4fff-bfff-ffffffffffff";
  std::string evilPhone = "celu=" + std::string(64, 'e') + "|intruso";
  std::string head = "celu=" + kToken + "|";
  std::string pad1(1023 - head.size(), 'n');
  Write("id=" + kId + "\n" + head + pad1 + evilId + "\n" + head + pad1 + evilPhone + "\n" + head +
        std::string(3000, 'm') + "\n");
  Settings s;
  Load(&s);
  EXPECT_EQ(s.Id(), kId);
  EXPECT_FALSE(s.FindLinkedPhone(std::string(64, 'e')));
  EXPECT_EQ(s.Phones().size(), 3u) << "the first piece of each long line still counts";
}

TEST_F(SettingsFile, NamesAreCutAt128BytesOnACharacterBoundary) {
  Settings s;
  Load(&s);
  std::string longName = std::string(127, 'a') + "\xc3\xb1" + "bbbb";  // n-tilde straddles byte 128
  std::string token = s.AddLinkedPhone(longName);
  std::string name;
  ASSERT_TRUE(s.FindLinkedPhone(token, &name));
  EXPECT_EQ(name, std::string(127, 'a'));
  std::string fits = std::string(126, 'a') + "\xc3\xb1";
  ASSERT_TRUE(s.FindLinkedPhone(s.AddLinkedPhone(fits + "zz"), &name));
  EXPECT_EQ(name, fits);

  // A name the phone could send, as long as it likes, is read back whole.
  std::string hostile = std::string(1000, 'x') + "\nid=" + std::string(36, 'f');
  token = s.AddLinkedPhone(hostile);
  Settings again;
  Load(&again);
  EXPECT_EQ(again.Id(), s.Id());
  EXPECT_TRUE(again.FindLinkedPhone(token, &name));
  EXPECT_EQ(name.size(), 128u);
}

TEST_F(SettingsFile, UnchangedQualityOrBlurDoesNotTouchTheFile) {
  Settings s;
  Load(&s);
  s.SetQuality("1080p@30");
  s.SetBlur(0.6f);
  fs::remove(File());
  s.SetQuality("1080p@30");
  s.SetBlur(0.6f);
  EXPECT_FALSE(fs::exists(File()));
  s.SetQuality("720p@60");
  EXPECT_THAT(Read(), ::testing::HasSubstr("\ncalidad=720p@60\nfondo=0.6\n"));
  fs::remove(File());
  s.SetBlur(0.35f);
  EXPECT_THAT(Read(), ::testing::HasSubstr("\nfondo=0.35\n"));
}

TEST_F(SettingsFile, NanBlurIsAlwaysSavedAndReadsBack) {
  Settings s;
  Load(&s);
  s.SetBlur(NAN);
  fs::remove(File());
  s.SetBlur(NAN);
  ASSERT_TRUE(fs::exists(File()));
  Settings again;
  Load(&again);
  EXPECT_TRUE(std::isnan(again.Blur()));
}

TEST_F(SettingsFile, EveryBlurLevelOfTheSliderReadsBackExactly) {
  for (int i = 0; i <= 100; ++i) {
    float level = static_cast<float>(i) / 100.0f;
    SettingsValues in;
    in.blur = level;
    SettingsValues out;
    ReadSettingsText(WriteSettingsText(in), &out);
    EXPECT_EQ(out.blur, level) << i;
  }
}

TEST_F(SettingsFile, TestModeUsesItsOwnFile) {
  Write("id=" + kId + "\ncelu=" + kToken + "|normal\n");
  std::string before = Read();
  Settings s;
  Load(&s, true);
  EXPECT_NE(s.Id(), kId);
  EXPECT_TRUE(s.Phones().empty());
  s.AddLinkedPhone("prueba");
  EXPECT_EQ(Read(), before);
  EXPECT_THAT(Read(true), ::testing::HasSubstr("|prueba\n"));
}

TEST_F(SettingsFile, SaveWithoutLoadFails) {
  Settings s;
  EXPECT_FALSE(s.Save());
}

TEST_F(SettingsFile, ANulByteEndsTheLinesText) {
  std::string phone = "celu=" + kToken + std::string("\0", 1) + "x|Nul\n";
  Write("id=" + kId + std::string("\0\n", 2) + phone + "celu=" + kToken + "|Mi" + std::string("\0", 1) + "Z\n");
  Settings s;
  Load(&s);
  EXPECT_EQ(s.Id(), kId) << "the id is kept, not replaced";
  ASSERT_EQ(s.Phones().size(), 1u) << "the line cut short before its bar is no phone";
  EXPECT_EQ(s.Phones()[0].name, "Mi");
}

TEST_F(SettingsFile, AHugeFileIsReadOnlyItsFirstMebibyte) {
  std::string text = "id=" + kId + "\ncelu=" + kToken + "|Primero\n";
  text += std::string(kMaxSettingsFileBytes - text.size() - 20, '#') + "\n";
  text += "celu=" + kToken + "|Cortado\n";  // straddles the first MiB
  text += "celu=" + kToken + "|Lejos\n" + std::string(2 * kMaxSettingsFileBytes, 'x');
  Write(text);
  Settings s;
  Load(&s);
  EXPECT_EQ(s.Id(), kId);
  ASSERT_EQ(s.Phones().size(), 1u);
  EXPECT_EQ(s.Phones()[0].name, "Primero");
}

// Without random bytes the id stays unset until a later start, and no phone
// is given a token anybody could compute.
TEST_F(SettingsFile, AFailingRandomSourceMakesNoIdAndLinksNoPhone) {
  Settings s;
  s.SetRandomSource([](void*, size_t) { return false; });
  Load(&s);
  EXPECT_EQ(s.Id(), "");
  EXPECT_FALSE(fs::exists(File())) << "nothing fixed was written";
  EXPECT_EQ(s.AddLinkedPhone("Nadie"), "");
  EXPECT_TRUE(s.Phones().empty());
  EXPECT_FALSE(s.FindLinkedPhone(std::string(64, '0')));

  Settings later;
  Load(&later);
  EXPECT_EQ(later.Id().size(), 36u) << "the next start makes the id";
}

TEST(SettingsText, UuidSetsVersionAndVariantBits) {
  uint8_t ones[16];
  std::fill(std::begin(ones), std::end(ones), 0xff);
  EXPECT_EQ(UuidV4Text(ones), "ffffffff-ffff-4fff-bfff-ffffffffffff");
  uint8_t zeros[16] = {};
  EXPECT_EQ(UuidV4Text(zeros), "00000000-0000-4000-8000-000000000000");
}

TEST(SettingsText, TokenIsHighNibbleFirst) {
  uint8_t bytes[32] = {0x01, 0xab, 0xf0};
  EXPECT_EQ(TokenText(bytes).substr(0, 8), "01abf000");
  EXPECT_EQ(TokenText(bytes).size(), 64u);
}

}  // namespace
