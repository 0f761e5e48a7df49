// Bounded text in fixed buffers: a text that does not fit is a failure,
// never a truncation.
#pragma once

#include <cstddef>

namespace tarvo {

// printf into buffer; false when the text needs more than capacity - 1
// characters (the buffer then holds no usable text).
bool FormatText(char* buffer, std::size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// As FormatText, with every backslash of `format` written as `separator`:
// the formats name paths the Windows way.
bool FormatPath(char separator, char* buffer, std::size_t capacity,
                const char* format, ...) __attribute__((format(printf, 4, 5)));

// Appends text; false, with the buffer unchanged, when the result would need
// more than capacity - 1 characters.
bool AppendText(char* buffer, std::size_t capacity, const char* text);

}  // namespace tarvo
