#include "platform/code_page.h"

namespace platform {

const char* NextCharacter(const CodePage& code_page, const char* text) {
  const bool leads = code_page.IsDBCSLeadByte(static_cast<BYTE>(*text)) != 0;
  return leads && text[1] != '\0' ? text + 2 : text + 1;
}

bool EndsInLoneLeadByte(const CodePage& code_page, const char* text) {
  for (const char* p = text; *p != '\0';) {
    const char* next = NextCharacter(code_page, p);
    if (*next == '\0')
      return next == p + 1 && code_page.IsDBCSLeadByte(static_cast<BYTE>(*p));
    p = next;
  }
  return false;
}

}  // namespace platform
