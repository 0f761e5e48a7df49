#include "tarvo/ports.h"

namespace tarvo {

int LookupPort(platform::Sockets& sockets, const char* service,
               int default_port, const char* protocol) {
  platform::WsaData data;
  if (sockets.WSAStartup(0x0202, &data) != 0) return default_port;

  const platform::ServiceEntry* entry =
      sockets.GetServByName(service, protocol);
  if (entry == nullptr) {
    sockets.WSACleanup();
    return default_port;
  }
  // The entry belongs to the sockets layer: read it before the clean-up.
  int port = sockets.Ntohs(entry->port);
  sockets.WSACleanup();
  return port;
}

}  // namespace tarvo
