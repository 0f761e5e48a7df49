// Recording fakes of the platform for tarvo's tests.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/interpreter.h"
#include "platform/registry.h"
#include "platform/sockets.h"
#include "platform/text_file.h"

namespace tarvo_test {

inline std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Keys and values by name, compared without regard to case as Windows does.
class FakeRegistry : public platform::Registry {
 public:
  void SetString(const std::string& key, const std::string& name,
                 const std::string& text) {
    std::string bytes = text;
    bytes.push_back('\0');
    SetBytes(key, name, bytes);
  }
  void SetBytes(const std::string& key, const std::string& name,
                const std::string& bytes) {
    keys_[Lower(key)][Lower(name)] = bytes;
  }

  platform::LONG RegOpenKeyExA(platform::HKEY root, const char* sub_key,
                               platform::DWORD options, platform::DWORD access,
                               platform::HKEY* result) override {
    opened.push_back(sub_key);
    last_root = root;
    last_options = options;
    last_access = access;
    auto key = keys_.find(Lower(sub_key));
    if (key == keys_.end()) return platform::kErrorFileNotFound;
    handles_.push_back(key->first);
    ++open_handles;
    *result = reinterpret_cast<platform::HKEY>(handles_.size());
    return 0;
  }

  platform::LONG RegQueryValueExA(platform::HKEY key, const char* name,
                                  platform::DWORD*, platform::DWORD*,
                                  platform::BYTE* data,
                                  platform::DWORD* size) override {
    queried.push_back(name);
    offered.push_back(*size);
    const std::string& key_name =
        handles_.at(reinterpret_cast<std::size_t>(key) - 1);
    auto& values = keys_[key_name];
    auto value = values.find(Lower(name));
    if (value == values.end()) return platform::kErrorFileNotFound;
    platform::DWORD needed = static_cast<platform::DWORD>(value->second.size());
    platform::DWORD room = *size;
    *size = needed;
    if (needed > room) return platform::kErrorMoreData;
    std::memcpy(data, value->second.data(), needed);
    return 0;
  }

  platform::LONG RegCloseKey(platform::HKEY) override {
    --open_handles;
    return 0;
  }

  std::vector<std::string> opened;
  std::vector<std::string> queried;
  std::vector<platform::DWORD> offered;
  platform::HKEY last_root = nullptr;
  platform::DWORD last_options = 99;
  platform::DWORD last_access = 0;
  int open_handles = 0;

 private:
  std::map<std::string, std::map<std::string, std::string>> keys_;
  std::vector<std::string> handles_;
};

// A services database by (name, protocol); ports kept in network order.
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

  std::vector<std::string> calls;
  platform::WORD requested_version = 0;
  int startup_result = 0;

 private:
  static platform::WORD Swap(platform::WORD v) {
    return static_cast<platform::WORD>((v >> 8) | (v << 8));
  }
  std::map<std::string, platform::WORD> ports_;
  platform::ServiceEntry entry_{0};
};

class FakeEnvironment : public platform::Environment {
 public:
  platform::BOOL SetEnvironmentVariableA(const char* name,
                                         const char* value) override {
    variables[name] = value;
    set_order.push_back(name);
    return 1;
  }
  std::map<std::string, std::string> variables;
  std::vector<std::string> set_order;
};

// Files by path, their contents already as text mode delivers them.
class FakeTextFiles : public platform::TextFiles {
 public:
  struct Stream {
    std::string text;
    std::size_t position = 0;
  };

  platform::TextStream* Fopen(const char* path) override {
    opened.push_back(path);
    auto file = files.find(path);
    if (file == files.end()) return nullptr;
    streams_.push_back(Stream{file->second, 0});
    ++open_streams;
    return reinterpret_cast<platform::TextStream*>(streams_.size());
  }
  char* Fgets(char* buffer, int size, platform::TextStream* handle) override {
    Stream& s = streams_.at(reinterpret_cast<std::size_t>(handle) - 1);
    ++lines_read;
    int n = 0;
    while (n < size - 1 && s.position < s.text.size()) {
      char c = s.text[s.position++];
      buffer[n++] = c;
      if (c == '\n') break;
    }
    if (n == 0) return nullptr;
    buffer[n] = '\0';
    return buffer;
  }
  int Fclose(platform::TextStream*) override {
    --open_streams;
    return 0;
  }

  std::map<std::string, std::string> files;
  std::vector<std::string> opened;
  int open_streams = 0;
  int lines_read = 0;

 private:
  std::vector<Stream> streams_;
};

class FakeInterpreter : public platform::CommandInterpreter {
 public:
  int System(const char* command_line) override {
    lines.push_back(command_line);
    return status;
  }
  std::vector<std::string> lines;
  int status = 0;
};

}  // namespace tarvo_test
