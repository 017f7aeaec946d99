#include "app/core/notices.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kProgram = L"C:\\Program Files\\Orvane\\Orvane.exe";

FirewallRuleView Rule(bool allow, long profiles, const std::wstring& application = kProgram, bool inbound = true) {
  return {.enabled = true, .inbound = inbound, .allow = allow, .profiles = profiles, .application = application};
}

FirewallProfileView On(long type) { return {.type = type, .enabled = true}; }

// The installer's rule lets phones in on private networks only; on a
// network Windows classed otherwise, or with a block rule a cancelled prompt
// left, they are kept out.
TEST(Notices, TheFirewallKeepsPhonesOutWhereNoRuleLetsThemIn) {
  const std::vector<FirewallRuleView> installed{Rule(true, kFirewallPrivate)};
  EXPECT_FALSE(FirewallBlocksProgram({On(kFirewallPrivate)}, installed, kProgram));
  EXPECT_TRUE(FirewallBlocksProgram({On(kFirewallPublic)}, installed, kProgram));
  EXPECT_TRUE(FirewallBlocksProgram({On(kFirewallDomain)}, installed, kProgram));
  EXPECT_FALSE(FirewallBlocksProgram({On(kFirewallPublic), On(kFirewallPrivate)}, installed, kProgram))
      << "a phone on the private one gets in";
  EXPECT_FALSE(FirewallBlocksProgram({}, installed, kProgram)) << "unknown is not blocked";

  FirewallProfileView off = On(kFirewallPublic);
  off.enabled = false;
  EXPECT_FALSE(FirewallBlocksProgram({off}, installed, kProgram));
  FirewallProfileView open = On(kFirewallPublic);
  open.inboundAllowedByDefault = true;
  EXPECT_FALSE(FirewallBlocksProgram({open}, installed, kProgram));
  FirewallProfileView shut = On(kFirewallPrivate);
  shut.blockAllInbound = true;
  EXPECT_TRUE(FirewallBlocksProgram({shut}, installed, kProgram)) << "allowed programs included";

  // Allowed on public too (the prompt's second box), in any spelling of the path.
  EXPECT_FALSE(FirewallBlocksProgram({On(kFirewallPublic)},
                                     {Rule(true, kFirewallPrivate | kFirewallPublic, L"c:\\program files\\orvane\\ORVANE.EXE")},
                                     kProgram));
  EXPECT_FALSE(FirewallBlocksProgram({On(kFirewallPublic)}, {Rule(true, 0x7FFFFFFF, L"")}, kProgram))
      << "a rule for every program";

  // What does not let this program in.
  FirewallRuleView disabled = Rule(true, kFirewallPublic);
  disabled.enabled = false;
  for (const FirewallRuleView& rule : {disabled, Rule(true, kFirewallPublic, L"C:\\Other\\Other.exe"),
                                       Rule(true, kFirewallPublic, kProgram, false)}) {
    EXPECT_TRUE(FirewallBlocksProgram({On(kFirewallPublic)}, {rule}, kProgram)) << rule.application;
  }

  // A block rule wins over every allow rule; another program's, or one for
  // every program (ports, addresses), does not count.
  EXPECT_TRUE(FirewallBlocksProgram({On(kFirewallPrivate)}, {Rule(true, 0x7FFFFFFF), Rule(false, 0x7FFFFFFF)}, kProgram));
  EXPECT_FALSE(FirewallBlocksProgram({On(kFirewallPrivate)}, {Rule(false, kFirewallPublic), Rule(true, kFirewallPrivate)},
                                     kProgram))
      << "blocked on another profile";
  EXPECT_FALSE(FirewallBlocksProgram({On(kFirewallPrivate)},
                                     {Rule(true, kFirewallPrivate), Rule(false, 0x7FFFFFFF, L""),
                                      Rule(false, 0x7FFFFFFF, L"C:\\Other\\Other.exe")},
                                     kProgram));
}

TEST(Notices, OneAtATimeMostImportantFirst) {
  NoticeInputs all;
  all.firewallBlocks = all.camerasDenied = true;
  all.camera = CameraProblem::Failed;
  all.cameraResult = 0x80070005;
  Notice n = ChooseNotice(all);
  EXPECT_EQ(n.message, L"Windows bloquea al celu en esta red");
  EXPECT_EQ(n.does, NoticeAction::NetworkSettings);
  EXPECT_STREQ(NoticeSettingsPage(n.does), L"ms-settings:network-status");

  all.connected = true;  // a phone got in after all
  n = ChooseNotice(all);
  EXPECT_EQ(n.message, L"Windows no deja usar c\u00E1maras a las apps");
  EXPECT_STREQ(NoticeSettingsPage(n.does), L"ms-settings:privacy-webcam");

  all.camerasDenied = false;
  n = ChooseNotice(all);
  EXPECT_EQ(n.message, L"No se cre\u00F3 Orvane Cam (0x80070005)");
  EXPECT_EQ(n.action, L"Reintentar");
  EXPECT_EQ(n.does, NoticeAction::RetryCamera);
  EXPECT_STREQ(NoticeSettingsPage(n.does), L"");

  all.camera = CameraProblem::NotRegistered;
  n = ChooseNotice(all);
  EXPECT_EQ(n.message, L"Orvane Cam no est\u00E1 registrada: reinstal\u00E1 Orvane");
  EXPECT_EQ(n.does, NoticeAction::None) << "it is tried again by itself; reinstalling is what helps";
  all.camera = CameraProblem::NotWindows11;
  n = ChooseNotice(all);
  EXPECT_EQ(n.message, L"Orvane Cam necesita Windows 11");
  EXPECT_TRUE(n.action.empty()) << "nothing to click: no later try can help";
  EXPECT_EQ(n.does, NoticeAction::None);

  all.camera = CameraProblem::None;
  EXPECT_TRUE(ChooseNotice(all).message.empty());
}

TEST(Notices, ChecksRunAtStartThenAtTheirPaceAndTheCameraBacksOff) {
  CheckPace pace(5000);
  EXPECT_TRUE(pace.Due(123));
  EXPECT_FALSE(pace.Due(124));
  EXPECT_FALSE(pace.Due(5122));
  EXPECT_TRUE(pace.Due(5123));

  RetryBackoff retry;
  EXPECT_FALSE(retry.Due(0)) << "nothing failed yet";
  uint64_t now = 1000;
  std::vector<uint64_t> waits;
  for (int i = 0; i < 7; ++i) {
    retry.Failed(now);
    uint64_t due = now;
    while (!retry.Due(due)) due += 500;
    waits.push_back(due - now);
    now = due;
  }
  EXPECT_EQ(waits, (std::vector<uint64_t>{2000, 4000, 8000, 16000, 30000, 30000, 30000}));
  retry.Succeeded();
  EXPECT_FALSE(retry.Due(now + 100000)) << "no more tries after one succeeded";
  retry.Failed(now);
  EXPECT_FALSE(retry.Due(now + 1999));
  EXPECT_TRUE(retry.Due(now + 2000)) << "a new failure starts again at the shortest pause";
}

}  // namespace
