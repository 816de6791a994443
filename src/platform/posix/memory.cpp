// Global and local memory blocks on the host: an HGLOBAL names a header
// {size, flags, lock count} followed by the data, and every live block is
// tracked so that a stale or doubly freed handle is refused instead of
// corrupting the heap.
#include "handles.h"
#include "faults.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace {

struct Block {
    SIZE_T size;
    UINT flags;
    unsigned locks;
};

// Keeps the data at the alignment malloc gives.
constexpr SIZE_T kHeader = (sizeof(Block) + alignof(std::max_align_t) - 1) /
                           alignof(std::max_align_t) * alignof(std::max_align_t);
// Larger requests fail as they would in a 32-bit Windows process; this also
// keeps absurd sizes away from the allocator.
constexpr SIZE_T kMaxBlock = 0x7FFFFFFF;

std::mutex lockBlocks;
std::unordered_set<Block *> &LiveBlocks()
{
    static auto *live = new std::unordered_set<Block *>;
    return *live;
}

vantrel_host::Countdown failAllocation;
vantrel_host::Countdown failLock;

unsigned char *DataOf(Block *block)
{
    return reinterpret_cast<unsigned char *>(block) + kHeader;
}

// The block behind a handle, if it is live; lockBlocks must be held.
Block *Find(HGLOBAL hMem)
{
    Block *block = static_cast<Block *>(hMem);
    return LiveBlocks().count(block) ? block : nullptr;
}

}  // namespace

void vantrel_host::ResetMemoryFaults()
{
    failAllocation.Arm(0);
    failLock.Arm(0);
}

void FaultFailAllocation(unsigned n, DWORD error) { failAllocation.Arm(n, error); }
void FaultFailLock(unsigned n, DWORD error) { failLock.Arm(n, error); }

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    if (failAllocation.Fires()) {
        SetLastError(failAllocation.Error());
        return nullptr;
    }
    if (dwBytes > kMaxBlock) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void *raw = (uFlags & GMEM_ZEROINIT) ? std::calloc(1, kHeader + dwBytes)
                                         : std::malloc(kHeader + dwBytes);
    if (!raw) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Block *block = static_cast<Block *>(raw);
    block->size = dwBytes;
    block->flags = uFlags;
    block->locks = 0;
    std::lock_guard<std::mutex> hold(lockBlocks);
    LiveBlocks().insert(block);
    return block;
}

LPVOID GlobalLock(HGLOBAL hMem)
{
    if (failLock.Fires()) {
        SetLastError(failLock.Error());
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(lockBlocks);
    Block *block = Find(hMem);
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A movable block of 0 bytes has no memory behind it: Windows reports it
    // as discarded.
    if ((block->flags & GMEM_MOVEABLE) && block->size == 0) {
        SetLastError(ERROR_DISCARDED);
        return nullptr;
    }
    ++block->locks;
    return DataOf(block);
}

BOOL GlobalUnlock(HGLOBAL hMem)
{
    std::lock_guard<std::mutex> hold(lockBlocks);
    Block *block = Find(hMem);
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (block->locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--block->locks > 0)
        return TRUE;
    // FALSE with NO_ERROR is how Windows says "now unlocked".
    SetLastError(NO_ERROR);
    return FALSE;
}

HGLOBAL GlobalFree(HGLOBAL hMem)
{
    {
        std::lock_guard<std::mutex> hold(lockBlocks);
        Block *block = Find(hMem);
        if (!block) {
            SetLastError(ERROR_INVALID_HANDLE);
            return hMem;
        }
        LiveBlocks().erase(block);
    }
    std::free(hMem);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL hMem)
{
    std::lock_guard<std::mutex> hold(lockBlocks);
    Block *block = Find(hMem);
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return block->size;
}

// Local blocks: the same blocks, so that a handle from LocalAlloc may be
// locked, unlocked and freed with the Global functions and the other way round.
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) { return GlobalAlloc(uFlags, uBytes); }
LPVOID LocalLock(HLOCAL hMem) { return GlobalLock(hMem); }
BOOL LocalUnlock(HLOCAL hMem) { return GlobalUnlock(hMem); }
HLOCAL LocalFree(HLOCAL hMem) { return GlobalFree(hMem); }
