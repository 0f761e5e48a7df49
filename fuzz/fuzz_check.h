// What the fuzz targets share: a check that stops the run with its reason,
// so that libFuzzer keeps the input that broke it, the split of an input
// into fields, and the models' reading of double-byte text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/code_page.h"

#define FUZZ_CHECK(condition)                                            \
  do {                                                                   \
    if (!(condition)) {                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__,        \
                   __LINE__, #condition);                                \
      std::abort();                                                      \
    }                                                                    \
  } while (0)

namespace fuzz {

// The fields of `data` between separator bytes; a trailing separator gives
// a last, empty field. 0x1E (record separator) keeps the seeds readable.
constexpr char kFieldSeparator = '\x1e';

inline std::vector<std::string> SplitFields(const std::uint8_t* data,
                                            std::size_t size) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (char(data[i]) == kFieldSeparator) {
      fields.emplace_back();
    } else {
      fields.back().push_back(char(data[i]));
    }
  }
  return fields;
}

// The text a C string made of `bytes` holds: up to the first zero byte.
inline std::string CString(const std::string& bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

inline bool Leads(const platform::CodePage& code_page, char c) {
  return code_page.IsDBCSLeadByte(static_cast<platform::BYTE>(c)) != 0;
}

// Whether `text` ends in a lead byte that has no second byte, read from its
// start.
inline bool EndsInLoneLeadByte(const platform::CodePage& code_page,
                               const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!Leads(code_page, text[i])) continue;
    if (i + 1 == text.size()) return true;
    ++i;
  }
  return false;
}

}  // namespace fuzz
