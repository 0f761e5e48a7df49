// A services database by name and protocol, ports kept in network order as
// the sockets layer keeps them; every call recorded in order.
#pragma once

#include <map>
#include <string>

#include "platform/sockets.h"
#include "platform/testing/fakes.h"

namespace platform_test {

class FakeSockets : public platform::Sockets {
 public:
  void Define(const std::string& name, const std::string& protocol,
              platform::WORD port) {
    ports_[name + "/" + protocol] = Swap(port);
  }

  int WSAStartup(platform::WORD version, platform::WsaData*) override {
    calls.push_back("startup");
    requested_version = version;
    return startup_result;
  }
  const platform::ServiceEntry* GetServByName(const char* name,
                                              const char* protocol) override {
    calls.push_back(std::string("lookup ") + name + "/" + protocol);
    auto port = ports_.find(std::string(name) + "/" + protocol);
    if (port == ports_.end()) return nullptr;
    entry_.port = port->second;
    return &entry_;
  }
  platform::WORD Ntohs(platform::WORD value) override { return Swap(value); }
  int WSACleanup() override {
    calls.push_back("cleanup");
    entry_.port = 0xDEAD;  // the entry does not outlive the clean-up
    return 0;
  }

  int startup_result = 0;  // WSAStartup's answer
  Log calls;
  platform::WORD requested_version = 0;

 private:
  static platform::WORD Swap(platform::WORD v) {
    return static_cast<platform::WORD>((v >> 8) | (v << 8));
  }
  std::map<std::string, platform::WORD> ports_;
  platform::ServiceEntry entry_{0};
};

}  // namespace platform_test
