// Windows Sockets' services database, straight through to ws2_32.
#include <winsock2.h>
#include <windows.h>

#include "platform/sockets.h"

namespace platform {
namespace {

static_assert(sizeof(WORD) == sizeof(u_short), "WORD width");

class Win32Sockets : public Sockets {
 public:
  int WSAStartup(WORD version, WsaData* data) override {
    WSADATA full{};
    int result = ::WSAStartup(version, data ? &full : nullptr);
    if (data) data->version = full.wVersion;
    return result;
  }

  // The servent belongs to ws2_32; keep only its port, still in network
  // order, as the caller expects.
  const ServiceEntry* GetServByName(const char* name,
                                    const char* protocol) override {
    const servent* found = ::getservbyname(name, protocol);
    if (!found)
      return nullptr;
    entry_.port = static_cast<WORD>(found->s_port);
    return &entry_;
  }

  WORD Ntohs(WORD net_value) override { return ::ntohs(net_value); }

  int WSACleanup() override { return ::WSACleanup(); }

 private:
  ServiceEntry entry_{};
};

}  // namespace

Sockets& SystemSockets() {
  static Win32Sockets sockets;
  return sockets;
}

}  // namespace platform
