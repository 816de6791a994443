// Text conversions for the analyzer's output: FAT names are bytes of code
// page 437, printed as UTF-8 and quoted as JSON strings.
#pragma once

#include <string>

// The code page 437 bytes of `text` as UTF-8. Control characters are kept.
std::string Cp437ToUtf8(const char *text);

// `text` (code page 437) as a quoted JSON string.
std::string JsonString(const char *text);

// UTF-8 `text` (the analyzer's own messages, paths given to it) as a quoted
// JSON string: quotes, backslashes and control characters escaped.
std::string JsonUtf8String(const std::string &text);
