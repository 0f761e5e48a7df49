// The Windows C runtime's split of a command line into arguments (the rules
// of 2008 and later), as plain code so that every platform can use and test
// it.
#pragma once

#include <string>
#include <vector>

#include "platform/code_page.h"

namespace platform {

// Splits `line` as the C runtime builds argv: the program name by its own
// rule (quotes toggle, backslashes are plain), then each argument with
// backslashes special only before a double quote and "" inside a quoted run
// standing for one literal quote. A lead byte of `code_page` and the byte
// after it are copied as one character, whatever that byte is.
std::vector<std::string> SplitCommandLine(const char* line,
                                          const CodePage& code_page);

}  // namespace platform
