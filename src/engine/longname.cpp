// Long names are read backwards from their short entry: the slot before it
// must hold ordinal 1, the one before that 2, and so on up to the slot
// flagged last. That is the sequence a forward reader keeps too, since a slot
// flagged last always starts a new sequence and anything else that breaks
// one drops it; orphan slots, sequences before an entry the walk ignores (a
// volume label, a dot entry, a deleted entry) and slots deleted in between
// therefore never name anything.
#include "engine/longname.h"

#include "engine/codepage.h"
#include "engine/fatdisk.h"

namespace {

#define CHARS_PER_SLOT 13

// Where the 13 UTF-16 characters of a long-name slot lie.
const BYTE CharOffsets[CHARS_PER_SLOT] = {
    LDIR_Name1, LDIR_Name1 + 2, LDIR_Name1 + 4, LDIR_Name1 + 6, LDIR_Name1 + 8,
    LDIR_Name2, LDIR_Name2 + 2, LDIR_Name2 + 4, LDIR_Name2 + 6, LDIR_Name2 + 8, LDIR_Name2 + 10,
    LDIR_Name3, LDIR_Name3 + 2,
};

bool IsLongNameSlot(const BYTE *slot)
{
    return (slot[DIR_Attr] & ATTR_LONG_NAME_MASK) == ATTR_LONG_NAME;
}

// Gathers the UTF-16 characters of the sequence before `entry` (at `slot`)
// into `units`; their count, or 0 when the slots do not hold together.
DWORD GatherUnits(const BYTE *entry, DWORD slot, WORD *units)
{
    const BYTE checksum = ShortNameChecksum(entry);
    for (DWORD ordinal = 1; ordinal <= MAX_LONG_SLOTS && ordinal <= slot; ordinal++) {
        const BYTE *part = entry - ordinal * SZ_DIRE;
        const BYTE order = part[LDIR_Ord];
        // A deleted slot's ordinal byte is DIR_DELETED: never an ordinal.
        if (!IsLongNameSlot(part) || part[LDIR_Chksum] != checksum || (order & ~LAST_LONG_ENTRY) != ordinal)
            return 0;
        for (DWORD i = 0; i < CHARS_PER_SLOT; i++)
            units[(ordinal - 1) * CHARS_PER_SLOT + i] = ld_16(&part[CharOffsets[i]]);
        if (order & LAST_LONG_ENTRY)
            return ordinal * CHARS_PER_SLOT;
    }
    return 0;
}

// True for the characters a name cannot hold: controls, and the separators
// a path is built with.
bool Forbidden(DWORD code)
{
    return code < 0x20 || code == '/' || code == '\\';
}

}  // namespace

BYTE ShortNameChecksum(const BYTE *entry)
{
    BYTE sum = 0;
    for (int i = 0; i < 11; i++)
        sum = (BYTE)(((sum & 1) << 7) + (sum >> 1) + entry[DIR_Name + i]);
    return sum;
}

bool AppendLongName(std::string &out, const BYTE *raw, DWORD slot)
{
    WORD units[MAX_LONG_SLOTS * CHARS_PER_SLOT];
    const DWORD count = GatherUnits(raw + (size_t)slot * SZ_DIRE, slot, units);
    const size_t start = out.size();
    DWORD i = 0;
    for (; i < count && units[i] != 0x0000 && units[i] != 0xFFFF; i++) {
        DWORD code = units[i];
        if (code >= 0xD800 && code <= 0xDFFF) {
            // A high surrogate and a low one make one character; alone, either is no character.
            if (code >= 0xDC00 || i + 1 == count || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                break;
            code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        if (Forbidden(code))
            break;
        AppendUtf8(out, code);
    }
    const size_t length = out.size() - start;
    const bool dots = (length == 1 || length == 2) && out.find_first_not_of('.', start) == std::string::npos;
    if (i == 0 || (i < count && units[i] != 0x0000 && units[i] != 0xFFFF) || dots) {
        out.resize(start);
        return false;
    }
    return true;
}

void AppendShortName(std::string &out, const BYTE *entry)
{
    BYTE name[11];
    for (int i = 0; i < 11; i++)
        name[i] = entry[DIR_Name + i];
    if (name[0] == DIR_E5_FIRST)
        name[0] = DIR_DELETED;
    size_t base = 8, extension = 3;
    while (base > 0 && name[base - 1] == ' ')
        base--;
    while (extension > 0 && name[8 + extension - 1] == ' ')
        extension--;
    AppendOemText(out, name, base, (entry[DIR_NTRes] & NTRES_LOWER_BASE) != 0);
    if (extension != 0) {
        out += '.';
        AppendOemText(out, name + 8, extension, (entry[DIR_NTRes] & NTRES_LOWER_EXT) != 0);
    }
}

void AppendEntryName(std::string &out, const BYTE *raw, DWORD slot)
{
    if (!AppendLongName(out, raw, slot))
        AppendShortName(out, raw + (size_t)slot * SZ_DIRE);
}
