// What the fakes share: Windows' types by their own names, and the log of
// what a fake saw, in order, as short readable lines, so that a test can
// assert an order of calls that matters in one comparison. Then the fakes of
// the small interfaces (the registry's, the security calls' and the
// processes' have files of their own), and a trace log to read back.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/heap.h"
#include "platform/interpreter.h"
#include "platform/sockets.h"
#include "platform/text_file.h"
#include "platform/trace.h"
#include "platform/types.h"

namespace platform_test {

using platform::BOOL;
using platform::DWORD;
using platform::HANDLE;
using platform::LONG;
using Log = std::vector<std::string>;

// Standard output kept as text, and as "write <text>" lines in a log shared
// with other fakes when one is given.
class FakeConsole : public platform::Console {
 public:
  explicit FakeConsole(Log* log = nullptr) : log_(log) {}
  void Write(const char* text) override {
    output += text;
    if (log_) log_->push_back(std::string("write ") + text);
  }
  std::string output;

 private:
  Log* log_;
};

// The process environment as a map, with the order the names were set in.
class FakeEnvironment : public platform::Environment {
 public:
  BOOL SetEnvironmentVariableA(const char* name, const char* value) override {
    set_order.push_back(name);
    variables[name] = value;
    return 1;
  }

  std::map<std::string, std::string> variables;
  Log set_order;
};

// The ANSI code page of a Windows system: 1252, where every character is
// one byte, or, with `number` set to 932, the Japanese one, whose lead bytes
// are 0x81-0x9F and 0xE0-0xFC.
class FakeCodePage : public platform::CodePage {
 public:
  BOOL IsDBCSLeadByte(platform::BYTE byte) const override {
    return number == 932 &&
           ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
  }
  unsigned number = 1252;
};

// A command interpreter that keeps the lines it is given and answers with a
// chosen status.
class FakeInterpreter : public platform::CommandInterpreter {
 public:
  int System(const char* command_line) override {
    lines.push_back(command_line);
    return status;
  }
  int status = 0;
  Log lines;
};

// malloc underneath; can refuse the n-th request (Allocate and Reallocate
// counted together, from 1) and knows which blocks are still held.
class FakeHeap : public platform::Heap {
 public:
  void* Allocate(std::size_t size) override {
    return RecordAndReallocate(nullptr, size, "allocate ");
  }
  void* Reallocate(void* block, std::size_t size) override {
    return RecordAndReallocate(block, size, "reallocate ");
  }
  void Release(void* block) override {
    bad_releases += held.erase(block) == 0;
    std::free(block);
  }
  ~FakeHeap() override {
    for (void* block : held) std::free(block);
  }

  int fail_request = 0;
  Log requests;
  std::set<void*> held;
  int bad_releases = 0;

 private:
  // A refused reallocation leaves the block held, as realloc does.
  void* RecordAndReallocate(void* block, std::size_t size, const char* what) {
    requests.push_back(what + std::to_string(size));
    if (static_cast<int>(requests.size()) == fail_request) return nullptr;
    void* given = std::realloc(block, size);
    held.erase(block);
    held.insert(given);
    return given;
  }
};

// Files by path, their contents already as text mode delivers them.
class FakeTextFiles : public platform::TextFiles {
 public:
  platform::TextStream* Fopen(const char* path) override {
    opened.push_back(path);
    auto file = files.find(path);
    if (file == files.end()) return nullptr;
    streams_.push_back(Stream{file->second, 0});
    ++open_streams;
    return reinterpret_cast<platform::TextStream*>(streams_.size());
  }
  // As fgets: up to size - 1 characters and a line feed, then a terminator.
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
  Log opened;
  int open_streams = 0;
  int lines_read = 0;

 private:
  struct Stream {
    std::string text;
    std::size_t position;
  };
  std::vector<Stream> streams_;
};

// A services database by name and protocol, ports kept in network order as
// the sockets layer keeps them; every call recorded in order.
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

// A trace log whose lines a test reads back, from a temporary file.
class TraceOutput {
 public:
  TraceOutput() : file_(std::tmpfile()), log_("prog", file_) {}
  ~TraceOutput() { std::fclose(file_); }
  platform::TraceLog& log() { return log_; }
  std::string Text() {
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(char(c));
    return text;
  }

 private:
  std::FILE* file_;
  platform::TraceLog log_;
};

}  // namespace platform_test
