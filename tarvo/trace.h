// tarvo's own calls explained on the trace (platform/trace.h): the
// environment, the services database, tarvo.ini and the command line.
#pragma once

#include "platform/environment.h"
#include "platform/interpreter.h"
#include "platform/sockets.h"
#include "platform/text_file.h"
#include "platform/trace.h"

namespace tarvo {

class TracingEnvironment : public platform::Environment {
 public:
  TracingEnvironment(platform::Environment& inner, platform::TraceLog& log)
      : inner_(inner), log_(log) {}
  platform::BOOL SetEnvironmentVariableA(const char* name,
                                         const char* value) override;

 private:
  platform::Environment& inner_;
  platform::TraceLog& log_;
};

class TracingSockets : public platform::Sockets {
 public:
  TracingSockets(platform::Sockets& inner, platform::TraceLog& log)
      : inner_(inner), log_(log) {}
  int WSAStartup(platform::WORD version, platform::WsaData* data) override;
  const platform::ServiceEntry* GetServByName(const char* name,
                                              const char* protocol) override;
  platform::WORD Ntohs(platform::WORD net_value) override {
    return inner_.Ntohs(net_value);
  }
  int WSACleanup() override { return inner_.WSACleanup(); }

 private:
  platform::Sockets& inner_;
  platform::TraceLog& log_;
};

class TracingTextFiles : public platform::TextFiles {
 public:
  TracingTextFiles(platform::TextFiles& inner, platform::TraceLog& log)
      : inner_(inner), log_(log) {}
  platform::TextStream* Fopen(const char* path) override;
  char* Fgets(char* buffer, int size, platform::TextStream* stream) override;
  int Fclose(platform::TextStream* stream) override {
    return inner_.Fclose(stream);
  }

 private:
  platform::TextFiles& inner_;
  platform::TraceLog& log_;
};

class TracingInterpreter : public platform::CommandInterpreter {
 public:
  TracingInterpreter(platform::CommandInterpreter& inner,
                     platform::TraceLog& log)
      : inner_(inner), log_(log) {}
  int System(const char* command_line) override;

 private:
  platform::CommandInterpreter& inner_;
  platform::TraceLog& log_;
};

}  // namespace tarvo
