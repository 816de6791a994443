// Entry names as Windows shows them: the long name (VFAT) that the long-name
// slots before a short entry give it, or else the short name with the case
// its DIR_NTRes flags ask for. Both in UTF-8.
#pragma once

#include <string>

#include "platform/win32.h"

// Most slots one long name can take: 20 x 13 characters hold the longest, 255.
#define MAX_LONG_SLOTS 20

// The checksum of a short entry's 11 name bytes, which each of its long-name
// slots carries.
BYTE ShortNameChecksum(const BYTE *entry);

// Appends the long name of the short entry at `slot` of the directory slots
// at `raw`, read from the slots right before it: ordinals 1, 2, ... up to the
// one flagged LAST_LONG_ENTRY, at most MAX_LONG_SLOTS, each carrying the
// entry's checksum; UTF-16 up to a 0x0000 (or the 0xFFFF padding). False,
// appending nothing, when they give no name that holds together: then the
// short name stands. Slots before `raw` are never looked at.
bool AppendLongName(std::string &out, const BYTE *raw, DWORD slot);

// Appends the short name of `entry` as shown without a long name: trailing
// spaces dropped, a '.' before a non-empty extension, a first byte 0x05
// standing for 0xE5, bytes 0x80-0xFF read through ShortNameCodePage, and the
// base and extension in lower case when DIR_NTRes says so.
void AppendShortName(std::string &out, const BYTE *entry);

// The long name of the short entry at `slot`, or its short name.
void AppendEntryName(std::string &out, const BYTE *raw, DWORD slot);
