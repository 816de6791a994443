// exFAT directory entries decoded from bytes: a directory's slots are read as
// entry sets (a File entry, its Stream Extension, its File Name entries and any
// benign secondaries), each checked before it is used.
#pragma once

#include <string>

#include "engine/exfatdisk.h"

// A file or directory of an entry set.
struct ExfatEntry {
    bool directory;
    std::string name;          // UTF-8, from NameLength UTF-16 characters
    DWORD firstCluster;
    ULONGLONG dataLength;
    ULONGLONG validDataLength;
    bool noFatChain;           // the clusters are consecutive; the FAT is not read
};

enum ExfatSlot {
    EXSLOT_END,        // the end marker, or no slot left
    EXSLOT_ENTRY,      // a sound entry set: *entry holds it
    EXSLOT_OTHER,      // not a file: unused, a volume structure, a stray secondary
    EXSLOT_BAD,        // an entry set that fails a check: skipped
};

// Decodes the slot at *index of the `count` slots at `slots`, and moves
// *index past what it consumed (one slot, or the whole set). A set is bad when
// its SecondaryCount is below 2 or above 18, it runs past the slots read, a
// secondary is not in use, the second entry is no Stream Extension, an
// unknown critical secondary is among them, NameLength is 0, above 255 or
// needs more File Name entries than follow the stream, or SetChecksum does
// not match.
ExfatSlot DecodeSlot(const BYTE *slots, DWORD count, DWORD *index, ExfatEntry *entry);

// The allocation bitmap entry of the root's `count` slots for FAT `activeFat`
// (the first bitmap when the volume has one FAT): its first cluster and
// length. False when there is none before the end marker.
bool FindBitmapEntry(const BYTE *slots, DWORD count, DWORD fats, DWORD activeFat, DWORD *first,
                     ULONGLONG *length);

// Appends `chars` UTF-16 code units at `utf16` (little-endian) to `out` as
// UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUtf16(std::string &out, const BYTE *utf16, DWORD chars);
