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

// The slots are checked and their characters decoded in one pass, into a
// buffer that goes into `out` only once the whole sequence has held together.
bool AppendLongName(std::string &out, const BYTE *raw, DWORD slot)
{
    const BYTE *entry = raw + (size_t)slot * SZ_DIRE;
    if (slot == 0 || !IsLongNameSlot(entry - SZ_DIRE))
        return false;
    const BYTE checksum = ShortNameChecksum(entry);
    char text[MAX_LONG_SLOTS * CHARS_PER_SLOT * 3];   // 3 bytes of UTF-8 at most per UTF-16 unit
    char *end = text;
    DWORD high = 0;       // a high surrogate waiting for its low one
    bool ended = false;   // the name's 0x0000 (or 0xFFFF) has been met
    for (DWORD ordinal = 1;; ordinal++) {
        if (ordinal > MAX_LONG_SLOTS || ordinal > slot)
            return false;
        const BYTE *part = entry - ordinal * SZ_DIRE;
        const BYTE order = part[LDIR_Ord];
        // A deleted slot's ordinal byte is DIR_DELETED: never an ordinal.
        if (!IsLongNameSlot(part) || part[LDIR_Chksum] != checksum || (order & ~LAST_LONG_ENTRY) != ordinal)
            return false;
        for (DWORD i = 0; i < CHARS_PER_SLOT && !ended; i++) {
            const DWORD unit = ld_16(&part[CharOffsets[i]]);
            if (high != 0) {
                // A high surrogate and a low one make one character; alone, either is no character.
                if (unit < 0xDC00 || unit > 0xDFFF)
                    return false;
                end = PutUtf8(end, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
                high = 0;
            } else if (unit == 0x0000 || unit == 0xFFFF) {
                ended = true;
            } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                if (unit >= 0xDC00)
                    return false;
                high = unit;
            } else if (Forbidden(unit)) {
                return false;
            } else {
                end = PutUtf8(end, unit);
            }
        }
        if (order & LAST_LONG_ENTRY)
            break;
    }
    const size_t length = (size_t)(end - text);
    if (high != 0 || length == 0 || (text[0] == '.' && (length == 1 || (length == 2 && text[1] == '.'))))
        return false;
    out.append(text, length);
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
