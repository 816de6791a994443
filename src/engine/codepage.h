// Short names are bytes of an OEM code page; the analyzer prints them, and
// the long names read from UTF-16, as UTF-8.
#pragma once

#include <string>

#include "platform/win32.h"

// The code page of short names' bytes 0x80 to 0xFF: 850 (the default, as
// other FAT tools read them) or 437.
extern DWORD ShortNameCodePage;

// Appends the Unicode code point `code` (below 0x110000, no surrogate) as UTF-8.
void AppendUtf8(std::string &out, DWORD code);

// Appends the `count` bytes at `bytes`, read through ShortNameCodePage, as
// UTF-8; with `lower`, the code page's capital letters in lower case.
void AppendOemText(std::string &out, const BYTE *bytes, size_t count, bool lower = false);
