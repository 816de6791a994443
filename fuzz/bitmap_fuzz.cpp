// Fuzz target: one input is a picture file, which GetBitmap loads from a memory file. A refused one
// leaves no picture and the size untouched; an accepted one holds, inside its block, every byte the
// palette and the platform's conversion read (read here, for the sanitizer to see a read beyond).
#include <cstdint>
#include <cstring>

#include "display/bmpfile.h"
#include "engine/fatdisk.h"
#include "fuzzcheck.h"
#include "platform/posix/host.h"

namespace {

volatile unsigned sink;

// Reads [from, to) of the block, which must lie within its `size` bytes.
void Touch(const BYTE *block, size_t size, uint64_t from, uint64_t to, const char *what)
{
    Check(from <= to && to <= size, what);
    for (uint64_t at = from; at < to; ++at)
        sink = sink + block[at];
}

void CheckAccepted(const unsigned char *data, size_t size, DWORD width, DWORD height)
{
    const BYTE *block = (const BYTE *)GlobalLock(hDIB);
    Check(GlobalSize(hDIB) == size && memcmp(block, data, size) == 0, "the block does not hold the file");
    const BYTE *header = block + BITMAP_HEADER_OFFSET;   // its fields by offset
    const int64_t storedHeight = (LONG)ld_32(&header[8]);
    Check(width == ld_32(&header[4]) && height == (storedHeight < 0 ? -storedHeight : storedHeight) && width >= 1 &&
              width <= 32767 && height >= 1 && height <= 32767, "the size is not the header's");
    Touch(block, size, 54, 54 + 4 * (uint64_t)GetNumColors(header), "the palette lies beyond the block");
    const uint64_t bits = BITMAP_HEADER_OFFSET + (uint64_t)ld_32(&header[0]) + GetClrTableSize(header);
    Check(GetDIBImagePtr(header) == block + bits, "the pixel bits are not after the header and table");
    const DWORD compression = ld_32(&header[16]);
    const uint64_t pixels = compression == 0 || compression == 3 || compression == 6   // rows stored plainly
                                ? ((uint64_t)width * ld_16(&header[14]) + 31) / 32 * 4 * height
                                : ld_32(&header[20]);
    Touch(block, size, bits, bits + pixels, "the pixel bits lie beyond the block");
    GlobalUnlock(hDIB);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    SetMessageBoxHook([](const char *, const char *) {});
    if (size > (1u << 20))
        return -1;
    char path[64];
    const struct File { int fd; ~File() { close(fd); } } file{MemoryFile(data, size, path)};
    DWORD width = 0xDEADBEEF, height = 0xDEADBEEF;
    if (GetBitmap(path, &width, &height)) {
        CheckAccepted(data, size, width, height);
        GlobalFree(hDIB);
        hDIB = NULL;
    } else {
        Check(hDIB == NULL && width == 0xDEADBEEF && height == 0xDEADBEEF, "a refused picture changed something");
    }
    return 0;
}
