#include "platform/posix/registry_internal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

namespace platform {
namespace {

constexpr const char* kV5 = "Windows Registry Editor Version 5.00\r\n\r\n";

// The bytes that `reg export` writes: BOM, then UTF-16LE code units.
std::string Utf16LeFile(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(char(unit & 0xFF));
    bytes.push_back(char(unit >> 8));
  }
  return bytes;
}

// The value's data, or "<missing>", or "<unreadable>" for one whose data
// cannot be decoded whole.
std::string Data(const RegistryFile& file, const char* key, const char* name) {
  const RegistryFileKey* found = file.FindKey(key);
  if (found == nullptr) return "<no key>";
  const RegistryValue* value = found->FindValue(name);
  if (value == nullptr) return "<missing>";
  if (value->fault != nullptr) return "<unreadable>";
  EXPECT_TRUE(value->Whole()) << name;
  return value->data;
}

// The value's type, or 0xFFFFFFFF when it is missing.
DWORD Type(const RegistryFile& file, const char* key, const char* name) {
  const RegistryFileKey* found = file.FindKey(key);
  const RegistryValue* value = found ? found->FindValue(name) : nullptr;
  return value == nullptr ? 0xFFFFFFFFu : value->type;
}

std::string V5(const std::string& body) { return std::string(kV5) + body; }

TEST(RegistryFileEncodingTest, AcceptsBothHeadersAndEncodings) {
  const std::string v5 = V5("[HKEY_LOCAL_MACHINE\\S]\r\n\"a\"=\"x\"\r\n");
  const std::string utf8_bom = "\xEF\xBB\xBF" + v5;
  const std::string v4 = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"a\"=\"x\"\n";
  for (const std::string& text : {v5, utf8_bom, v4}) {
    EXPECT_EQ(std::string("x\0", 2),
              Data(RegistryFile::Parse(text), "HKEY_LOCAL_MACHINE\\S", "a"))
        << text;
  }
}

TEST(RegistryFileEncodingTest, Utf16LeFileBecomesUtf8) {
  // "é" and a character outside the BMP (a surrogate pair); hex(2) holds
  // "%A%é" with its terminator as UTF-16LE bytes, the way regedit writes it.
  // U+4E0A and U+0A0A U+4E00 hold a byte 0x0A, the latter followed by a
  // zero byte: no line ends inside them.
  const RegistryFile file = RegistryFile::Parse(
      Utf16LeFile(u"Windows Registry Editor Version 5.00\r\n\r\n"
                  u"[HKEY_LOCAL_MACHINE\\Caf\u00e9]\r\n"
                  u"\"n\"=\"\u00e9\U0001F600\"\r\n"
                  u"\"e\"=hex(2):25,00,41,00,25,00,e9,00,00,00\r\n"
                  u"\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                  u"[HKEY_LOCAL_MACHINE\\\u4e0a]\r\n"
                  u"\"\u0a0a\u4e00\"=\"\u4e0a\"\r\n"));
  EXPECT_EQ(std::string("\xC3\xA9\xF0\x9F\x98\x80\0", 7),
            Data(file, "HKEY_LOCAL_MACHINE\\CAF\xC3\xA9", "n"));
  EXPECT_EQ(std::string("%A%\xC3\xA9\0", 6),
            Data(file, "HKLM\\Caf\xC3\xA9", "e"));
  EXPECT_EQ(std::string("a\0b\0\0", 5), Data(file, "HKLM\\Caf\xC3\xA9", "m"));
  EXPECT_EQ(std::string("\xE4\xB8\x8A\0", 4),
            Data(file, "HKLM\\\xE4\xB8\x8A", "\xE0\xA8\x8A\xE4\xB8\x80"));
}

TEST(RegistryFileEncodingTest, Regedit4KeepsNarrowHexStrings) {
  const RegistryFile file = RegistryFile::Parse(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\S]\n\"e\"=hex(2):25,41,25,00\n");
  EXPECT_EQ(std::string("%A%\0", 4), Data(file, "HKLM\\S", "e"));
  EXPECT_EQ(kRegExpandSz, Type(file, "HKLM\\S", "e"));
}

TEST(RegistryFileEncodingTest, UnknownHeaderGivesNoKeys) {
  for (const char* text :
       {"", "Windows Registry Editor Version 6.00\n[HKEY_LOCAL_MACHINE\\S]\n",
        "[HKEY_LOCAL_MACHINE\\S]\n\"a\"=\"x\"\n"}) {
    const RegistryFile file = RegistryFile::Parse(text);
    EXPECT_EQ(nullptr, file.FindKey("HKEY_LOCAL_MACHINE\\S")) << text;
    EXPECT_NE(nullptr, file.FindKey("HKEY_LOCAL_MACHINE")) << text;
  }
}

TEST(RegistryFileValueTest, EveryValueType) {
  const RegistryFile file =
      RegistryFile::Parse(V5("[HKEY_LOCAL_MACHINE\\T]\n"
                             "@=\"default\"\n"
                             "\"s\"=\"C:\\\\Program Files\\\\\\\"q\\\"\"\n"
                             "\"raw\"=\"C:\\Dir\"\n"
                             "\"d\"=dword:0000abcd\n"
                             "\"b\"=hex:01,ff,0A\n"
                             "\"c\"=hex:01,02,\\\r\n  03,04,\\\r\n\t05\r\n"
                             "\"empty\"=hex:\n"
                             "\"q\"=hex(b):01,02,03,04,05,06,07,08\n"
                             "\"none\"=hex(0):7f\n"
                             "\"odd\"=hex(ffff0001):01\n"));
  const char* key = "HKLM\\T";
  EXPECT_EQ(std::string("default\0", 8), Data(file, key, ""));
  EXPECT_EQ(std::string("C:\\Program Files\\\"q\"\0", 21),
            Data(file, key, "s"));
  EXPECT_EQ(std::string("C:\\Dir\0", 7), Data(file, key, "raw"));
  EXPECT_EQ(kRegSz, Type(file, key, "s"));
  EXPECT_EQ(std::string("\xcd\xab\0\0", 4), Data(file, key, "d"));
  EXPECT_EQ(kRegDword, Type(file, key, "d"));
  EXPECT_EQ(std::string("\x01\xff\x0a", 3), Data(file, key, "b"));
  EXPECT_EQ(kRegBinary, Type(file, key, "b"));
  EXPECT_EQ(std::string("\1\2\3\4\5", 5), Data(file, key, "c"));  // continued
  EXPECT_EQ("", Data(file, key, "empty"));
  EXPECT_EQ(std::string("\1\2\3\4\5\6\7\x08", 8), Data(file, key, "q"));
  EXPECT_EQ(kRegQword, Type(file, key, "q"));
  EXPECT_EQ(0u, Type(file, key, "none"));
  EXPECT_EQ(0xffff0001u, Type(file, key, "odd"));
}

TEST(RegistryFileValueTest, CommentsAndUnparsableLinesAreSkipped) {
  const RegistryFile file =
      RegistryFile::Parse(V5("\"early\"=\"no key yet\"\n"
                             "[HKEY_LOCAL_MACHINE\\T]\n"
                             "; \"c\"=\"comment\"\n"
                             "garbage line\n"
                             "\"unterminated=x\n"
                             "\"ok\"=\"yes\"\n"
                             "[HKEY_NOWHERE\\T]\n"
                             "\"lost\"=\"x\"\n"
                             "[HKEY_LOCAL_MACHINE\\T\n"
                             "\"lost2\"=\"x\"\n"));
  const RegistryFileKey* key = file.FindKey("HKLM\\T");
  ASSERT_NE(nullptr, key);
  EXPECT_EQ(1u, key->values.size());
  EXPECT_EQ(std::string("yes\0", 4), Data(file, "HKLM\\T", "ok"));
  EXPECT_EQ(nullptr, file.FindKey("HKEY_NOWHERE\\T"));
}

TEST(RegistryFileValueTest, DataThatCannotBeDecodedWholeIsUnreadable) {
  // Each replaces an earlier good "v": the last word on a value wins.
  const char* const cases[] = {
      "\"v\"=\"abc\n",                  // no closing quote
      "\"v\"=\"x\" trailing\n",
      "\"v\"=dword:123456789\n",
      "\"v\"=-x\n",
      "\"v\"=other:01\n",
      "\"v\"=hex(zz):01\n",
      "\"v\"=hex(2):41,00,5\n",        // cut off mid-byte
      "\"v\"=hex:1,234\n",
      "\"v\"=hex:01,,02\n",
      "\"v\"=hex:01,02 03\n",
      "\"v\"=hex(2):41,00,\\\n",       // a continuation at the end
      "\"v\"=hex:01,\\\n\n\"w\"=\"2\"\n",  // into a blank line
      "\"v\"=hex:01,\\\n; 02\n",       // into a comment
      "\"v\"=hex:01,\\\n  02,zz\n",
      "\"v\"=hex:01,\\ 02\n",
  };
  for (const char* line : cases) {
    const RegistryFile file = RegistryFile::Parse(
        V5("[HKEY_LOCAL_MACHINE\\T]\n\"v\"=\"good\"\n" + std::string(line)));
    EXPECT_EQ("<unreadable>", Data(file, "HKLM\\T", "v")) << line;
  }
}

TEST(RegistryFileKeyTest, NamesIgnoreLetterCaseAndParentsExist) {
  const RegistryFile file =
      RegistryFile::Parse(V5("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvane\\Site]\n"
                             "\"jrePathName\"=\"C:\\\\JRE\"\n"
                             "[hklm\\software\\TALVANE\\site]\n"
                             "\"JREPATHNAME\"=\"D:\\\\JRE\"\n"));
  EXPECT_EQ(
      std::string("D:\\JRE\0", 7),
      Data(file, "HKEY_LOCAL_MACHINE\\Software\\Talvane\\Site", "jrepathname"));
  EXPECT_NE(nullptr, file.FindKey("HKEY_LOCAL_MACHINE\\software"));
  EXPECT_NE(nullptr, file.FindKey("HKEY_LOCAL_MACHINE\\Software\\Talvane"));
  EXPECT_EQ(nullptr, file.FindKey("HKEY_LOCAL_MACHINE\\Software\\Tal"));
  EXPECT_EQ(nullptr, file.FindKey("HKEY_LOCAL_MACHINE\\Software\\\\Talvane"));
}

TEST(RegistryFileKeyTest, DeletionsApplyInFileOrder) {
  const RegistryFile file = RegistryFile::Parse(
      V5("[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n"
         "[HKEY_LOCAL_MACHINE\\A\\B\\C\\D]\n"
         "[HKEY_LOCAL_MACHINE\\A\\B-sibling]\n"
         "[HKEY_LOCAL_MACHINE\\A\\Bc]\n"
         "[-HKEY_LOCAL_MACHINE\\a\\b]\n"
         "\"ignored\"=\"after a deletion\"\n"
         "[HKEY_LOCAL_MACHINE\\Keep]\n\"x\"=\"1\"\n\"y\"=\"1\"\n\"x\"=-\n"
         "\"y\"=-\n\"y\"=\"2\"\n"
         "[-HKEY_LOCAL_MACHINE]\n"
         "[HKEY_LOCAL_MACHINE\\A\\B\\New]\n"));
  EXPECT_NE(nullptr, file.FindKey("HKLM\\A\\B\\New"));
  EXPECT_EQ("<missing>", Data(file, "HKLM\\A\\B", "v"));  // re-created empty
  EXPECT_EQ(nullptr, file.FindKey("HKLM\\A\\B\\C"));
  EXPECT_NE(nullptr, file.FindKey("HKLM\\A\\B-sibling"));
  EXPECT_NE(nullptr, file.FindKey("HKLM\\A\\Bc"));
  EXPECT_EQ("<missing>", Data(file, "HKLM\\Keep", "x"));
  EXPECT_EQ(std::string("2\0", 2), Data(file, "HKLM\\Keep", "y"));
}

TEST(RegistryFileKeyTest, ContinuationNeverTakesAKeyOrValueLine) {
  // A backslash that would run a value on into the next key's lines, or
  // into a value line, leaves them lines of their own, in either encoding.
  const std::string body =
      "[HKEY_LOCAL_MACHINE\\T]\r\n"
      "\"v\"=\"1\"\r\n"
      "\"junk\"=hex(2):41,00,\\\r\n"
      "[HKEY_LOCAL_MACHINE\\Other]\r\n"
      "\"jre\"=\"/evil\"\r\n"
      "\"b\"=hex:01,\\\r\n"
      "  \"w\"=\"2\"\r\n"
      "[HKEY_LOCAL_MACHINE\\T]\r\n"
      "\"odd\"=hex(2):41,00,42,\\\r\n"
      "  00,43\r\n"
      "\"lone\"=hex(1):00,d8,41,00\r\n";
  const std::string narrow = V5(body);
  const std::string wide =
      Utf16LeFile(std::u16string(narrow.begin(), narrow.end()));
  for (const std::string& text : {narrow, wide}) {
    const RegistryFile file = RegistryFile::Parse(text);
    EXPECT_EQ("<unreadable>", Data(file, "HKLM\\T", "junk"));
    EXPECT_EQ("<missing>", Data(file, "HKLM\\T", "jre"));
    EXPECT_EQ(std::string("/evil\0", 6), Data(file, "HKLM\\Other", "jre"));
    EXPECT_EQ("<unreadable>", Data(file, "HKLM\\Other", "b"));
    EXPECT_EQ(std::string("2\0", 2), Data(file, "HKLM\\Other", "w"));
    // An odd byte count is still taken, its last byte dropped.
    EXPECT_EQ("AB", Data(file, "HKLM\\T", "odd"));
    EXPECT_EQ("\xEF\xBF\xBD" "A", Data(file, "HKLM\\T", "lone"));
  }
}

// The value through the narrow calls into `size` bytes, or why there is
// none.
std::string Query(Registry& registry, const char* sub_key, const char* name,
                  DWORD size = kKeptValueBytes) {
  HKEY key = nullptr;
  if (registry.RegOpenKeyExA(LocalMachineKey(), sub_key, 0, kKeyRead, &key))
    return "<no key>";
  std::string data(size, '\0');
  const LONG status = registry.RegQueryValueExA(
      key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]), &size);
  registry.RegCloseKey(key);
  return status == 0 ? data.substr(0, size) : "<missing>";
}

class PosixRegistryTest : public ::testing::Test {
 protected:
  HKEY Open(const char* sub_key) {
    HKEY key = nullptr;
    EXPECT_EQ(0, registry_.RegOpenKeyExA(LocalMachineKey(), sub_key, 0,
                                         kKeyRead, &key));
    return key;
  }

  const std::string text_ =
      V5("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Site]\n\"p259\"=\"" +
         std::string(259, 'a') + "\"\n\"p260\"=\"" + std::string(260, 'b') +
         "\"\n@=\"dflt\"\n\"d\"=dword:00000007\n");
  PosixRegistry registry_{[this] { return RegistryFile::Parse(text_); }};
};

TEST_F(PosixRegistryTest, OpensKeysInAnyLetterCase) {
  HKEY key = nullptr;
  EXPECT_EQ(0, registry_.RegOpenKeyExA(LocalMachineKey(), "software\\SITE", 0,
                                       kKeyRead, &key));
  EXPECT_EQ(0, registry_.RegCloseKey(key));
  EXPECT_EQ(6, registry_.RegCloseKey(key));
  EXPECT_EQ(2, registry_.RegOpenKeyExA(LocalMachineKey(), "SOFTWARE\\Other", 0,
                                       kKeyRead, &key));
  EXPECT_EQ(2, registry_.RegOpenKeyExA(LocalMachineKey(), "SOFTWARE\\", 0,
                                       kKeyRead, &key));
  HKEY parent = Open("SOFTWARE");
  EXPECT_EQ(0, registry_.RegOpenKeyExA(parent, "Site", 0, kKeyRead, &key));
  DWORD size = 0;
  EXPECT_EQ(0, registry_.RegQueryValueExA(key, "D", nullptr, nullptr, nullptr,
                                          &size));
  EXPECT_EQ(4u, size);
  HKEY root = Open("");
  EXPECT_NE(root, parent);
  EXPECT_EQ(0, registry_.RegCloseKey(root));
}

TEST_F(PosixRegistryTest, ValueFitsOrLeavesDestinationUntouched) {
  EXPECT_EQ(std::string(259, 'a') + '\0',
            Query(registry_, "Software\\Site", "P259"));
  HKEY key = Open("Software\\Site");
  BYTE buffer[260];
  std::fill(buffer, buffer + sizeof buffer, BYTE('z'));
  DWORD size = sizeof buffer;
  DWORD type = kRegSz;
  EXPECT_EQ(234, registry_.RegQueryValueExA(key, "p260", nullptr, &type, buffer,
                                            &size));
  EXPECT_EQ(261u, size);
  EXPECT_EQ(std::string(260, 'z'), std::string(buffer, buffer + sizeof buffer));

  EXPECT_EQ(std::string(260, 'b') + '\0',
            Query(registry_, "Software\\Site", "p260", 300));
}

TEST_F(PosixRegistryTest, QueryConventions) {
  HKEY key = Open("Software\\Site");
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(
      0, registry_.RegQueryValueExA(key, "d", nullptr, &type, nullptr, &size));
  EXPECT_EQ(kRegDword, type);
  EXPECT_EQ(4u, size);
  BYTE buffer[8] = {};
  size = sizeof buffer;
  EXPECT_EQ(0, registry_.RegQueryValueExA(key, nullptr, nullptr, &type, buffer,
                                          &size));
  EXPECT_EQ(5u, size);
  EXPECT_STREQ("dflt", reinterpret_cast<char*>(buffer));
  size = sizeof buffer;
  EXPECT_EQ(
      0, registry_.RegQueryValueExA(key, "", nullptr, nullptr, buffer, &size));
  EXPECT_EQ(2, registry_.RegQueryValueExA(key, "missing", nullptr, &type,
                                          buffer, &size));
  EXPECT_EQ(87, registry_.RegQueryValueExA(key, "d", nullptr, &type, buffer,
                                           nullptr));
  EXPECT_EQ(6, registry_.RegQueryValueExA(nullptr, "d", nullptr, &type, buffer,
                                          &size));
}

// Text in memory that counts the passes over it, each from its start.
class CountingSource : public RegistrySource {
 public:
  CountingSource(std::string bytes, int* passes)
      : bytes_(MemorySource(std::move(bytes))), passes_(passes) {}
  std::size_t ReadAt(std::uint64_t offset, char* buffer,
                     std::size_t size) const override {
    *passes_ += offset == 0;
    return bytes_->ReadAt(offset, buffer, size);
  }
  std::uint64_t SizeWhenOpened() const override {
    return bytes_->SizeWhenOpened();
  }

 private:
  std::unique_ptr<RegistrySource> bytes_;
  int* passes_;
};

TEST(PosixRegistryLoadTest, NamedKeysComeFromOnePassOnFirstOpen) {
  // A stale copy of the site key before the real one, a key not named, and
  // the file cut short in the site key's last value, narrow and UTF-16LE.
  const std::string narrow =
      V5("[HKEY_LOCAL_MACHINE\\Site]\r\n\"jre\"=\"/stale\"\r\n\"old\"=\"1\"\r\n"
         "[HKEY_LOCAL_MACHINE\\Provider]\r\n\"opt\"=\"/opt\"\r\n"
         "[-HKEY_LOCAL_MACHINE\\Site]\r\n[hklm\\SITE]\r\n\"jre\"=\"/jre\"\r\n"
         "[HKEY_LOCAL_MACHINE\\Other]\r\n\"v\"=\"x\"\r\n"
         "[HKEY_LOCAL_MACHINE\\Site]\r\n\"cut\"=\"abc\"\r\n");
  const std::string wide =
      Utf16LeFile(std::u16string(narrow.begin(), narrow.end()));
  const char* const named[] = {"HKLM\\Provider", "HKEY_LOCAL_MACHINE\\Site",
                               "hklm\\site", nullptr};
  for (const std::string* text : {&narrow, &wide}) {
    // Cut before the closing quote (and in the wide file, mid-character).
    const std::string cut =
        text->substr(0, text->size() - (text == &wide ? 7 : 3));
    int passes = 0;
    PosixRegistry registry([&] {
      return RegistryFile(std::make_unique<CountingSource>(cut, &passes));
    });
    registry.Expect(named);
    EXPECT_EQ(0, passes);
    EXPECT_EQ(std::string("/jre\0", 5), Query(registry, "Site", "jre"));
    EXPECT_EQ("<missing>", Query(registry, "Site", "old"));
    EXPECT_EQ("<missing>", Query(registry, "Site", "cut"));
    EXPECT_EQ(std::string("/opt\0", 5), Query(registry, "provider", "OPT"));
    EXPECT_EQ(1, passes);
    EXPECT_EQ(std::string("x\0", 2), Query(registry, "Other", "v"));
    EXPECT_EQ("<no key>", Query(registry, "Nowhere", "v"));
    EXPECT_EQ(3, passes);
  }
}

// A file of its own under /tmp holding `bytes`, or "" when it cannot be
// made. The caller removes it.
std::string TemporaryFile(const std::string& bytes) {
  char path[] = "/tmp/registry_file_test_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return "";
  const bool written =
      write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  close(fd);
  return written ? path : "";
}

TEST(PosixRegistryLoadTest, ReadsTheFileNamedByTheEnvironment) {
  const std::string path = TemporaryFile(Utf16LeFile(
      u"Windows Registry Editor Version "
      u"5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"x\"\r\n"));
  ASSERT_NE("", path);
  setenv("TALVANE_REGISTRY", path.c_str(), 1);
  PosixRegistry from_file;
  EXPECT_EQ(std::string("x\0", 2), Query(from_file, "K", "v"));
  std::remove(path.c_str());  // now missing
  PosixRegistry missing;
  EXPECT_EQ("<no key>", Query(missing, "K", "v"));
  EXPECT_EQ("<no key>", Query(SystemRegistry(), "K", "v"));
  unsetenv("TALVANE_REGISTRY");
  EXPECT_EQ("/etc/opt/talvane/registry.reg", RegistryFilePath());
}

TEST(PosixRegistryLoadTest, LargePipedAndDeviceFiles) {
  // Many chunks, with keys at both ends, looked for from the end first.
  std::string text = V5("[HKEY_LOCAL_MACHINE\\First]\r\n\"v\"=\"start\"\r\n");
  while (text.size() < (3u << 20)) {
    text += "[HKEY_LOCAL_MACHINE\\Filler\\" + std::to_string(text.size()) +
            "]\r\n\"Name\"=\"" + std::string(200, 'f') + "\"\r\n";
  }
  text += "[HKEY_LOCAL_MACHINE\\Last]\r\n\"v\"=\"end\"\r\n";
  const std::string large = TemporaryFile(text);
  ASSERT_NE("", large);
  const RegistryFile file = LoadRegistryFile(large);
  std::remove(large.c_str());  // what was opened stays readable
  EXPECT_EQ(std::string("end\0", 4), Data(file, "HKLM\\Last", "v"));
  EXPECT_EQ(std::string("start\0", 6), Data(file, "HKLM\\First", "v"));

  // A device is no registry, however much it would give.
  const RegistryFile device = LoadRegistryFile("/dev/zero");
  EXPECT_NE(nullptr, device.FindKey("HKEY_LOCAL_MACHINE"));
  EXPECT_NE("", device.Why());

  // A pipe is read once and kept. A root's value is read through the
  // root's own handle.
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  const std::string piped =
      "REGEDIT4\n[HKEY_LOCAL_MACHINE]\n\"r\"=dword:00000005\n";
  ASSERT_EQ(ssize_t(piped.size()), write(fds[1], piped.data(), piped.size()));
  close(fds[1]);
  PosixRegistry registry([&fds] {
    return LoadRegistryFile("/proc/self/fd/" + std::to_string(fds[0]));
  });
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(0, registry.RegQueryValueExA(LocalMachineKey(), "R", nullptr, &type,
                                         nullptr, &size));
  EXPECT_EQ(kRegDword, type);
  EXPECT_EQ(4u, size);
  close(fds[0]);
}

// The file opened from `path`, cut to nothing when a pass first reads on
// from beyond its start: at a point that reading has reached.
class CutWhileRead : public RegistrySource {
 public:
  CutWhileRead(std::unique_ptr<RegistrySource> file, std::string path)
      : file_(std::move(file)), path_(std::move(path)) {}
  std::size_t ReadAt(std::uint64_t offset, char* buffer,
                     std::size_t size) const override {
    if (offset > 0 && !cut_) {
      EXPECT_EQ(0, truncate(path_.c_str(), 0));
      cut_ = true;
    }
    return file_->ReadAt(offset, buffer, size);
  }
  std::uint64_t SizeWhenOpened() const override {
    return file_->SizeWhenOpened();
  }

 private:
  std::unique_ptr<RegistrySource> file_;
  std::string path_;
  mutable bool cut_ = false;
};

TEST(PosixRegistryLoadTest, FileCutShortWhileReadEndsWhereReadingStopped) {
  // One key in the first chunk read, the other four chunks on.
  const std::string path = TemporaryFile(
      V5("[HKEY_LOCAL_MACHINE\\First]\r\n\"v\"=\"start\"\r\n") +
      std::string(1 << 18, '\n') +
      "[HKEY_LOCAL_MACHINE\\Last]\r\n\"v\"=\"end\"\r\n");
  ASSERT_NE("", path);
  std::string why;
  std::unique_ptr<RegistrySource> opened = OpenRegistrySource(path, &why);
  ASSERT_NE(nullptr, opened) << why;
  RegistryFile file(std::make_unique<CutWhileRead>(std::move(opened), path));
  const char* const named[] = {"HKLM\\Last", nullptr};
  file.Expect(named);
  EXPECT_EQ(std::string("start\0", 6), Data(file, "HKLM\\First", "v"));
  EXPECT_EQ("<no key>", Data(file, "HKLM\\Last", "v"));
  std::remove(path.c_str());
}

TEST(PosixRegistryLoadTest, LongValuesAndManyValuesAreCountedNotHeld) {
  // A megabyte of hex data on one line, and more values than a key keeps:
  // sizes are whole, and a caller that can take a value gets all of it.
  std::string text = V5("[HKEY_LOCAL_MACHINE\\K]\n\"long\"=hex:");
  for (int i = 0; i < (1 << 20); ++i) text += i % 2 ? "00," : "7f,";
  text += "01\n";
  for (int i = 0; i < 1000; ++i)
    text += "\"v" + std::to_string(i) + "\"=\"" + std::string(250, 'x') + "\"\n";
  PosixRegistry registry([&text] { return RegistryFile::Parse(text); });
  HKEY key = nullptr;
  ASSERT_EQ(0, registry.RegOpenKeyExA(LocalMachineKey(), "K", 0, kKeyRead, &key));
  DWORD size = 0;
  EXPECT_EQ(0, registry.RegQueryValueExA(key, "long", nullptr, nullptr, nullptr,
                                         &size));
  EXPECT_EQ((1u << 20) + 1, size);
  const std::string buffer = Query(registry, "K", "long", size);
  EXPECT_EQ(std::string("\x7f\0\x7f", 3), buffer.substr(0, 3));
  EXPECT_EQ('\x01', buffer.back());
  EXPECT_EQ(std::string(250, 'x') + '\0', Query(registry, "K", "V999"));
}

}  // namespace
}  // namespace platform
