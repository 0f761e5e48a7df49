// The code page of a POSIX system: UTF-8, in which no byte leads a two-byte
// character as Windows means it.
#include "platform/code_page.h"

namespace platform {
namespace {

class Utf8CodePage : public CodePage {
 public:
  BOOL IsDBCSLeadByte(BYTE /*byte*/) const override { return 0; }
};

}  // namespace

const CodePage& SystemCodePage() {
  static const Utf8CodePage code_page{};
  return code_page;
}

}  // namespace platform
