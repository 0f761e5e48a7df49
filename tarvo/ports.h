// Service port resolution through the sockets layer's services database.
#pragma once

#include "platform/sockets.h"

namespace tarvo {

// The service's port in host order (0 to 65535), or `default_port` when the
// sockets layer cannot start or the database has no such service.
int LookupPort(platform::Sockets& sockets, const char* service,
               int default_port, const char* protocol);

}  // namespace tarvo
