#include "tarvo/trace.h"

#include <cstring>

namespace tarvo {

platform::BOOL TracingEnvironment::SetEnvironmentVariableA(const char* name,
                                                           const char* value) {
  log_.Line("environment %s=%s", name, value != nullptr ? value : "");
  return inner_.SetEnvironmentVariableA(name, value);
}

int TracingSockets::WSAStartup(WORD version, platform::WsaData* data) {
  int status = inner_.WSAStartup(version, data);
  if (status != 0) log_.Line("sockets layer cannot start (error %d)", status);
  return status;
}

const platform::ServiceEntry* TracingSockets::GetServByName(
    const char* name, const char* protocol) {
  const platform::ServiceEntry* entry = inner_.GetServByName(name, protocol);
  if (entry == nullptr) {
    log_.Line("service %s/%s: not in the services database: default port", name,
              protocol);
  } else {
    log_.Line("service %s/%s: port %u", name, protocol,
              static_cast<unsigned>(inner_.Ntohs(entry->port)));
  }
  return entry;
}

platform::TextStream* TracingTextFiles::Fopen(const char* path) {
  platform::TextStream* stream = inner_.Fopen(path);
  log_.Line("ini file %s: %s", path,
            stream != nullptr ? "opened" : "cannot be opened");
  return stream;
}

char* TracingTextFiles::Fgets(char* buffer, int size,
                              platform::TextStream* stream) {
  char* line = inner_.Fgets(buffer, size, stream);
  if (line == nullptr) {
    log_.Line("ini file is empty");
  } else {
    log_.Line("ini file's first line: \"%.*s\"",
              static_cast<int>(std::strcspn(line, "\n")), line);
  }
  return line;
}

int TracingInterpreter::System(const char* command_line) {
  log_.Line("command line: %s", command_line);
  int status = inner_.System(command_line);
  log_.Line("command interpreter ended with status %d", status);
  return status;
}

}  // namespace tarvo
