// Fuzz target: one input is a whole picture file. The bytes are kept in a
// memory file that GetBitmap loads by its /proc path; a refused file must
// leave no picture and the caller's size untouched, and an accepted one must
// hold, inside its block, every byte that the palette and the platform's
// conversion read (touched here, so that the sanitizer sees any read beyond).
// Callable any number of times in one process.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "display/bmpfile.h"
#include "engine/fatdisk.h"
#include "fuzzcheck.h"
#include "platform/posix/host.h"

namespace {

// Information header, from its start.
constexpr size_t BIH_Size = 0, BIH_Width = 4, BIH_Height = 8, BIH_BitCount = 14;
constexpr size_t BIH_Compression = 16, BIH_SizeImage = 20;

// Larger inputs are skipped: they only slow the fuzzer down.
const size_t kMaxInput = 1u << 20;
const DWORD kUntouched = 0xDEADBEEF;

// Refusals are expected; their boxes would only flood the output.
void DropMessage(const char *, const char *)
{
}

// Reads [from, to) of the block, for the sanitizer's sake; the sum keeps the
// reads from being optimised away.
volatile unsigned sink;
void Touch(const BYTE *block, size_t size, uint64_t from, uint64_t to, const char *what)
{
    Check(from <= to && to <= size, what);
    unsigned sum = 0;
    for (uint64_t at = from; at < to; ++at)
        sum += block[at];
    sink = sum;
}

// What an accepted picture must give: its size as the header states it, and
// every region that the palette and the platform read inside the block.
void CheckAccepted(const uint8_t *data, size_t size, DWORD width, DWORD height)
{
    Check(hDIB != NULL, "an accepted picture left no block");
    Check(GlobalSize(hDIB) == size, "the block does not hold the whole file");
    const BYTE *block = (const BYTE *)GlobalLock(hDIB);
    Check(block != NULL, "an accepted picture cannot be locked");
    Check(memcmp(block, data, size) == 0, "the block differs from the file");
    const BYTE *header = block + BITMAP_HEADER_OFFSET;
    const LONG storedHeight = (LONG)ld_32(&header[BIH_Height]);
    Check(width == ld_32(&header[BIH_Width]) && width >= 1 && width <= 32767, "the width is not the header's");
    Check(height == (DWORD)(storedHeight < 0 ? -(int64_t)storedHeight : storedHeight) && height >= 1 &&
              height <= 32767,
          "the height is not the header's");

    const int colours = GetNumColors(header);
    Check(colours >= 0 && colours <= 0xFFFF, "the colour count is out of range");
    Touch(block, size, 54, 54 + 4 * (uint64_t)colours, "the palette lies beyond the block");
    const WORD table = GetClrTableSize(header);
    const BYTE *bits = GetDIBImagePtr(header);
    Check(bits == header + ld_32(&header[BIH_Size]) + table, "the pixel bits are not after the header and table");
    const uint64_t bitsOffset = BITMAP_HEADER_OFFSET + (uint64_t)ld_32(&header[BIH_Size]) + table;
    const DWORD compression = ld_32(&header[BIH_Compression]);
    uint64_t pixelBytes = ld_32(&header[BIH_SizeImage]);
    if (compression == 0 || compression == 3 || compression == 6)   // rows stored plainly
        pixelBytes = ((uint64_t)width * ld_16(&header[BIH_BitCount]) + 31) / 32 * 4 * height;
    Touch(block, size, bitsOffset, bitsOffset + pixelBytes, "the pixel bits lie beyond the block");
    GlobalUnlock(hDIB);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static std::once_flag once;
    std::call_once(once, [] { SetMessageBoxHook(DropMessage); });
    if (size > kMaxInput)
        return -1;   // not added to the corpus

    const int fd = MemoryFile("vantrel-bitmap", data, size);
    Check(fd >= 0, "memfd_create or write failed");
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    hDIB = NULL;
    DWORD width = kUntouched, height = kUntouched;
    if (GetBitmap(path, &width, &height)) {
        CheckAccepted(data, size, width, height);
        GlobalFree(hDIB);
        hDIB = NULL;
    } else {
        Check(hDIB == NULL, "a refused picture left a block");
        Check(width == kUntouched && height == kUntouched, "a refused picture changed the size");
    }
    close(fd);
    return 0;
}
