// tarvo's own calls explained on the trace (platform/trace.h): the
// environment, the services database, tarvo.ini and the command line.
#pragma once

#include "platform/environment.h"
#include "platform/interpreter.h"
#include "platform/sockets.h"
#include "platform/text_file.h"
#include "platform/trace.h"

namespace tarvo {

class TracingEnvironment : public platform::Tracing<platform::Environment> {
 public:
  using Tracing::Tracing;
  BOOL SetEnvironmentVariableA(const char* name, const char* value) override;
};

class TracingSockets : public platform::Tracing<platform::Sockets> {
 public:
  using Tracing::Tracing;
  int WSAStartup(WORD version, platform::WsaData* data) override;
  const platform::ServiceEntry* GetServByName(const char* name,
                                              const char* protocol) override;
  WORD Ntohs(WORD net_value) override { return inner_.Ntohs(net_value); }
  int WSACleanup() override { return inner_.WSACleanup(); }
};

class TracingTextFiles : public platform::Tracing<platform::TextFiles> {
 public:
  using Tracing::Tracing;
  platform::TextStream* Fopen(const char* path) override;
  char* Fgets(char* buffer, int size, platform::TextStream* stream) override;
  int Fclose(platform::TextStream* stream) override {
    return inner_.Fclose(stream);
  }
};

class TracingInterpreter
    : public platform::Tracing<platform::CommandInterpreter> {
 public:
  using Tracing::Tracing;
  int System(const char* command_line) override;
};

}  // namespace tarvo
