// Entry sets: every check is made on the slots actually read, before a field
// of the set is used.
#include "engine/exfatset.h"

namespace {

void AppendCodePoint(std::string &out, DWORD point)
{
    if (point < 0x80) {
        out += (char)point;
    } else if (point < 0x800) {
        out += (char)(0xC0 | (point >> 6));
        out += (char)(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += (char)(0xE0 | (point >> 12));
        out += (char)(0x80 | ((point >> 6) & 0x3F));
        out += (char)(0x80 | (point & 0x3F));
    } else {
        out += (char)(0xF0 | (point >> 18));
        out += (char)(0x80 | ((point >> 12) & 0x3F));
        out += (char)(0x80 | ((point >> 6) & 0x3F));
        out += (char)(0x80 | (point & 0x3F));
    }
}

// Checks the set of 1 + `secondaries` slots at `set` and decodes it.
bool DecodeSet(const BYTE *set, DWORD secondaries, ExfatEntry *entry)
{
    const BYTE *stream = set + SZ_DIRE;
    if (stream[EX_EntryType] != EX_TYPE_STREAM)
        return false;
    DWORD names = 0;   // File Name entries following the stream, without a gap
    for (DWORD s = 1; s <= secondaries; s++) {
        const BYTE type = set[s * SZ_DIRE + EX_EntryType];
        if ((type & EX_TYPE_IN_USE) == 0)
            return false;
        if (type == EX_TYPE_NAME && names == s - 2)
            names++;
        else if (s > 1 && type != EX_TYPE_NAME && (type & EX_TYPE_CRITICAL_SECONDARY) == 0)
            return false;   // a critical secondary the walk does not know
    }
    const DWORD nameLength = stream[EXS_NameLength];
    if (nameLength == 0 || nameLength > EX_MAX_NAME || (nameLength + EX_NAME_CHARS - 1) / EX_NAME_CHARS > names)
        return false;
    if (ExfatSetChecksum(set, secondaries + 1) != ld_16(&set[EXF_SetChecksum]))
        return false;
    entry->directory = (ld_16(&set[EXF_FileAttributes]) & ATTR_DIRECTORY) != 0;
    entry->noFatChain = (stream[EXS_GeneralSecondaryFlags] & EXS_FLAG_NO_FAT_CHAIN) != 0;
    entry->firstCluster = ld_32(&stream[EXS_FirstCluster]);
    entry->dataLength = ld_64(&stream[EXS_DataLength]);
    entry->validDataLength = ld_64(&stream[EXS_ValidDataLength]);
    entry->name.clear();
    // The characters run on from one name entry's 15 to the next one's; a
    // surrogate pair split between two entries is joined.
    BYTE units[EX_MAX_NAME * 2];
    for (DWORD c = 0; c < nameLength; c++) {
        const BYTE *from = set + (2 + c / EX_NAME_CHARS) * SZ_DIRE + EXN_FileName + (c % EX_NAME_CHARS) * 2;
        units[c * 2] = from[0];
        units[c * 2 + 1] = from[1];
    }
    AppendUtf16(entry->name, units, nameLength);
    return true;
}

}  // namespace

void AppendUtf16(std::string &out, const BYTE *utf16, DWORD chars)
{
    for (DWORD c = 0; c < chars; c++) {
        const DWORD unit = ld_16(&utf16[c * 2]);
        if (unit >= 0xD800 && unit < 0xDC00 && c + 1 < chars) {
            const DWORD low = ld_16(&utf16[(c + 1) * 2]);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                c++;
                continue;
            }
        }
        AppendCodePoint(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    }
}

ExfatSlot DecodeSlot(const BYTE *slots, DWORD count, DWORD *index, ExfatEntry *entry)
{
    if (*index >= count)
        return EXSLOT_END;
    const BYTE *slot = slots + (size_t)*index * SZ_DIRE;
    const BYTE type = slot[EX_EntryType];
    if (type == EX_TYPE_END)
        return EXSLOT_END;
    if (type != EX_TYPE_FILE) {
        (*index)++;   // unused, bitmap, up-case, label, or a secondary without its file
        return EXSLOT_OTHER;
    }
    const DWORD secondaries = slot[EXF_SecondaryCount];
    if (secondaries < EX_MIN_SECONDARIES || secondaries > EX_MAX_SECONDARIES || secondaries >= count - *index) {
        (*index)++;   // its secondaries cannot be trusted: each is looked at on its own
        return EXSLOT_BAD;
    }
    if (!DecodeSet(slot, secondaries, entry)) {
        (*index)++;
        return EXSLOT_BAD;
    }
    *index += 1 + secondaries;
    return EXSLOT_ENTRY;
}

bool FindBitmapEntry(const BYTE *slots, DWORD count, DWORD fats, DWORD activeFat, DWORD *first, ULONGLONG *length)
{
    for (DWORD index = 0; index < count; index++) {
        const BYTE *slot = slots + (size_t)index * SZ_DIRE;
        if (slot[EX_EntryType] == EX_TYPE_END)
            return false;
        if (slot[EX_EntryType] != EX_TYPE_BITMAP)
            continue;
        const DWORD which = fats == 2 ? slot[EXB_BitmapFlags] & 1 : 0;
        if (which != activeFat)
            continue;
        *first = ld_32(&slot[EXB_FirstCluster]);
        *length = ld_64(&slot[EXB_DataLength]);
        return true;
    }
    return false;
}
