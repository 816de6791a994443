// The file-system utility stand-ins, written on the Win32 subset so that they
// build for Windows and for the host alike.
#include "fatutil/fatutil.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/fatboot.h"
#include "platform/driveletter.h"

namespace {

// The FAT is read in pieces of this many sectors: a whole number of entries
// of every width (1,536 bytes hold 1,024 12-bit entries), few enough that a
// piece is still in the processor's cache when its entries are counted.
const ULONG ChunkSectors = 384;

// Free entries among those of clusters 2 (at the least) to `to` - 1 in
// `bytes` bytes of FAT that start with the entry of cluster `firstEntry`.
ULONG CountFree(const BYTE *fat, ULONGLONG bytes, ULONG bits, ULONG firstEntry, ULONG to)
{
    const ULONGLONG held = firstEntry + FatEntriesIn(bytes, bits);
    const ULONG end = to < held ? to : (ULONG)held;
    ULONG free = 0;
    for (ULONG cluster = firstEntry < 2 ? 2 : firstEntry; cluster < end; cluster++)
        if (FatEntryAt(fat, bits, cluster - firstEntry) == 0)
            free++;
    return free;
}

// Reads `sectors` sectors of FAT from sector `first` piece by piece into
// `piece` (ChunkSectors long), a piece that does not read from sector
// `second` on instead (unless `second` is 0), counts the free entries of the
// volume's clusters into `free` while the piece is still in the processor's
// cache, and copies each piece to its place from `image` unless that is
// null. False when a piece reads from neither.
bool ReadAndCount(const LOG_IO_DP_DRIVE &drive, const FatBoot &boot, ULONG first, ULONG second, ULONG sectors,
                  BYTE *piece, BYTE *image, ULONG *free)
{
    const ULONG entries = (ULONG)boot.clusters + 2;
    const ULONG chunkEntries = ChunkSectors * SECTOR_SIZE * 8 / boot.fatBits;
    *free = 0;
    for (ULONG at = 0, firstEntry = 0; at < sectors; at += ChunkSectors, firstEntry += chunkEntries) {
        const ULONG count = sectors - at < ChunkSectors ? sectors - at : ChunkSectors;
        if (!drive.Read(first + at, count, piece) && (second == 0 || !drive.Read(second + at, count, piece)))
            return false;
        if (firstEntry < entries) {
            const ULONG end = entries - firstEntry < chunkEntries ? entries : firstEntry + chunkEntries;
            *free += CountFree(piece, (ULONGLONG)count * SECTOR_SIZE, boot.fatBits, firstEntry, end);
        }
        if (image != nullptr)
            memcpy(image + (size_t)at * SECTOR_SIZE, piece, (size_t)count * SECTOR_SIZE);
    }
    return true;
}

// A buffer for one piece of FAT, or null when there is no memory for it.
std::unique_ptr<BYTE[]> NewPiece()
{
    return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[(size_t)ChunkSectors * SECTOR_SIZE]);
}

// Reads the `sectors` sectors of FAT from sector `first` into a new block,
// counting its free entries into `free`. The block (unlocked), or NULL when
// it cannot be had or the sectors do not all read.
HGLOBAL ReadFatImage(const LOG_IO_DP_DRIVE &drive, const FatBoot &boot, ULONG first, ULONG sectors, ULONG *free)
{
    const std::unique_ptr<BYTE[]> piece = NewPiece();
    HGLOBAL image = piece ? GlobalAlloc(GHND, (SIZE_T)sectors * SECTOR_SIZE) : NULL;
    BYTE *fat = image != NULL ? (BYTE *)GlobalLock(image) : nullptr;
    const bool read = fat != nullptr && ReadAndCount(drive, boot, first, 0, sectors, piece.get(), fat, free);
    if (fat != nullptr)
        GlobalUnlock(image);
    if (!read && image != NULL)
        GlobalFree(image);
    return read ? image : NULL;
}

// Counts the free entries into `free`, reading only the sectors of the
// current copy that hold the volume's entries, one piece after the other; a
// piece that does not read is taken from the second copy when the copies are
// mirrored (with mirroring off the others are not current). False when a
// piece reads from no copy.
bool CountFreeInPieces(const LOG_IO_DP_DRIVE &drive, const FatBoot &boot, ULONG *free)
{
    const std::unique_ptr<BYTE[]> piece = NewPiece();
    const ULONG second = boot.fatMirrored && boot.fats >= 2 ? (ULONG)FatCopyStart(boot, 1) : 0;
    return piece && ReadAndCount(drive, boot, (ULONG)FatCopyStart(boot, boot.activeFat), second,
                                 (ULONG)boot.fatSectorsUsed, piece.get(), nullptr, free);
}

}  // namespace

BOOLEAN WSTRING::Initialize(LPCSTR text, LONG length)
{
    if (text == nullptr)
        return FALSE;
    text_.clear();
    for (LONG i = 0; length < 0 ? text[i] != 0 : i < length; i++)
        text_.push_back((wchar_t)(unsigned char)text[i]);
    return TRUE;
}

BOOLEAN IFS_SYSTEM::DosDriveNameToNtDriveName(const WSTRING *dosDriveName, DSTRING *ntDriveName)
{
    const std::wstring &dos = dosDriveName->GetText();
    const bool narrow = dos.size() == 2 && dos[0] < 0x80 && dos[1] < 0x80;
    const char name[] = {narrow ? (char)dos[0] : '\0', narrow ? (char)dos[1] : '\0', 0};
    const char letter = DriveLetter(name);
    if (letter == 0)
        return FALSE;
    const char nt[] = {'\\', '?', '?', '\\', letter, ':', 0};
    return ntDriveName->Initialize(nt);
}

LOG_IO_DP_DRIVE::~LOG_IO_DP_DRIVE()
{
    if (hDevice_ != INVALID_HANDLE_VALUE)
        CloseHandle(hDevice_);
}

BOOLEAN LOG_IO_DP_DRIVE::Initialize(const WSTRING *ntDriveName, MESSAGE *, BOOLEAN)
{
    // "\??\X:" is opened through its Win32 form "\\.\X:", for reading only.
    const std::wstring &nt = ntDriveName->GetText();
    if (nt.size() != 6 || nt.compare(0, 4, L"\\??\\") != 0 || hDevice_ != INVALID_HANDLE_VALUE)
        return FALSE;
    const char path[] = {'\\', '\\', '.', '\\', (char)nt[4], ':', 0};
    hDevice_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, NULL);
    return hDevice_ != INVALID_HANDLE_VALUE;
}

BOOLEAN LOG_IO_DP_DRIVE::Read(ULONG first, ULONG sectors, PVOID buffer) const
{
    IO_STATUS_BLOCK status;
    LARGE_INTEGER offset;
    offset.QuadPart = (LONGLONG)first * SECTOR_SIZE;
    const ULONG length = sectors * SECTOR_SIZE;
    return NtReadFile(hDevice_, NULL, NULL, NULL, &status, buffer, length, &offset, NULL) == 0 &&
           status.Information == length;
}

BOOLEAN REAL_FAT_SA::Initialize(LOG_IO_DP_DRIVE *drive, MESSAGE *, BOOLEAN)
{
    drive_ = drive;
    return drive != nullptr;
}

BOOLEAN REAL_FAT_SA::Read(MESSAGE *)
{
    DropFat();
    if (drive_ == nullptr)
        return FALSE;
    std::vector<BYTE> sector(SECTOR_SIZE);
    if (!drive_->Read(0, 1, sector.data()))
        return FALSE;
    const FatBoot boot = DecodeFatBoot(sector.data());
    if (BrokenRule(boot, LAYER_SUPER_AREA) != BOOT_SOUND)
        return FALSE;

    // The current copy in one piece, as the engine reads it: a FAT12/FAT16
    // copy as the boot sector sizes it, a FAT32 one as far as it holds the
    // volume's entries. Kept for the engine; when it cannot be, the count
    // reads in pieces and the engine reads (and reports) for itself.
    const ULONG first = (ULONG)FatCopyStart(boot, boot.activeFat);
    const ULONG sectors = boot.fat32 ? (ULONG)boot.fatSectorsUsed : boot.sectorsPerFat;
    ULONG freeClusters = 0;
    fat_ = ReadFatImage(*drive_, boot, first, sectors, &freeClusters);
    if (fat_ != NULL)
        fatFirst_ = first, fatSectors_ = sectors;
    else if (!CountFreeInPieces(*drive_, boot, &freeClusters))
        return FALSE;

    sectorsPerCluster_ = (UCHAR)boot.sectorsPerCluster;
    clusterCount_ = (ULONG)boot.clusters;
    startData_ = (ULONG)boot.dataStart;
    freeSectors_ = freeClusters * (boot.sectorsPerCluster != 0 ? boot.sectorsPerCluster : 256);
    return TRUE;
}

HGLOBAL REAL_FAT_SA::TakeFat(ULONG first, ULONG sectors)
{
    if (fat_ == NULL || first != fatFirst_ || sectors != fatSectors_)
        return NULL;
    const HGLOBAL image = fat_;
    fat_ = NULL;
    return image;
}

void REAL_FAT_SA::DropFat()
{
    if (fat_ != NULL)
        GlobalFree(fat_);
    fat_ = NULL;
}
