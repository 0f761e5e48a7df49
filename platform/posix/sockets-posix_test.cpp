#include "platform/sockets.h"

#include <gtest/gtest.h>
#include <netdb.h>

namespace platform {
namespace {

TEST(SystemSocketsTest, ServicePortInNetworkOrder) {
  Sockets& sockets = SystemSockets();
  if (getservbyname("ssh", "tcp") == nullptr) {
    GTEST_SKIP() << "no ssh entry in this machine's services database";
  }
  const ServiceEntry* entry = sockets.GetServByName("ssh", "tcp");
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(22, sockets.Ntohs(entry->port));
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&entry->port);
  EXPECT_EQ(0, bytes[0]);  // the high byte comes first
  EXPECT_EQ(22, bytes[1]);
}

TEST(SystemSocketsTest, UnknownServiceIsNull) {
  EXPECT_EQ(nullptr, SystemSockets().GetServByName("no-such-service-x", "tcp"));
}

}  // namespace
}  // namespace platform
