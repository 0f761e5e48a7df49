// The ANSI code page's two-byte characters, mirroring the narrow Windows
// call. In a double-byte code page (932, 936, 949, 950) a lead byte and the
// byte after it are one character, and that second byte may be 0x5C, the
// byte of '\\': only a walk from a text's start tells the two apart.
#pragma once

#include "platform/types.h"

namespace platform {

class CodePage {
 public:
  virtual ~CodePage() = default;
  // IsDBCSLeadByte: non-zero when `byte` opens a two-byte character.
  virtual BOOL IsDBCSLeadByte(BYTE byte) const = 0;
};

// The system's ANSI code page. POSIX text is UTF-8, where every byte of a
// multi-byte character is 0x80 or above: no byte leads in Windows' sense.
const CodePage& SystemCodePage();

// Where the character that starts at `text` (not at its terminator) ends:
// a lead byte takes the byte after it along, whatever that is, except the
// terminator, before which it stands alone.
const char* NextCharacter(const CodePage& code_page, const char* text);

// Whether `text` ends in a lead byte whose second byte is missing. Such a
// text cannot be put between quotes: the C runtime would take the closing
// quote for its second byte.
bool EndsInLoneLeadByte(const CodePage& code_page, const char* text);

}  // namespace platform
