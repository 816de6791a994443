// The file-system utility stand-ins, written on the Win32 subset so that they
// build for Windows and for the host alike.
#include "platform/ifsutil/ifsutil.h"

#include <memory>
#include <new>
#include <vector>

#include "engine/fatdisk.h"

namespace {

// The FAT is read in pieces of this many sectors: a whole number of entries
// of every width (1,536 bytes hold 1,024 12-bit entries), and little memory
// however large the FAT.
const ULONG ChunkSectors = 384;

// Link of `cluster` in a FAT image of the given width.
ULONG FatLink(const BYTE *fat, ULONG bits, ULONG cluster)
{
    if (bits == 32)
        return ld_32(&fat[cluster * 4]) & FAT32_MASK;
    if (bits == 16)
        return ld_16(&fat[cluster * 2]);
    const WORD pair = ld_16(&fat[cluster + cluster / 2]);
    return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
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
    const bool letter = dos.size() == 2 && dos[1] == L':' &&
                        ((dos[0] >= L'A' && dos[0] <= L'Z') || (dos[0] >= L'a' && dos[0] <= L'z'));
    if (!letter)
        return FALSE;
    const char nt[] = {'\\', '?', '?', '\\', (char)dos[0], ':', 0};
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
    if (drive_ == nullptr)
        return FALSE;
    std::vector<BYTE> boot(SECTOR_SIZE);
    if (!drive_->Read(0, 1, boot.data()))
        return FALSE;

    const bool fat32 = IsFat32Boot(boot.data());
    const ULONG perCluster = boot[BPB_SecPerClus];
    const ULONG sectorsPerCluster = perCluster ? perCluster : 256;
    const ULONG reserved = ld_16(&boot[BPB_RsvdSecCnt]);
    const ULONG fats = boot[BPB_NumFATs];
    const ULONG rootEntries = ld_16(&boot[BPB_RootEntCnt]);
    const ULONG perFat = SectorsPerFatOf(boot.data());
    const ULONG total = TotalSectorsOf(boot.data());
    if (ld_16(&boot[BPB_BytsPerSec]) != SECTOR_SIZE || (sectorsPerCluster & (sectorsPerCluster - 1)) != 0 ||
        reserved == 0 || fats == 0 || (rootEntries == 0) != fat32 || perFat == 0)
        return FALSE;

    const ULONGLONG startData = DataStartOf(boot.data());
    if (startData >= total)
        return FALSE;
    const ULONG clusters = (ULONG)((total - startData) / sectorsPerCluster);
    if (clusters == 0 || clusters > (fat32 ? FAT32_MAX_CLUSTERS : FAT16_MAX_CLUSTERS))
        return FALSE;

    // Only the sectors that hold the entries of clusters 0 to clusters + 1
    // are read, piece by piece, each from the first copy that reads.
    const ULONG bits = FatBitsFor(fat32, clusters);
    const ULONG entries = clusters + 2;
    const ULONG fatSectors = (ULONG)FatSectorsFor(clusters, bits);
    if (fatSectors > perFat)
        return FALSE;
    // Not zero-filled: only the entries a piece's read filled are looked at.
    const std::unique_ptr<BYTE[]> chunk(new (std::nothrow) BYTE[(size_t)ChunkSectors * SECTOR_SIZE]);
    if (!chunk)
        return FALSE;
    const ULONG chunkEntries = ChunkSectors * SECTOR_SIZE * 8 / bits;
    ULONG freeClusters = 0;
    for (ULONG first = 0, firstEntry = 0; first < fatSectors; first += ChunkSectors, firstEntry += chunkEntries) {
        const ULONG sectors = fatSectors - first < ChunkSectors ? fatSectors - first : ChunkSectors;
        if (!drive_->Read(reserved + first, sectors, chunk.get()) &&
            (fats < 2 || !drive_->Read(reserved + perFat + first, sectors, chunk.get())))
            return FALSE;
        const ULONG end = entries - firstEntry < chunkEntries ? entries : firstEntry + chunkEntries;
        for (ULONG cluster = firstEntry < 2 ? 2 : firstEntry; cluster < end; cluster++)
            if (FatLink(chunk.get(), bits, cluster - firstEntry) == 0)
                freeClusters++;
    }

    sectorsPerCluster_ = (UCHAR)perCluster;
    clusterCount_ = clusters;
    startData_ = (ULONG)startData;
    freeSectors_ = freeClusters * sectorsPerCluster;
    return TRUE;
}
