#include "platform/posix/registry-posix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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
  const RegistryFile file = RegistryFile::Parse(
      Utf16LeFile(u"Windows Registry Editor Version 5.00\r\n\r\n"
                  u"[HKEY_LOCAL_MACHINE\\Caf\u00e9]\r\n"
                  u"\"n\"=\"\u00e9\U0001F600\"\r\n"
                  u"\"e\"=hex(2):25,00,41,00,25,00,e9,00,00,00\r\n"
                  u"\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"));
  EXPECT_EQ(std::string("\xC3\xA9\xF0\x9F\x98\x80\0", 7),
            Data(file, "HKEY_LOCAL_MACHINE\\CAF\xC3\xA9", "n"));
  EXPECT_EQ(std::string("%A%\xC3\xA9\0", 6),
            Data(file, "HKLM\\Caf\xC3\xA9", "e"));
  EXPECT_EQ(std::string("a\0b\0\0", 5), Data(file, "HKLM\\Caf\xC3\xA9", "m"));
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
  EXPECT_EQ("", Data(file, key, "empty"));
  EXPECT_EQ(std::string("\1\2\3\4\5\6\7\x08", 8), Data(file, key, "q"));
  EXPECT_EQ(kRegQword, Type(file, key, "q"));
  EXPECT_EQ(0u, Type(file, key, "none"));
  EXPECT_EQ(0xffff0001u, Type(file, key, "odd"));
}

TEST(RegistryFileValueTest, HexListsContinueOverLines) {
  const RegistryFile file =
      RegistryFile::Parse(V5("[HKEY_LOCAL_MACHINE\\T]\r\n"
                             "\"b\"=hex:01,02,\\\r\n"
                             "  03,04,\\\r\n"
                             "\t05\r\n"
                             "\"after\"=dword:00000001\r\n"));
  EXPECT_EQ(std::string("\1\2\3\4\5", 5), Data(file, "HKLM\\T", "b"));
  EXPECT_EQ(std::string("\1\0\0\0", 4), Data(file, "HKLM\\T", "after"));
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

TEST(RegistryFileEncodingTest, Utf16LineFeedIsAWholeUnit) {
  // U+4E0A and U+0A0A U+4E00 hold a byte 0x0A, the latter followed by a
  // zero byte: no line ends inside them.
  const RegistryFile file = RegistryFile::Parse(
      Utf16LeFile(u"Windows Registry Editor Version 5.00\r\n\r\n"
                  u"[HKEY_LOCAL_MACHINE\\\u4e0a]\r\n"
                  u"\"\u0a0a\u4e00\"=\"\u4e0a\"\r\n"));
  EXPECT_EQ(std::string("\xE4\xB8\x8A\0", 4),
            Data(file, "HKLM\\\xE4\xB8\x8A", "\xE0\xA8\x8A\xE4\xB8\x80"));
}

// A FileRegistry over in-memory text.
FileRegistry RegistryOf(const std::string& text) {
  return FileRegistry([text] { return RegistryFile::Parse(text); });
}

class FileRegistryTest : public ::testing::Test {
 protected:
  HKEY Open(const char* sub_key) {
    HKEY key = nullptr;
    EXPECT_EQ(0, registry_.RegOpenKeyExA(LocalMachineKey(), sub_key, 0,
                                         kKeyRead, &key));
    return key;
  }

  FileRegistry registry_ =
      RegistryOf(V5("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Site]\n"
                    "\"p259\"=\"" +
                    std::string(259, 'a') +
                    "\"\n"
                    "\"p260\"=\"" +
                    std::string(260, 'b') +
                    "\"\n"
                    "@=\"dflt\"\n"
                    "\"d\"=dword:00000007\n"));
};

TEST_F(FileRegistryTest, OpensKeysInAnyLetterCase) {
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

TEST_F(FileRegistryTest, ValueFitsOrLeavesDestinationUntouched) {
  HKEY key = Open("Software\\Site");
  BYTE buffer[260];
  DWORD size = sizeof buffer;
  DWORD type = kRegSz;
  EXPECT_EQ(0, registry_.RegQueryValueExA(key, "P259", nullptr, &type, buffer,
                                          &size));
  EXPECT_EQ(260u, size);
  EXPECT_EQ(std::string(259, 'a'), reinterpret_cast<char*>(buffer));

  std::fill(buffer, buffer + sizeof buffer, BYTE('z'));
  size = sizeof buffer;
  EXPECT_EQ(234, registry_.RegQueryValueExA(key, "p260", nullptr, &type, buffer,
                                            &size));
  EXPECT_EQ(261u, size);
  EXPECT_EQ(std::string(260, 'z'), std::string(buffer, buffer + sizeof buffer));

  BYTE larger[300];
  size = sizeof larger;
  EXPECT_EQ(0, registry_.RegQueryValueExA(key, "p260", nullptr, &type, larger,
                                          &size));
  EXPECT_EQ(261u, size);
  EXPECT_EQ(std::string(260, 'b'), reinterpret_cast<char*>(larger));
}

TEST_F(FileRegistryTest, QueryConventions) {
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

TEST(FileRegistryLoadTest, LoadsOnceOnFirstOpen) {
  int loads = 0;
  FileRegistry registry([&loads] {
    ++loads;
    return RegistryFile::Parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n");
  });
  EXPECT_EQ(0, loads);
  HKEY key = nullptr;
  EXPECT_EQ(0,
            registry.RegOpenKeyExA(LocalMachineKey(), "k", 0, kKeyRead, &key));
  EXPECT_EQ(2,
            registry.RegOpenKeyExA(LocalMachineKey(), "j", 0, kKeyRead, &key));
  EXPECT_EQ(1, loads);
}

TEST(FileRegistryLoadTest, ReadsTheFileNamedByTheEnvironment) {
  char path[] = "/tmp/registry_file_test_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = Utf16LeFile(
      u"Windows Registry Editor Version "
      u"5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"x\"\r\n");
  ASSERT_EQ(ssize_t(text.size()), write(fd, text.data(), text.size()));
  close(fd);

  setenv("TALVANE_REGISTRY", path, 1);
  FileRegistry from_file;
  HKEY key = nullptr;
  EXPECT_EQ(0,
            from_file.RegOpenKeyExA(LocalMachineKey(), "K", 0, kKeyRead, &key));
  std::remove(path);

  setenv("TALVANE_REGISTRY", path, 1);  // now missing
  FileRegistry missing;
  EXPECT_EQ(2,
            missing.RegOpenKeyExA(LocalMachineKey(), "K", 0, kKeyRead, &key));
  EXPECT_EQ(2, SystemRegistry().RegOpenKeyExA(LocalMachineKey(), "K", 0,
                                              kKeyRead, &key));
  unsetenv("TALVANE_REGISTRY");
  EXPECT_EQ("/etc/opt/talvane/registry.reg", RegistryFilePath());
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

TEST(FileRegistryLoadTest, LargeEmptyPipedAndDeviceFiles) {
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

  const std::string empty = TemporaryFile("");
  ASSERT_NE("", empty);
  const RegistryFile none = LoadRegistryFile(empty);
  std::remove(empty.c_str());
  EXPECT_NE(nullptr, none.FindKey("HKEY_LOCAL_MACHINE"));
  EXPECT_EQ(nullptr, none.FindKey("HKEY_LOCAL_MACHINE\\First"));

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
  FileRegistry registry([&fds] {
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

TEST(FileRegistryLoadTest, LongValuesAndManyValuesAreCountedNotHeld) {
  // A megabyte of hex data on one line, and more values than a key keeps:
  // sizes are whole, and a caller that can take a value gets all of it.
  std::string text = V5("[HKEY_LOCAL_MACHINE\\K]\n\"long\"=hex:");
  for (int i = 0; i < (1 << 20); ++i) text += i % 2 ? "00," : "7f,";
  text += "01\n";
  for (int i = 0; i < 1000; ++i)
    text += "\"v" + std::to_string(i) + "\"=\"" + std::string(250, 'x') + "\"\n";
  FileRegistry registry([&text] { return RegistryFile::Parse(text); });
  HKEY key = nullptr;
  ASSERT_EQ(0, registry.RegOpenKeyExA(LocalMachineKey(), "K", 0, kKeyRead, &key));
  DWORD size = 0;
  EXPECT_EQ(0, registry.RegQueryValueExA(key, "long", nullptr, nullptr, nullptr,
                                         &size));
  EXPECT_EQ((1u << 20) + 1, size);
  std::string buffer(size, '\0');
  EXPECT_EQ(0, registry.RegQueryValueExA(
                   key, "long", nullptr, nullptr,
                   reinterpret_cast<BYTE*>(&buffer[0]), &size));
  EXPECT_EQ(std::string("\x7f\0\x7f", 3), buffer.substr(0, 3));
  EXPECT_EQ('\x01', buffer.back());
  char last[260];
  size = sizeof last;
  EXPECT_EQ(0, registry.RegQueryValueExA(key, "V999", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(last), &size));
  EXPECT_EQ(std::string(250, 'x'), last);
}

}  // namespace
}  // namespace platform
