// The ANSI code page, straight through to Windows.
#include <windows.h>

#include "platform/code_page.h"

namespace platform {
namespace {

class AnsiCodePage : public CodePage {
 public:
  BOOL IsDBCSLeadByte(BYTE byte) const override {
    return ::IsDBCSLeadByte(byte);
  }
};

}  // namespace

const CodePage& SystemCodePage() {
  static const AnsiCodePage code_page{};
  return code_page;
}

}  // namespace platform
