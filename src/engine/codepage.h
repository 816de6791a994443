// Short names are bytes of an OEM code page; the analyzer prints them, and
// the long names read from UTF-16, as UTF-8.
#pragma once

#include <string>

#include "platform/win32.h"

// The code page of short names' bytes 0x80 to 0xFF: 850 (the default, as
// other FAT tools read them) or 437.
extern DWORD ShortNameCodePage;

// Writes the Unicode code point `code` (below 0x110000, no surrogate) as
// UTF-8, 1 to 4 bytes, at `out`; returns the end.
inline char *PutUtf8(char *out, DWORD code)
{
    if (code < 0x80) {
        *out++ = (char)code;
    } else if (code < 0x800) {
        *out++ = (char)(0xC0 | (code >> 6));
        *out++ = (char)(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = (char)(0xE0 | (code >> 12));
        *out++ = (char)(0x80 | ((code >> 6) & 0x3F));
        *out++ = (char)(0x80 | (code & 0x3F));
    } else {
        *out++ = (char)(0xF0 | (code >> 18));
        *out++ = (char)(0x80 | ((code >> 12) & 0x3F));
        *out++ = (char)(0x80 | ((code >> 6) & 0x3F));
        *out++ = (char)(0x80 | (code & 0x3F));
    }
    return out;
}

// Appends the `count` bytes at `bytes`, read through ShortNameCodePage, as
// UTF-8; with `lower`, the code page's capital letters in lower case.
void AppendOemText(std::string &out, const BYTE *bytes, size_t count, bool lower = false);
