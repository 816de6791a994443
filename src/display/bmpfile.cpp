// Pictures from Windows bitmap files. LoadFile reads a whole file into one
// movable block; GetBitmap makes it the main window's picture once it is sure
// that the file holds everything its header announces, so that neither the
// palette (read at file offset 54), nor the colour table and pixel bits that
// the platform converts, lie beyond the block. Pictures stored top-down
// (negative height) are accepted: their height is given as a positive number
// and dib.cpp draws them the right way up at that size.
#include "display/bmpfile.h"

#include "app/kivifat.h"
#include "engine/fatdisk.h"

HGLOBAL hDIB;

namespace {

// Information header, from its start (file offset 14).
constexpr size_t BIH_Size = 0;          // 32 bits
constexpr size_t BIH_Width = 4;         // 32 bits, signed
constexpr size_t BIH_Height = 8;        // 32 bits, signed; negative when top-down
constexpr size_t BIH_BitCount = 14;     // 16 bits
constexpr size_t BIH_Compression = 16;  // 32 bits
constexpr size_t BIH_SizeImage = 20;    // 32 bits
constexpr size_t BIH_ClrUsed = 32;      // 32 bits

constexpr DWORD kInfoHeaderSize = 40;   // the header the palette is read after
constexpr DWORD kCoreHeaderSize = 12;   // the refused OS/2 form
// The palette is read from here whatever the header's length.
constexpr ULONGLONG kPaletteOffset = BITMAP_HEADER_OFFSET + kInfoHeaderSize;

// Compression values whose pixel rows are stored plainly (the masks only say
// how a pixel's bits split into colours).
constexpr DWORD kCompressionNone = 0;
constexpr DWORD kCompressionMasks = 3;
constexpr DWORD kCompressionAlphaMasks = 6;

// Larger pictures are refused as nonsense (and keep the sums below small).
constexpr LONG kMaxSide = 32767;

const char kTruncated[] = "ERROR - GetBitMap - Truncated bitmap";
const char kBadHeader[] = "ERROR - GetBitMap - Bad bitmap header";

ULONGLONG Larger(ULONGLONG a, ULONGLONG b)
{
    return a > b ? a : b;
}

// How far from the file's start the platform's conversion reads the header
// and colour table: the header (taken as at least 40 bytes, then the colour
// masks when the compression names them), then biClrUsed colours (at most
// 256), or when that is 0 one colour per pixel value up to 8 bits per pixel.
ULONGLONG PlatformTableEnd(const BYTE *header)
{
    const DWORD used = ld_32(&header[BIH_ClrUsed]);
    const WORD bitCount = ld_16(&header[BIH_BitCount]);
    const DWORD compression = ld_32(&header[BIH_Compression]);
    ULONGLONG colours = 0;
    if (used != 0)
        colours = used < 256 ? used : 256;
    else if (bitCount <= 8)
        colours = 1ull << bitCount;
    const ULONGLONG masks = compression == kCompressionMasks        ? 12
                            : compression == kCompressionAlphaMasks ? 16
                                                                     : 0;
    const ULONGLONG info = Larger(ld_32(&header[BIH_Size]), kInfoHeaderSize + masks);
    return BITMAP_HEADER_OFFSET + info + 4 * colours;
}

// The message that refuses the picture of `size` bytes at `picture`, or NULL
// when it holds all it announces. Every length is summed in 64 bits, so that
// no field value can wrap a sum back into range.
const char *CheckPicture(const BYTE *picture, ULONGLONG size)
{
    if (size < kPaletteOffset)
        return kTruncated;
    const BYTE *header = picture + BITMAP_HEADER_OFFSET;
    const LONG width = (LONG)ld_32(&header[BIH_Width]);
    const LONG height = (LONG)ld_32(&header[BIH_Height]);
    if (width <= 0 || width > kMaxSide || height == 0 || height > kMaxSide || height < -kMaxSide)
        return kBadHeader;
    const DWORD compression = ld_32(&header[BIH_Compression]);
    ULONGLONG pixelBytes;
    if (compression == kCompressionNone || compression == kCompressionMasks ||
        compression == kCompressionAlphaMasks) {
        // Rows of whole 32-bit words.
        const ULONGLONG row = ((ULONGLONG)width * ld_16(&header[BIH_BitCount]) + 31) / 32 * 4;
        pixelBytes = row * (ULONGLONG)(height < 0 ? -height : height);
    } else {
        // Compressed data has no length but the one the header gives.
        pixelBytes = ld_32(&header[BIH_SizeImage]);
        if (pixelBytes == 0)
            return kBadHeader;
    }
    ULONGLONG needed = kPaletteOffset + 4ull * (ULONGLONG)GetNumColors(header);
    needed = Larger(needed, BITMAP_HEADER_OFFSET + (ULONGLONG)ld_32(&header[BIH_Size]) +
                                GetClrTableSize(header) + pixelBytes);
    needed = Larger(needed, PlatformTableEnd(header));
    return size < needed ? kTruncated : NULL;
}

}  // namespace

HGLOBAL LoadFile(LPCSTR name)
{
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    HGLOBAL block = NULL;
    const DWORD size = GetFileSize(file, NULL);
    if (size == INVALID_FILE_SIZE) {
        ErrorHandling("Error number %ld occured during GetFileSize - LoadFile.");
    } else if ((block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT | LMEM_DISCARDABLE, size)) == NULL) {
        ErrorHandling("Error number %ld occured during LocalAlloc - LoadFile.");
    } else {
        BYTE *data = (BYTE *)LocalLock(block);
        if (data == NULL) {
            ErrorHandling("Error number %ld occured during LocalLock - LoadFile.");
            LocalFree(block);
            block = NULL;
        } else {
            // A short read leaves the rest of the block zero.
            DWORD read;
            const BOOL done = ReadFile(file, data, size, &read, NULL);
            if (!done)
                ErrorHandling("Error number %ld occured during ReadFile - LoadFile.");
            LocalUnlock(block);
            if (!done) {
                LocalFree(block);
                block = NULL;
            }
        }
    }
    CloseHandle(file);
    return block;
}

bool GetBitmap(LPCSTR name, DWORD *width, DWORD *height)
{
    hDIB = LoadFile(name);
    if (hDIB == NULL)
        return false;
    const BYTE *picture = (const BYTE *)GlobalLock(hDIB);
    if (picture == NULL) {
        ErrorHandling("Error number %ld occured during GetBitMap - GlobalLock.");
        GlobalFree(hDIB);
        hDIB = NULL;
        return false;
    }
    const SIZE_T size = GlobalSize(hDIB);
    const char *refusal = NULL;
    if (size < BITMAP_HEADER_OFFSET + 4) {
        refusal = kTruncated;   // not even the header's length is there
    } else if (ld_32(&picture[BITMAP_HEADER_OFFSET + BIH_Size]) == kCoreHeaderSize) {
        // The unlock to a lock count of 0 leaves the last error at 0, which
        // is the number this message shows.
        GlobalUnlock(hDIB);
        ErrorHandling("Error number %ld occured during GetBitMap - OS/2 bitmap.");
        GlobalFree(hDIB);
        hDIB = NULL;
        return false;
    } else {
        refusal = CheckPicture(picture, size);
    }
    if (refusal != NULL) {
        GlobalUnlock(hDIB);
        ErrorBox(refusal);
        GlobalFree(hDIB);
        hDIB = NULL;
        return false;
    }
    const LONG pictureHeight = (LONG)ld_32(&picture[BITMAP_HEADER_OFFSET + BIH_Height]);
    *width = ld_32(&picture[BITMAP_HEADER_OFFSET + BIH_Width]);
    *height = (DWORD)(pictureHeight < 0 ? -pictureHeight : pictureHeight);
    GlobalUnlock(hDIB);
    return true;
}

int GetNumColors(const BYTE *header)
{
    const DWORD used = ld_32(&header[BIH_ClrUsed]);
    if (used != 0)
        return (WORD)used;
    switch (ld_16(&header[BIH_BitCount])) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

WORD GetClrTableSize(const BYTE *header)
{
    if (header == NULL)
        return 0;
    const WORD bitCount = ld_16(&header[BIH_BitCount]);
    // Three 32-bit colour masks are assumed, whatever the compression says.
    if (bitCount == 16 || bitCount == 32)
        return 12;
    if (bitCount == 24)
        return 0;
    return (WORD)(4 * GetNumColors(header));
}

const BYTE *GetDIBImagePtr(const BYTE *header)
{
    return header + ld_32(&header[BIH_Size]) + GetClrTableSize(header);
}
