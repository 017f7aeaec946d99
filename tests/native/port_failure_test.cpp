#include "app/link/port_failure.h"

#include <gtest/gtest.h>

namespace {

// Reserved ranges (Hyper-V, WSL) fail with WSAEACCES although nobody uses
// the ports: the user is told where to look, in the box and in the log.
TEST(PortFailure, TheReasonAndWhereToLookForReservedPorts) {
  const std::string reserved = PortFailureMessage(10013);
  EXPECT_EQ(reserved.rfind("No se pudo abrir el puerto 47800-47809.", 0), 0u) << "the message as it always began";
  EXPECT_NE(reserved.find("netsh interface ipv4 show excludedportrange protocol=tcp"), std::string::npos);
  EXPECT_NE(PortFailureLogLine(10013).find("excludedportrange"), std::string::npos);
  EXPECT_EQ(PortFailureLogLine(10013).find('\n'), std::string::npos) << "one log line";
  EXPECT_NE(PortFailureMessage(10048).find("10048"), std::string::npos);
  EXPECT_EQ(PortFailureMessage(10048).find("netsh"), std::string::npos);
  EXPECT_EQ(PortFailureMessage(0), "No se pudo abrir el puerto 47800-47809.") << "no port was tried";
  EXPECT_NE(PortFailureMessage(10022).find("10022"), std::string::npos);
}

}  // namespace
