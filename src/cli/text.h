// Text conversions for the analyzer's output: FAT names are bytes of code
// page 437, printed as UTF-8 and quoted as JSON strings.
#pragma once

#include <string>

// The code page 437 bytes of `text` as UTF-8. Control characters are kept.
std::string Cp437ToUtf8(const char *text);

// UTF-8 `text` as a quoted JSON string: quotes, backslashes and control
// characters escaped, and each byte that is not part of a valid UTF-8
// sequence (a path given in another encoding) replaced by U+FFFD, so that
// the document is always valid UTF-8.
std::string JsonQuote(const std::string &text);

// `text` (code page 437) as a quoted JSON string.
std::string JsonString(const char *text);
