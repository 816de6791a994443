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
// sets `granted` (and `abandoned`) under the mutex's lock, so ownership never
// passes through an unowned state that another thread could seize.
struct Waiter {
    OwnedMutexes *thread;
    bool granted = false;
    bool abandoned = false;
};

struct MutexState {
    ~MutexState();
    std::mutex lock;
    std::condition_variable changed;
    std::string name;
    OwnedMutexes *owner = nullptr;
    unsigned count = 0;
    bool abandoned = false;  // reported to the next thread that takes it
    std::deque<Waiter *> waiters;

    // Gives the mutex to the longest waiter, or leaves it free; `lock` held.
    void PassOn(bool wasAbandoned)
    {
        count = 0;
        owner = nullptr;
        if (waiters.empty()) {
            abandoned = wasAbandoned;
            return;
        }
        Waiter *next = waiters.front();
        waiters.pop_front();
        owner = next->thread;
        count = 1;
        next->granted = true;
        next->abandoned = wasAbandoned;
        changed.notify_all();
    }
};

// The mutexes a thread owns. Its destructor runs when the thread ends and
// abandons whatever the thread still owns; its address identifies the thread.
struct OwnedMutexes {
    ~OwnedMutexes() { AbandonAll(); }
    void Add(const std::shared_ptr<MutexState> &state) { owned.push_back(state); }
    void Remove(MutexState *state)
    {
        owned.erase(std::remove_if(owned.begin(), owned.end(),
                                   [state](const std::weak_ptr<MutexState> &entry) {
                                       auto held = entry.lock();
                                       return !held || held.get() == state;
                                   }),
                    owned.end());
    }
    void AbandonAll()
    {
        std::vector<std::weak_ptr<MutexState>> list;
        list.swap(owned);
        for (const auto &entry : list) {
            if (auto state = entry.lock()) {
                std::lock_guard<std::mutex> hold(state->lock);
                if (state->owner == this)
                    state->PassOn(true);
            }
        }
    }
    // Weak: as on Windows, a mutex lives as long as its handles, not its owner.
    std::vector<std::weak_ptr<MutexState>> owned;
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

DWORD WaitMutex(const std::shared_ptr<MutexState> &state, DWORD ms)
{
    if (mutexTimeout.Fires()) {
        SetLastError(NO_ERROR);
        return WAIT_TIMEOUT;
    }
    OwnedMutexes *me = &thisThread;
    std::unique_lock<std::mutex> held(state->lock);
    if (state->owner == me) {
        ++state->count;
        return WAIT_OBJECT_0;
    }
    bool abandoned;
    if (!state->owner) {
        state->owner = me;
        state->count = 1;
        abandoned = state->abandoned;
        state->abandoned = false;
    } else {
        Waiter waiter{me};
        state->waiters.push_back(&waiter);
        // A grant that races with the timeout still counts: ownership has
        // already been handed over.
        if (!WaitUntil(state->changed, held, ms, [&] { return waiter.granted; })) {
            auto &queue = state->waiters;
            queue.erase(std::find(queue.begin(), queue.end(), &waiter));
            return WAIT_TIMEOUT;
        }
        abandoned = waiter.abandoned;
    }
    held.unlock();
    me->Add(state);
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

DWORD WaitThread(const std::shared_ptr<ThreadState> &state, DWORD ms)
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
                fresh->owner = &thisThread;
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
    std::lock_guard<std::mutex> hold(state.lock);
    if (state.owner != &thisThread) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--state.count == 0) {
        thisThread.Remove(&state);
        state.PassOn(false);
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    std::shared_ptr<vantrel_host::Object> object = vantrel_host::LookupHandle(hHandle);
    if (object && object->kind == Kind::Mutex)
        return WaitMutex(static_cast<MutexHandle &>(*object).state, dwMilliseconds);
    if (object && object->kind == Kind::Thread)
        return WaitThread(static_cast<ThreadHandle &>(*object).state, dwMilliseconds);
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
