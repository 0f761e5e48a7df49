// Reading tarvo.ini: the text-mode reader against a plain model of the C
// runtime's text mode and fgets, and the launcher reading its Java runtime
// directory from the characters that model delivers.
//
// Input: byte 0 gives the number of reads with chosen sizes (its low three
// bits), the next bytes those sizes (0xFF: 1040, 0xFE: -1, else the byte
// modulo 64); the rest is the file's bytes. The file is then read to its
// end in 1040-byte lines.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/ini_model.h"
#include "platform/posix/internal.h"
#include "platform/testing/fake_registry.h"
#include "platform/testing/fakes.h"
#include "tarvo/launcher.h"

namespace {

constexpr int kLineCapacity = 1040;
constexpr char kIniPath[] = "C:\\Mgr\\bin\\tarvo.ini";
constexpr char kProgram[] = "C:\\Mgr\\bin\\tarvo.exe";
constexpr char kSiteKey[] =
    "SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Site\\CurrentVersion";

std::FILE* OpenBytes(const std::string& bytes) {
  // fmemopen reads a zero-sized buffer as an empty file.
  std::FILE* file = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
  FUZZ_CHECK(file != nullptr);
  return file;
}

// One Gets against the model: the characters it hands out, up to size - 1
// and up to a LF, then a terminator; null with nothing left (or no room).
void CheckGets(platform::TextModeReader* reader, int size,
               const std::string& text, std::size_t* position) {
  std::unique_ptr<char[]> buffer(new char[size > 0 ? size : 1]);
  char* got = reader->Gets(size > 0 ? buffer.get() : nullptr, size);
  if (size <= 0) {
    FUZZ_CHECK(got == nullptr);
    return;
  }
  std::string expected = text.substr(*position, std::size_t(size - 1));
  const std::size_t feed = expected.find('\n');
  if (feed != std::string::npos) expected.resize(feed + 1);
  if (expected.empty() && size > 1) {
    FUZZ_CHECK(got == nullptr);
    return;
  }
  FUZZ_CHECK(got == buffer.get());
  FUZZ_CHECK(std::memcmp(got, expected.data(), expected.size()) == 0);
  FUZZ_CHECK(got[expected.size()] == '\0');
  *position += expected.size();
}

void CheckReader(const std::vector<int>& sizes, const std::string& bytes) {
  const std::string text = fuzz::TextModeCharacters(bytes);
  std::FILE* file = OpenBytes(bytes);
  platform::TextModeReader reader(file);
  std::size_t position = 0;
  for (int size : sizes) CheckGets(&reader, size, text, &position);
  while (position < text.size())
    CheckGets(&reader, kLineCapacity, text, &position);
  CheckGets(&reader, kLineCapacity, text, &position);  // the end stays
  std::fclose(file);
}

// The launcher takes its Java runtime directory from the first line of the
// text that text mode delivers, and nowhere else (the registry has none to
// offer). fgets stops at the first line feed, so the line holds none but its
// last, which is dropped.
void CheckLauncher(const std::string& text) {
  platform_test::FakeRegistry registry;
  registry.Set(kSiteKey, "optPathName", "C:\\Mgr");
  registry.Set(kSiteKey, "etcPathName", "C:\\Etc");
  registry.Set(kSiteKey, "varPathName", "C:\\Var");
  platform_test::FakeSockets sockets;
  platform_test::FakeEnvironment environment;
  platform_test::FakeInterpreter interpreter;
  platform_test::FakeTextFiles files;
  files.files[kIniPath] = text;
  platform_test::FakeCodePage code_page;
  const tarvo::Platform p{registry,    sockets,
                          environment, files,
                          interpreter, platform::kWindowsPaths,
                          code_page};
  const char* const argv[] = {kProgram, "list", nullptr};
  const int status = tarvo::RunLauncher(p, 2, argv);
  FUZZ_CHECK(files.open_streams == 0);

  const std::string runtime = fuzz::IniValue(fuzz::FirstIniLine(text));
  const std::string java = "\"\"" + runtime + "\\bin\\java\" ";
  // Too long for the Java program path, or holding a quote that could end
  // the command line's quoting: nothing runs.
  if (runtime.size() + 10 > 259 || runtime.find('"') != std::string::npos) {
    FUZZ_CHECK(status == 1 && interpreter.lines.empty());
    return;
  }
  FUZZ_CHECK(status == 0 && interpreter.lines.size() == 1);
  FUZZ_CHECK(interpreter.lines[0].compare(0, java.size(), java) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  std::size_t next = 1;
  std::vector<int> sizes;
  for (int i = 0; i < (data[0] & 7) && next < size; ++i, ++next) {
    const std::uint8_t code = data[next];
    sizes.push_back(code == 0xFF ? kLineCapacity : code == 0xFE ? -1 : code % 64);
  }
  const std::string bytes(reinterpret_cast<const char*>(data + next),
                          size - next);
  CheckReader(sizes, bytes);
  CheckLauncher(fuzz::TextModeCharacters(bytes));
  return 0;
}
