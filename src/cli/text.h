// Text conversions for the analyzer's output: FAT names are bytes of code
// page 437, printed as UTF-8 and quoted as JSON strings.
#pragma once

#include <string>

// The code page 437 bytes of `text` as UTF-8. Control characters are kept.
std::string Cp437ToUtf8(const char *text);

// `text` (code page 437) as a quoted JSON string.
std::string JsonString(const char *text);
