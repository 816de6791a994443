// Internal to the host layer: the kernel objects that HANDLEs name, the
// process-wide handle table they live in, and the countdown that the test
// fault controls share.
#pragma once

#include "win32_posix.h"

#include <atomic>
#include <memory>

namespace vantrel_host {

enum class Kind { File, Mutex, Thread };

// Base of every object a HANDLE names. Each CreateXxx call makes a new object
// (a new handle), even when several handles share one underlying mutex or
// thread; the object is destroyed when CloseHandle drops it from the table and
// no call in progress still holds it.
struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    const Kind kind;
};

// Adds an object to the table; the handle is the object's address.
HANDLE RegisterHandle(std::shared_ptr<Object> object);
// The live object behind a handle, or null for stale, closed or foreign
// values. The object lives until its handle is closed: as on Windows, a
// handle must not be closed while another thread is in a call on it (a call
// that blocks keeps what it waits on alive itself).
Object *LookupHandle(HANDLE handle);
// Removes the handle from the table; false if it was not there.
bool UnregisterHandle(HANDLE handle);

template <class T>
T *LookupHandleAs(HANDLE handle, Kind kind)
{
    Object *object = LookupHandle(handle);
    return object && object->kind == kind ? static_cast<T *>(object) : nullptr;
}

// "The n-th call from now fails": Arm(n) with n >= 1, then each call asks
// Fires(), which is true exactly once, on the n-th call. Arm(0) disarms.
class Countdown {
public:
    constexpr Countdown() = default;
    void Arm(unsigned n, DWORD error = 0)
    {
        error_.store(error);
        remaining_.store(n);
    }
    bool Fires()
    {
        unsigned current = remaining_.load();
        while (current != 0) {
            if (remaining_.compare_exchange_weak(current, current - 1))
                return current == 1;
        }
        return false;
    }
    DWORD Error() const { return error_.load(); }

private:
    std::atomic<unsigned> remaining_{0};
    std::atomic<DWORD> error_{0};
};

// Each source file clears its own faults; FaultReset calls them all.
void ResetMemoryFaults();
void ResetFileFaults();
void ResetSyncFaults();

}  // namespace vantrel_host
