// The C library's services database behind the Windows Sockets interface.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>

namespace platform {
namespace {

// The C library's services database needs no start-up or clean-up.
class LibcSockets : public Sockets {
 public:
  int WSAStartup(WORD /*version*/, WsaData* data) override {
    if (data != nullptr) data->version = 0x0202;
    return 0;
  }

  const ServiceEntry* GetServByName(const char* name,
                                    const char* protocol) override {
    const servent* service = getservbyname(name, protocol);
    if (service == nullptr) return nullptr;
    // s_port holds the 16-bit port in network order in an int.
    entry_.port = static_cast<WORD>(service->s_port);
    return &entry_;
  }

  WORD Ntohs(WORD net_value) override { return ntohs(net_value); }

  int WSACleanup() override { return 0; }

 private:
  ServiceEntry entry_ = {0};
};

}  // namespace

Sockets& SystemSockets() {
  static LibcSockets sockets;
  return sockets;
}

}  // namespace platform
