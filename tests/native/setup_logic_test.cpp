#include <gtest/gtest.h>

#include <algorithm>

#include "setup/setup_logic.h"

namespace {

SetupOptions Parse(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"Orvane-Setup.exe");
  return ParseSetupArguments(args);
}

TEST(SetupArguments, FlagsCombineInAnyOrderAndUnknownOnesAreIgnored) {
  SetupOptions o = Parse({L"/silencioso", L"--oculta", L"/desinstalar", L"/inicio", L"x"});
  EXPECT_TRUE(o.silent && o.uninstall && o.startWithWindows);
  EXPECT_FALSE(o.simulate);
  EXPECT_FALSE(Parse({}).silent || Parse({}).uninstall || Parse({}).startWithWindows);
}

TEST(SetupArguments, OptionsAreComparedWholeAndCaseSensitively) {
  SetupOptions o = Parse({L"/Silencioso", L"/desinstalar2", L"/INICIO", L"silencioso", L"/simular="});
  EXPECT_FALSE(o.silent || o.uninstall || o.startWithWindows || o.simulate);
}

TEST(SetupArguments, SimularConsumesTheNextArgumentWhateverItIs) {
  SetupOptions o = Parse({L"/simular", L"/desinstalar", L"/silencioso"});
  EXPECT_TRUE(o.simulate);
  EXPECT_EQ(o.testBase, L"/desinstalar");
  EXPECT_FALSE(o.uninstall);
  EXPECT_TRUE(o.silent);
}

TEST(SetupArguments, SimularAsTheLastArgumentIsIgnored) {
  SetupOptions o = Parse({L"/silencioso", L"/simular"});
  EXPECT_FALSE(o.simulate);
  EXPECT_TRUE(o.testBase.empty());
  EXPECT_TRUE(o.silent);
}

TEST(SetupLocations, TestModeKeepsEverythingUnderTheBaseAndTheUsersRegistry) {
  SetupLocations l = TestLocations(L"C:\\t\\x");
  EXPECT_TRUE(l.currentUserRegistry);
  EXPECT_EQ(l.installFolder, L"C:\\t\\x\\Orvane");
  EXPECT_EQ(l.desktopFolder, L"C:\\t\\x\\_Escritorio");
  EXPECT_EQ(l.startMenuFolder, L"C:\\t\\x\\_MenuInicio");
  EXPECT_EQ(l.logPath, L"C:\\t\\x\\Orvane\\..\\instalador.log");
  EXPECT_EQ(l.uninstallKey, L"Software\\OrvanePrueba\\Uninstall");
  EXPECT_EQ(l.runKey, L"Software\\OrvanePrueba\\Run");
}

TEST(SetupLocations, NormalModeUsesTheKnownFoldersAndTheMachinesKeys) {
  SetupLocations l = NormalLocations(L"C:\\Program Files", L"C:\\Users\\Public\\Desktop", L"C:\\Menu\\Programs",
                                     L"C:\\Users\\a\\AppData\\Local");
  EXPECT_FALSE(l.currentUserRegistry);
  EXPECT_EQ(l.installFolder, L"C:\\Program Files\\Orvane");
  EXPECT_EQ(l.desktopFolder, L"C:\\Users\\Public\\Desktop");
  EXPECT_EQ(l.startMenuFolder, L"C:\\Menu\\Programs");
  EXPECT_EQ(l.logPath, L"C:\\Users\\a\\AppData\\Local\\Temp\\Orvane-Setup.log");
  EXPECT_EQ(l.uninstallKey, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane");
  EXPECT_EQ(l.runKey, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run");
}

TEST(SetupLocations, AFolderWindowsCouldNotGiveLeavesItsPathsEmptyNeverAtTheDrivesRoot) {
  SetupLocations l = NormalLocations(L"", L"", L"", L"");
  EXPECT_EQ(l.installFolder, L"");
  EXPECT_EQ(l.desktopFolder, L"");
  EXPECT_EQ(l.startMenuFolder, L"");
  EXPECT_EQ(l.logPath, L"");
  // Each on its own.
  l = NormalLocations(L"", L"D", L"M", L"A");
  EXPECT_EQ(l.installFolder, L"");
  EXPECT_EQ(l.logPath, L"A\\Temp\\Orvane-Setup.log");
  l = NormalLocations(L"P", L"D", L"M", L"");
  EXPECT_EQ(l.installFolder, L"P\\Orvane");
  EXPECT_EQ(l.logPath, L"");
  // The test mode's empty base likewise.
  l = TestLocations(L"");
  EXPECT_EQ(l.installFolder + l.desktopFolder + l.startMenuFolder + l.logPath, L"");
}

TEST(SetupTexts, TheProgramOfAnUninstallCommandIsItsQuotedPathOrItsFirstWord) {
  EXPECT_EQ(ProgramOfCommand(L"\"C:\\P F\\Orvane\\desinstalar.exe\" /desinstalar"),
            L"C:\\P F\\Orvane\\desinstalar.exe");
  EXPECT_EQ(ProgramOfCommand(L"C:\\Orvane\\desinstalar.exe /desinstalar"), L"C:\\Orvane\\desinstalar.exe");
  EXPECT_EQ(ProgramOfCommand(L"C:\\x.exe"), L"C:\\x.exe");
  // Nothing to judge by: an entry is never dropped on these.
  EXPECT_EQ(ProgramOfCommand(L""), L"");
  EXPECT_EQ(ProgramOfCommand(L"\"C:\\P F\\sin cierre /desinstalar"), L"");
  EXPECT_EQ(ProgramOfCommand(L"\"\" /desinstalar"), L"");
}

TEST(SetupTexts, AnEntryMayNameTheInstallerItselfAsItsUninstaller) {
  const InstallPaths p = PathsIn(L"C:\\P F\\Orvane");
  const std::vector<RegistryValue> v = UninstallEntry(p, L"C:\\P F\\Orvane", L"C:\\Descargas\\Orvane-Setup.exe");
  EXPECT_EQ(v[5].text, L"\"C:\\Descargas\\Orvane-Setup.exe\" /desinstalar");
  EXPECT_EQ(v[6].text, L"\"C:\\Descargas\\Orvane-Setup.exe\" /desinstalar /silencioso");
}

TEST(SetupPaths, FolderOfCutsBeforeTheLastBackslash) {
  EXPECT_EQ(FolderOf(L"C:\\Program Files\\Orvane\\desinstalar.exe"), L"C:\\Program Files\\Orvane");
  EXPECT_EQ(FolderOf(L"desinstalar.exe"), L"desinstalar.exe");
  EXPECT_EQ(FolderOf(L"C:\\x\\"), L"C:\\x");
}

TEST(SetupPaths, OnlyTheInstalledUninstallerRemovesTheFolderItRunsFrom) {
  const std::wstring normal = L"C:\\Program Files\\Orvane";
  EXPECT_EQ(UninstallFolder(L"D:\\Otra\\Orvane\\desinstalar.exe", normal), L"D:\\Otra\\Orvane");
  EXPECT_EQ(UninstallFolder(L"D:\\Otra\\Orvane\\DESINSTALAR.EXE", normal), L"D:\\Otra\\Orvane");
  // The downloaded setup must not take the Downloads folder for the install.
  EXPECT_EQ(UninstallFolder(L"C:\\Users\\a\\Downloads\\Orvane-Setup.exe", normal), normal);
  EXPECT_EQ(UninstallFolder(L"C:\\x\\no-desinstalar.exe", normal), normal);
  EXPECT_EQ(UninstallFolder(L"", normal), normal);
}

// Running copies as the setup sees them: the first window found is the first
// still in `running`; closing one removes it unless it is `stubborn`, and a
// `locked` one cannot be opened.
struct Copies {
  std::vector<uint32_t> running;
  std::vector<uint32_t> stubborn;
  uint32_t locked = 0;
  std::vector<uint32_t> closed;  // every copy asked to close, in order

  CloseOutcome CloseAll() {
    return CloseRunningCopies([this] { return running.empty() ? 0u : running.front(); },
                              [this](uint32_t pid) {
                                closed.push_back(pid);
                                if (pid == locked) return CloseResult::kNotOpened;
                                running.erase(running.begin());
                                if (std::find(stubborn.begin(), stubborn.end(), pid) == stubborn.end()) {
                                  return CloseResult::kClosed;
                                }
                                running.push_back(pid);  // back, behind the others
                                return CloseResult::kNotEnded;
                              });
  }
};

TEST(SetupClosing, CopiesAreClosedInTurnAndTheLoopAlwaysEnds) {
  Copies several{.running = {11, 22, 33}};
  EXPECT_EQ(several.CloseAll().stop, CloseStop::kNoneLeft);
  EXPECT_EQ(several.closed, (std::vector<uint32_t>{11, 22, 33}));

  // One copy that outlives closing is given up on when it is seen again.
  Copies alone{.running = {11}, .stubborn = {11}};
  CloseOutcome outcome = alone.CloseAll();
  EXPECT_EQ(outcome.stop, CloseStop::kStillOpen);
  EXPECT_EQ(outcome.pid, 11u);
  EXPECT_EQ(alone.closed, std::vector<uint32_t>{11});

  // Two that survive in turn never show the same copy twice in a row: the
  // loop still ends, having asked each more than once, within its bound.
  Copies alternating{.running = {11, 22}, .stubborn = {11, 22}};
  EXPECT_EQ(alternating.CloseAll().stop, CloseStop::kStillOpen);
  EXPECT_GE(alternating.closed.size(), 3u);
  EXPECT_LE(alternating.closed.size(), static_cast<size_t>(kMaxCloseRounds));
  for (size_t i = 1; i < alternating.closed.size(); ++i) {
    EXPECT_NE(alternating.closed[i], alternating.closed[i - 1]) << "closed in turn";
  }

  // A copy that cannot be opened would be found first again and again.
  Copies locked{.running = {11, 22}, .locked = 11};
  outcome = locked.CloseAll();
  EXPECT_EQ(outcome.stop, CloseStop::kNotOpened);
  EXPECT_EQ(outcome.pid, 11u);
  EXPECT_EQ(locked.closed, std::vector<uint32_t>{11});
}

TEST(SetupTexts, RunCommandQuotesThePathAndStartsHidden) {
  EXPECT_EQ(RunCommand(L"C:\\Program Files\\Orvane\\Orvane.exe"), L"\"C:\\Program Files\\Orvane\\Orvane.exe\" --oculta");
}

TEST(SetupTexts, UninstallEntryHasEveryValueInOrder) {
  InstallPaths p = PathsIn(L"C:\\P F\\Orvane");
  EXPECT_EQ(p.program, L"C:\\P F\\Orvane\\Orvane.exe");
  EXPECT_EQ(p.cameraDll, L"C:\\P F\\Orvane\\OrvaneCam.dll");
  EXPECT_EQ(p.uninstaller, L"C:\\P F\\Orvane\\desinstalar.exe");
  std::vector<RegistryValue> v = UninstallEntry(p, L"C:\\P F\\Orvane", p.uninstaller);
  struct Expected {
    const wchar_t* name;
    const wchar_t* text;
    uint32_t number;
  };
  const Expected expected[] = {
      {L"DisplayName", L"Orvane", 0},
      {L"DisplayVersion", L"1.2.0", 0},
      {L"Publisher", L"Orvane", 0},
      {L"DisplayIcon", L"C:\\P F\\Orvane\\Orvane.exe,0", 0},
      {L"InstallLocation", L"C:\\P F\\Orvane", 0},
      {L"UninstallString", L"\"C:\\P F\\Orvane\\desinstalar.exe\" /desinstalar", 0},
      {L"QuietUninstallString", L"\"C:\\P F\\Orvane\\desinstalar.exe\" /desinstalar /silencioso", 0},
      {L"URLInfoAbout", L"https://orvane.app", 0},
      {L"NoModify", nullptr, 1},
      {L"NoRepair", nullptr, 1},
      {L"EstimatedSize", nullptr, 1024},
  };
  ASSERT_EQ(v.size(), std::size(expected));
  for (size_t i = 0; i < v.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(v[i].name, expected[i].name);
    EXPECT_EQ(v[i].isNumber, expected[i].text == nullptr);
    if (expected[i].text) EXPECT_EQ(v[i].text, expected[i].text);
    else EXPECT_EQ(v[i].number, expected[i].number);
  }
}

}  // namespace
