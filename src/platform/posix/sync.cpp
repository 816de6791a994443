// Threads, the named recursive mutex and waits on the host, with Windows'
// rules: a mutex belongs to a thread, is handed to its waiters first come
// first served, and is abandoned when its owner thread ends; last error is
// per thread.
#include "handles.h"
#include "faults.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

using vantrel_host::Kind;

namespace {

thread_local DWORD lastError = 0;

vantrel_host::Countdown mutexTimeout;

struct OwnedMutexes;

// A thread blocked in WaitForSingleObject on a mutex. The releasing thread
// sets `granted` (and `abandoned`) under the mutex's lock.
struct Waiter {
    OwnedMutexes *thread;
    bool granted = false;
    bool abandoned = false;
};

// The owner of a free mutex whose last owner ended without releasing it: the
// next thread to take it hears of the abandonment.
char abandonedTag;
OwnedMutexes *const kAbandoned = reinterpret_cast<OwnedMutexes *>(&abandonedTag);

// A mutex. While nobody waits, a free mutex is taken with one compare-and-swap
// of `owner` and given up with one store, without the lock: the scan hands the
// mutex back and forth before every file. Once a thread waits, ownership goes
// under the lock straight from the owner to the longest waiter, never through
// a free state that a third thread could seize.
struct MutexState {
    ~MutexState();
    std::mutex lock;
    std::condition_variable changed;
    std::string name;
    std::atomic<OwnedMutexes *> owner{nullptr};   // null or kAbandoned when free
    unsigned count = 0;                           // the owner's recursion depth
    std::atomic<unsigned> waiting{0};             // threads queued, or queueing, in `waiters`
    std::deque<Waiter *> waiters;

    // Takes the mutex for `thread` if it is free; sets *abandoned when taken.
    bool TryTake(OwnedMutexes *thread, bool *abandoned)
    {
        OwnedMutexes *expected = nullptr;
        if (!owner.compare_exchange_strong(expected, thread) &&
            (expected != kAbandoned || !owner.compare_exchange_strong(expected, thread)))
            return false;
        *abandoned = expected == kAbandoned;
        count = 1;
        return true;
    }

    // Makes `next`, the longest waiter, the owner; `lock` held.
    void Grant(bool wasAbandoned)
    {
        Waiter *next = waiters.front();
        waiters.pop_front();
        waiting.fetch_sub(1);
        count = 1;
        next->granted = true;
        next->abandoned = wasAbandoned;
        changed.notify_all();
    }

    // Gives the mutex up, from its owner, to the longest waiter or to nobody;
    // `lock` held.
    void PassOn(bool wasAbandoned)
    {
        if (waiters.empty()) {
            owner.store(wasAbandoned ? kAbandoned : nullptr);
            return;
        }
        owner.store(waiters.front()->thread);
        Grant(wasAbandoned);
    }

    // After a release without the lock that a thread queued during: that
    // thread gets the mutex unless another took it first; `lock` held.
    void HandToQueued()
    {
        OwnedMutexes *expected = nullptr;
        if (!waiters.empty() && owner.compare_exchange_strong(expected, waiters.front()->thread))
            Grant(false);
    }
};

// The mutexes a thread has taken. Its destructor runs when the thread ends and
// abandons those the thread still owns; its address identifies the thread. A
// mutex stays listed after its release, so that taking it again costs nothing.
struct OwnedMutexes {
    ~OwnedMutexes() { AbandonAll(); }
    void Add(const std::shared_ptr<MutexState> &state)
    {
        for (const Entry &entry : owned)
            if (entry.state == state.get() && !entry.weak.expired())
                return;
        owned.erase(std::remove_if(owned.begin(), owned.end(), [](const Entry &entry) { return entry.weak.expired(); }),
                    owned.end());
        owned.push_back({state.get(), state});
    }
    void AbandonAll()
    {
        std::vector<Entry> list;
        list.swap(owned);
        for (const Entry &entry : list) {
            if (auto state = entry.weak.lock()) {
                std::lock_guard<std::mutex> hold(state->lock);
                if (state->owner.load() == this)
                    state->PassOn(true);
            }
        }
    }
    // Weak: as on Windows, a mutex lives as long as its handles, not its owner.
    struct Entry {
        MutexState *state;
        std::weak_ptr<MutexState> weak;
    };
    std::vector<Entry> owned;
};

thread_local OwnedMutexes thisThread;

std::mutex lockNames;
std::unordered_map<std::string, std::weak_ptr<MutexState>> &Names()
{
    static auto *names = new std::unordered_map<std::string, std::weak_ptr<MutexState>>;
    return *names;
}

MutexState::~MutexState()
{
    if (name.empty())
        return;
    std::lock_guard<std::mutex> hold(lockNames);
    auto found = Names().find(name);
    // A new mutex may already have taken the name since this one expired.
    if (found != Names().end() && found->second.expired())
        Names().erase(found);
}

struct MutexHandle : vantrel_host::Object {
    explicit MutexHandle(std::shared_ptr<MutexState> s) : Object(Kind::Mutex), state(std::move(s)) {}
    std::shared_ptr<MutexState> state;
};

struct ThreadState {
    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;
};

struct ThreadHandle : vantrel_host::Object {
    explicit ThreadHandle(std::shared_ptr<ThreadState> s) : Object(Kind::Thread), state(std::move(s)) {}
    std::shared_ptr<ThreadState> state;
};

std::atomic<DWORD> nextThreadId{1};

// Waits on `changed` until `done()` or the timeout; true if done.
template <class Predicate>
bool WaitUntil(std::condition_variable &changed, std::unique_lock<std::mutex> &held,
               DWORD ms, Predicate done)
{
    if (ms == INFINITE) {
        changed.wait(held, done);
        return true;
    }
    return changed.wait_for(held, std::chrono::milliseconds(ms), done);
}

DWORD WaitMutex(const std::shared_ptr<MutexState> &handleState, DWORD ms)
{
    if (mutexTimeout.Fires()) {
        SetLastError(NO_ERROR);
        return WAIT_TIMEOUT;
    }
    OwnedMutexes *me = &thisThread;
    MutexState &state = *handleState;
    if (state.owner.load(std::memory_order_relaxed) == me) {
        ++state.count;
        return WAIT_OBJECT_0;
    }
    bool abandoned = false;
    if (state.waiting.load() == 0 && state.TryTake(me, &abandoned)) {
        me->Add(handleState);
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }
    // Blocking: with a reference of its own, as a wait keeps its object.
    const std::shared_ptr<MutexState> keep = handleState;
    std::unique_lock<std::mutex> held(state.lock);
    // Counted before the last try, so that a release without the lock either
    // leaves the mutex to this try or sees the count and hands the mutex over.
    state.waiting.fetch_add(1);
    if (state.waiters.empty() && state.TryTake(me, &abandoned)) {
        state.waiting.fetch_sub(1);
    } else {
        Waiter waiter{me};
        state.waiters.push_back(&waiter);
        // A grant that races with the timeout still counts: ownership has
        // already been handed over.
        if (!WaitUntil(state.changed, held, ms, [&] { return waiter.granted; })) {
            state.waiters.erase(std::find(state.waiters.begin(), state.waiters.end(), &waiter));
            state.waiting.fetch_sub(1);
            return WAIT_TIMEOUT;
        }
        abandoned = waiter.abandoned;
    }
    held.unlock();
    me->Add(keep);
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

DWORD WaitThread(std::shared_ptr<ThreadState> state, DWORD ms)
{
    std::unique_lock<std::mutex> held(state->lock);
    return WaitUntil(state->ended, held, ms, [&] { return state->finished; }) ? WAIT_OBJECT_0
                                                                              : WAIT_TIMEOUT;
}

}  // namespace

void vantrel_host::ResetSyncFaults() { mutexTimeout.Arm(0); }

void FaultMutexTimeout(unsigned n) { mutexTimeout.Arm(n); }

DWORD GetLastError(void) { return lastError; }
VOID SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

VOID Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0)
        std::this_thread::yield();
    else if (dwMilliseconds == INFINITE)
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    (void)lpThreadAttributes, (void)dwStackSize;
    // Suspended creation is not supported.
    if (!lpStartAddress || dwCreationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        auto state = std::make_shared<ThreadState>();
        auto handle = std::make_shared<ThreadHandle>(state);
        std::thread([state, lpStartAddress, lpParameter] {
            lpStartAddress(lpParameter);
            // Abandon before reporting the end, so that a thread that waited
            // for this one sees the mutexes already abandoned.
            thisThread.AbandonAll();
            std::lock_guard<std::mutex> hold(state->lock);
            state->finished = true;
            state->ended.notify_all();
        }).detach();
        if (lpThreadId)
            *lpThreadId = nextThreadId.fetch_add(1);
        return vantrel_host::RegisterHandle(handle);
    } catch (const std::exception &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName)
{
    (void)lpMutexAttributes;
    try {
        // The initial owner counts only for the thread that creates the
        // object, and is set before the name makes the object visible.
        auto make = [bInitialOwner] {
            auto fresh = std::make_shared<MutexState>();
            if (bInitialOwner) {
                fresh->owner.store(&thisThread);
                fresh->count = 1;
                thisThread.Add(fresh);
            }
            return fresh;
        };
        std::shared_ptr<MutexState> state;
        bool existed = false;
        if (lpName && *lpName) {
            std::lock_guard<std::mutex> hold(lockNames);
            std::weak_ptr<MutexState> &entry = Names()[lpName];
            state = entry.lock();
            existed = state != nullptr;
            if (!existed) {
                state = make();
                state->name = lpName;
                entry = state;
            }
        } else {
            state = make();
        }
        HANDLE handle = vantrel_host::RegisterHandle(std::make_shared<MutexHandle>(state));
        SetLastError(existed ? ERROR_ALREADY_EXISTS : NO_ERROR);
        return handle;
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL ReleaseMutex(HANDLE hMutex)
{
    auto handle = vantrel_host::LookupHandleAs<MutexHandle>(hMutex, Kind::Mutex);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MutexState &state = *handle->state;
    if (state.owner.load(std::memory_order_relaxed) != &thisThread) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--state.count != 0)
        return TRUE;
    if (state.waiting.load() == 0) {
        state.owner.store(nullptr);
        if (state.waiting.load() == 0)
            return TRUE;
        std::lock_guard<std::mutex> hold(state.lock);
        state.HandToQueued();
        return TRUE;
    }
    std::lock_guard<std::mutex> hold(state.lock);
    state.PassOn(false);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    vantrel_host::Object *object = vantrel_host::LookupHandle(hHandle);
    if (object && object->kind == Kind::Mutex)
        return WaitMutex(static_cast<MutexHandle &>(*object).state, dwMilliseconds);
    if (object && object->kind == Kind::Thread)
        return WaitThread(static_cast<ThreadHandle &>(*object).state, dwMilliseconds);
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
