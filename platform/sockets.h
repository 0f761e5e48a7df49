// The sockets layer's services database, mirroring Windows Sockets.
#pragma once

#include "platform/types.h"

namespace platform {

// The part of WSADATA a caller may look at.
struct WsaData {
  WORD version;
};

// The part of a servent these programs read: the port, in network order.
struct ServiceEntry {
  WORD port;
};

class Sockets {
 public:
  virtual ~Sockets() = default;

  // WSAStartup: 0 when the sockets layer is ready.
  virtual int WSAStartup(WORD version, WsaData* data) = 0;
  // getservbyname: the entry, valid until the next sockets call, or null.
  virtual const ServiceEntry* GetServByName(const char* name,
                                            const char* protocol) = 0;
  // ntohs.
  virtual WORD Ntohs(WORD net_value) = 0;
  // WSACleanup.
  virtual int WSACleanup() = 0;
};

Sockets& SystemSockets();

}  // namespace platform
