#include "tarvo/ports.h"

#include <gtest/gtest.h>

#include "platform/testing/fakes.h"

namespace {

using Calls = platform_test::Log;

TEST(PortsTest, ConvertsNetworkOrderAndCleansUpAfterTheRead) {
  platform_test::FakeSockets sockets;
  sockets.Define("nfport", "tcp", 20001);
  EXPECT_EQ(20001, tarvo::LookupPort(sockets, "nfport", 23456, "tcp"));
  EXPECT_EQ(0x0202, sockets.requested_version);
  EXPECT_EQ((Calls{"startup", "lookup nfport/tcp", "cleanup"}), sockets.calls);
}

TEST(PortsTest, HighPortsAreNotSigned) {
  platform_test::FakeSockets sockets;
  sockets.Define("tovrexm", "tcp", 65535);
  EXPECT_EQ(65535, tarvo::LookupPort(sockets, "tovrexm", 0, "tcp"));
  sockets.Define("tovrexm", "tcp", 0);
  EXPECT_EQ(0, tarvo::LookupPort(sockets, "tovrexm", 7, "tcp"));
}

TEST(PortsTest, UnknownServiceOrOtherProtocolGivesDefault) {
  platform_test::FakeSockets sockets;
  sockets.Define("nfport", "udp", 1000);
  EXPECT_EQ(23456, tarvo::LookupPort(sockets, "nfport", 23456, "tcp"));
  EXPECT_EQ(0, tarvo::LookupPort(sockets, "tovrexm", 0, "tcp"));
}

TEST(PortsTest, FailedStartGivesDefaultWithoutCleanUp) {
  platform_test::FakeSockets sockets;
  sockets.Define("nfport", "tcp", 1);
  sockets.startup_result = 10091;  // WSASYSNOTREADY
  EXPECT_EQ(23456, tarvo::LookupPort(sockets, "nfport", 23456, "tcp"));
  EXPECT_EQ(Calls{"startup"}, sockets.calls);
}

}  // namespace
