#include <gtest/gtest.h>

#include "app/link/local_address.h"
#include "app/link/pairing.h"

namespace {

const std::string kToken(64, 'a');

HelloVerdict Decide(const std::string& hello, const std::string& code = "123456") {
  return DecideHello(ReadHello(hello), code, [](const std::string& t) { return t == kToken; });
}

TEST(HelloDecision, Table) {
  struct Case {
    std::string hello;
    HelloVerdict verdict;
  } cases[] = {
      {"{}", HelloVerdict::DenyVersion},
      {R"({"v":2,"token":")" + kToken + "\"}", HelloVerdict::DenyVersion},
      {R"({"v":"1","code":"123456"})", HelloVerdict::DenyVersion},
      {R"({"v":1.9,"code":"123456"})", HelloVerdict::ApprovedByCode},
      {R"({"v":1,"token":")" + kToken + R"(","code":"000000"})", HelloVerdict::ApprovedByToken},
      {R"({"v":1,"token":"bad","code":"123456"})", HelloVerdict::ApprovedByCode},
      {R"({"v":1,"token":"bad","code":"654321"})", HelloVerdict::DenyCode},
      {R"({"v":1,"token":")" + kToken.substr(0, 63) + "\"}", HelloVerdict::DenyToken},
      {R"({"v":1,"token":""})", HelloVerdict::DenyToken},
      {R"({"v":1,"code":""})", HelloVerdict::DenyCode},
      {R"({"v":1,"code":"1234567"})", HelloVerdict::DenyCode},
      {R"({"v":1})", HelloVerdict::AskUser},
      {R"({"v":1,"device":"x"})", HelloVerdict::AskUser},
  };
  for (const Case& c : cases) EXPECT_EQ(Decide(c.hello), c.verdict) << c.hello;
  EXPECT_EQ(Decide(R"({"v":1,"code":""})", ""), HelloVerdict::DenyCode) << "an empty code never pairs";
}

TEST(HelloDecision, TokenLookupOnlyWhenATokenIsPresent) {
  int lookups = 0;
  auto count = [&](const std::string&) { return ++lookups, false; };
  DecideHello(ReadHello(R"({"v":1,"code":"123456"})"), "123456", count);
  DecideHello(ReadHello(R"({"v":0,"token":"x"})"), "123456", count);
  EXPECT_EQ(lookups, 0);
  DecideHello(ReadHello(R"({"v":1,"token":"x"})"), "123456", count);
  EXPECT_EQ(lookups, 1);
}

TEST(HelloDecision, DenyReasons) {
  EXPECT_STREQ(DenyReason(HelloVerdict::DenyVersion), "version");
  EXPECT_STREQ(DenyReason(HelloVerdict::DenyCode), "code");
  EXPECT_STREQ(DenyReason(HelloVerdict::DenyToken), "token");
}

TEST(Pairing, AddressText) {
  EXPECT_EQ(PairingUriText("192.168.0.23", 47800, "735104", "3f2a9c1e-7b4d-4e8a-9c61-2f0c8d4e5b17"),
            "orvane://pc?host=192.168.0.23&port=47800&code=735104&id=3f2a9c1e-7b4d-4e8a-9c61-2f0c8d4e5b17");
}

TEST(Pairing, FiveWrongCodesInARowUseUpTheCode) {
  CodeGuessGuard guard;
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(guard.WrongCode());
  EXPECT_TRUE(guard.WrongCode());
  EXPECT_EQ(guard.Count(), 0) << "a new code starts a new count";
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(guard.WrongCode());
  guard.Proven();
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(guard.WrongCode()) << "a proven phone reset the count";
  EXPECT_TRUE(guard.WrongCode());
}

TEST(Pairing, PhoneTextIsOneLogLine) {
  EXPECT_EQ(LogSafe("iPhone\nDENY (code) a x\r\t\x7f"), "iPhone DENY (code) a x   ");
  EXPECT_EQ(LogSafe("Se\xc3\xb1or"), "Se\xc3\xb1or") << "UTF-8 stays";
}

AdapterInfo Adapter(const wchar_t* name, const wchar_t* description, bool gateway, std::vector<std::string> ips) {
  AdapterInfo a;
  a.up = true;
  a.friendlyName = name;
  a.description = description;
  a.hasGateway = gateway;
  a.ipv4 = std::move(ips);
  return a;
}

TEST(LocalAddress, PhysicalAdapterWithGatewayWinsWhereverItStands) {
  std::vector<AdapterInfo> list = {
      Adapter(L"VPN", L"Contoso VPN Client", true, {"10.8.0.2"}),
      Adapter(L"Wi-Fi", L"Intel Wireless", true, {"192.168.0.23"}),
  };
  EXPECT_EQ(ChooseAddress(list), "192.168.0.23");
  std::swap(list[0], list[1]);
  EXPECT_EQ(ChooseAddress(list), "192.168.0.23");
}

TEST(LocalAddress, VirtualSwitchIsTheFallback) {
  std::vector<AdapterInfo> list = {Adapter(L"vEthernet (Default Switch)", L"Hyper-V Virtual Ethernet", true,
                                           {"172.20.0.1"})};
  EXPECT_EQ(ChooseAddress(list), "172.20.0.1");
  list.push_back(Adapter(L"Ethernet", L"Realtek", false, {"192.168.1.5"}));
  EXPECT_EQ(ChooseAddress(list), "172.20.0.1") << "the first fallback stays";
}

TEST(LocalAddress, LinkLocalDownAndLoopbackNeverCount) {
  AdapterInfo down = Adapter(L"Ethernet 2", L"Realtek", true, {"192.168.5.5"});
  down.up = false;
  AdapterInfo loop = Adapter(L"Loopback", L"Software Loopback", true, {"127.0.0.1"});
  loop.loopback = true;
  std::vector<AdapterInfo> list = {down, loop, Adapter(L"Wi-Fi", L"Intel", true, {"169.254.3.4"})};
  EXPECT_EQ(ChooseAddress(list), "127.0.0.1");
  list.push_back(Adapter(L"Wi-Fi 2", L"Intel", true, {"169.254.9.9", "192.168.7.7"}));
  EXPECT_EQ(ChooseAddress(list), "192.168.7.7");
  EXPECT_EQ(ChooseAddress({}), "127.0.0.1");
}

TEST(LocalAddress, VirtualWordsAreCaseSensitive) {
  EXPECT_TRUE(IsVirtualAdapter(Adapter(L"x", L"VMware Network Adapter", true, {})));
  EXPECT_TRUE(IsVirtualAdapter(Adapter(L"x", L"TAP-Windows Adapter V9", true, {})));
  EXPECT_FALSE(IsVirtualAdapter(Adapter(L"x", L"virtual thing", true, {})));
  EXPECT_FALSE(IsVirtualAdapter(Adapter(L"vethernet", L"Intel", true, {})));
}

}  // namespace
