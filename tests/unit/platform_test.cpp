// The host layer against the Windows behaviour the program relies on: memory
// block locking, per-thread last error, the owner-tracked recursive mutex with
// first-come hand-off and abandonment, raw volume reads, wsprintfA, the
// message queue, and the fault controls.
#include "platform/win32.h"
#include "platform/posix/faults.h"
#include "support/testplatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

class Platform : public ::testing::Test {
protected:
    void SetUp() override { FaultReset(); }
    void TearDown() override { FaultReset(); }
};

// ---- Memory blocks ---------------------------------------------------------

TEST_F(Platform, LockCountsFollowWindows)
{
    HGLOBAL block = GlobalAlloc(GHND, 64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 64u);
    auto *data = static_cast<unsigned char *>(GlobalLock(block));
    ASSERT_NE(data, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(data[i], 0) << "GMEM_ZEROINIT must zero-fill, byte " << i;
    EXPECT_EQ(GlobalLock(block), data);

    SetLastError(1234);
    EXPECT_TRUE(GlobalUnlock(block)) << "still locked once";
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR)) << "unlocked to 0";
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));

    ASSERT_NE(GlobalLock(block), nullptr);
    EXPECT_EQ(GlobalFree(block), nullptr) << "a locked block is freed too";
    EXPECT_EQ(GlobalFree(block), block) << "a second free is refused";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Platform, EmptyMovableBlockCannotBeLocked)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISCARDED));
    EXPECT_EQ(GlobalFree(block), nullptr);

    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 0);
    ASSERT_NE(fixed, nullptr);
    EXPECT_NE(GlobalLock(fixed), nullptr);
    EXPECT_EQ(GlobalFree(fixed), nullptr);
}

TEST_F(Platform, OversizedAllocationFails)
{
    SetLastError(0);
    EXPECT_EQ(GlobalAlloc(GHND, ~static_cast<SIZE_T>(0)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST_F(Platform, MemoryFaultsHitTheNthCallOnly)
{
    FaultFailAllocation(2);
    HGLOBAL first = GlobalAlloc(GHND, 16);
    SetLastError(0);
    HGLOBAL second = GlobalAlloc(GHND, 16);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HGLOBAL third = GlobalAlloc(GHND, 16);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);

    FaultFailLock(1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(GlobalLock(first), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(GlobalUnlock(first)) << "a failed lock must not count";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
    EXPECT_NE(GlobalLock(first), nullptr);

    FaultFailAllocation(1);
    FaultReset();
    HGLOBAL fourth = GlobalAlloc(GHND, 16);
    EXPECT_NE(fourth, nullptr) << "FaultReset disarms pending faults";

    for (HGLOBAL block : {first, third, fourth})
        GlobalFree(block);
}

// ---- Last error, threads ---------------------------------------------------

TEST_F(Platform, LastErrorIsPerThread)
{
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenAtStart = 99, seenAfterSet = 0;
    std::thread other([&] {
        seenAtStart = GetLastError();
        SetLastError(ERROR_NOT_OWNER);
        seenAfterSet = GetLastError();
    });
    other.join();
    EXPECT_EQ(seenAtStart, 0u);
    EXPECT_EQ(seenAfterSet, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

DWORD SleepAndCount(LPVOID parameter)
{
    Sleep(150);
    ++*static_cast<std::atomic<int> *>(parameter);
    return 0;
}

TEST_F(Platform, ThreadHandleWaitsForTheEnd)
{
    static std::atomic<int> ran;
    ran = 0;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, SleepAndCount, &ran, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, 10), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);

    // Closing the handle does not stop the thread.
    HANDLE early = CreateThread(nullptr, 0, SleepAndCount, &ran, 0, nullptr);
    ASSERT_NE(early, nullptr);
    EXPECT_TRUE(CloseHandle(early));
    while (ran.load() < 2)
        Sleep(5);
}

// ---- Mutex -----------------------------------------------------------------

TEST_F(Platform, NamedMutexIsSharedByName)
{
    SetLastError(77);
    HANDLE first = CreateMutexA(nullptr, FALSE, "Vantrel.platform_test.named");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE second = CreateMutexA(nullptr, TRUE, "Vantrel.platform_test.named");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(ReleaseMutex(second)) << "initial ownership is ignored for an existing name";

    // Owned through one handle, seen as owned through the other.
    ASSERT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    DWORD otherWait = 0;
    std::thread([&] { otherWait = WaitForSingleObject(second, 0); }).join();
    EXPECT_EQ(otherWait, WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(second));

    // Once every handle is closed the name is free again.
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
    HANDLE again = CreateMutexA(nullptr, FALSE, "Vantrel.platform_test.named");
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(again);
}

TEST_F(Platform, MutexIsRecursiveAndOwnerTracked)
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);

    BOOL released = TRUE;
    DWORD error = 0, wait = 0;
    std::thread([&] {
        released = ReleaseMutex(mutex);
        error = GetLastError();
        wait = WaitForSingleObject(mutex, 20);
    }).join();
    EXPECT_FALSE(released);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(wait, WAIT_TIMEOUT);

    // Three acquisitions need three releases.
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    std::thread([&] { wait = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(wait, WAIT_TIMEOUT) << "still held once";
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    CloseHandle(mutex);
}

DWORD TakeAndEnd(LPVOID mutex)
{
    WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
    WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
    return 0;
}

TEST_F(Platform, EndingOwnerAbandonsOnce)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);

    // A thread made by CreateThread.
    HANDLE thread = CreateThread(nullptr, 0, TakeAndEnd, mutex, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex)) << "the recursion of the dead owner is gone";
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "reported once";
    EXPECT_TRUE(ReleaseMutex(mutex));

    // A plain std::thread.
    std::thread([&] { TakeAndEnd(mutex); }).join();
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));

    // A thread waiting at the time gets the mutex abandoned.
    std::atomic<bool> taken{false};
    std::thread owner([&] {
        WaitForSingleObject(mutex, INFINITE);
        taken = true;
        Sleep(50);
    });
    while (!taken)
        Sleep(1);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
    owner.join();
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(Platform, ReleaseHandsOffToTheLongestWaiter)
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    std::atomic<bool> waiting{false}, waiterGotIt{false};
    DWORD waiterResult = 0;
    std::thread waiter([&] {
        waiting = true;
        waiterResult = WaitForSingleObject(mutex, INFINITE);
        waiterGotIt = true;
        Sleep(50);
        ReleaseMutex(mutex);
    });
    while (!waiting)
        Sleep(1);
    Sleep(100);  // let the waiter block in its wait

    ASSERT_TRUE(ReleaseMutex(mutex));
    // Released and at once wanted again: the waiter already owns it.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(mutex, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(waiterGotIt.load()) << "the releasing thread barged ahead";
    waiter.join();
    EXPECT_EQ(waiterResult, WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(Platform, MutexExcludesUnderContention)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    long counter = 0;  // deliberately unsynchronised but for the mutex
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
                ++counter;
                ReleaseMutex(mutex);
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(counter, 2000);
    CloseHandle(mutex);
}

TEST_F(Platform, MutexTimeoutFault)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    FaultMutexTimeout(2);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    SetLastError(5);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_TIMEOUT);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    // Two real acquisitions, two releases.
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

// ---- Files and raw volumes -------------------------------------------------

class Volume : public Platform {
protected:
    void SetUp() override
    {
        Platform::SetUp();
        char name[] = "/tmp/vantrel_platform_XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        path = name;
        for (int i = 0; i < kSize; ++i)
            bytes.push_back(static_cast<char>(i * 7 + (i >> 8)));
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(kSize));
        close(fd);
        ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "Q:", path.c_str()));
        volume = CreateFileA("\\\\.\\q:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
        ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        if (volume != INVALID_HANDLE_VALUE)
            CloseHandle(volume);
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr);
        std::remove(path.c_str());
        Platform::TearDown();
    }

    static constexpr int kSize = 4096;
    std::string path;
    std::string bytes;
    HANDLE volume = INVALID_HANDLE_VALUE;
};

NTSTATUS ReadAt(HANDLE handle, LONGLONG offset, ULONG length, std::string *out,
                IO_STATUS_BLOCK *iosb)
{
    out->assign(length, '\xEE');
    LARGE_INTEGER at;
    at.QuadPart = offset;
    *iosb = {};
    iosb->Information = 12345;
    NTSTATUS status = NtReadFile(handle, nullptr, nullptr, nullptr, iosb, &(*out)[0], length, &at,
                                 nullptr);
    EXPECT_EQ(iosb->Status, status) << "the status block carries the status";
    out->resize(iosb->Information);
    return status;
}

TEST_F(Volume, PositionedReads)
{
    struct Case {
        LONGLONG offset;
        ULONG length;
        NTSTATUS status;
        size_t got;
    } cases[] = {
        {0, 512, STATUS_SUCCESS, 512},
        {1000, 24, STATUS_SUCCESS, 24},
        {4000, 512, STATUS_SUCCESS, 96},      // straddles the end
        {4096, 512, STATUS_END_OF_FILE, 0},   // at the end
        {9000, 1, STATUS_END_OF_FILE, 0},     // past it
        {-1, 512, STATUS_INVALID_PARAMETER, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.offset);
        std::string got;
        IO_STATUS_BLOCK iosb;
        EXPECT_EQ(ReadAt(volume, c.offset, c.length, &got, &iosb), c.status);
        ASSERT_EQ(got.size(), c.got);
        if (c.got) {
            EXPECT_EQ(got, bytes.substr(static_cast<size_t>(c.offset), c.got));
        }
    }
}

TEST_F(Volume, InjectedReadStatusesHitOverlappingRanges)
{
    FaultReadStatus(1024, 512, STATUS_DEVICE_DATA_ERROR);
    struct Case {
        LONGLONG offset;
        ULONG length;
        NTSTATUS status;
    } cases[] = {
        {512, 512, STATUS_SUCCESS},             // ends where the range begins
        {1000, 100, STATUS_DEVICE_DATA_ERROR},  // overlaps its start
        {1535, 1, STATUS_DEVICE_DATA_ERROR},    // its last byte
        {0, 4096, STATUS_DEVICE_DATA_ERROR},    // contains it
        {1536, 512, STATUS_SUCCESS},            // starts where it ends
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.offset);
        std::string got;
        IO_STATUS_BLOCK iosb;
        EXPECT_EQ(ReadAt(volume, c.offset, c.length, &got, &iosb), c.status);
        EXPECT_EQ(got.size(), c.status == STATUS_SUCCESS ? c.length : 0u);
    }
    FaultReset();
    std::string got;
    IO_STATUS_BLOCK iosb;
    EXPECT_EQ(ReadAt(volume, 1024, 512, &got, &iosb), STATUS_SUCCESS);
}

TEST_F(Volume, BadHandlesAndIoErrors)
{
    std::string got;
    IO_STATUS_BLOCK iosb;
    EXPECT_EQ(ReadAt(INVALID_HANDLE_VALUE, 0, 16, &got, &iosb), STATUS_INVALID_HANDLE);
    EXPECT_EQ(ReadAt(nullptr, 0, 16, &got, &iosb), STATUS_INVALID_HANDLE);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_EQ(ReadAt(mutex, 0, 16, &got, &iosb), STATUS_INVALID_HANDLE);
    CloseHandle(mutex);
    CloseHandle(volume);
    EXPECT_EQ(ReadAt(volume, 0, 16, &got, &iosb), STATUS_INVALID_HANDLE) << "closed handle";
    volume = INVALID_HANDLE_VALUE;

    // The first page of our own address space is never mapped, so reading it
    // through /proc/self/mem fails with EIO.
    HANDLE memory = CreateFileA("/proc/self/mem", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(memory, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadAt(memory, 0, 16, &got, &iosb), STATUS_DEVICE_DATA_ERROR);
    EXPECT_EQ(got.size(), 0u);
    char buffer[16];
    DWORD read = 99;
    EXPECT_FALSE(ReadFile(memory, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CRC));
    EXPECT_EQ(read, 0u);
    CloseHandle(memory);
}

TEST_F(Volume, DriveMappingAndOpenErrors)
{
    struct Case {
        const char *name;
        DWORD error;
    } cases[] = {
        {"\\\\.\\R:", ERROR_FILE_NOT_FOUND},  // never mapped
        {"\\\\.\\Q", ERROR_FILE_NOT_FOUND},   // not a drive
        {"/nonexistent/vantrel", ERROR_FILE_NOT_FOUND},
        {"/tmp", ERROR_ACCESS_DENIED},        // a directory
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_EQ(CreateFileA(c.name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "q:", nullptr));
    EXPECT_EQ(CreateFileA("\\\\.\\Q:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // The open handle outlives the mapping.
    std::string got;
    IO_STATUS_BLOCK iosb;
    EXPECT_EQ(ReadAt(volume, 0, 8, &got, &iosb), STATUS_SUCCESS);
}

// Access modes of this process's descriptors open on `path`.
std::vector<int> AccessModesOf(const std::string &path)
{
    std::vector<int> modes;
    DIR *fds = opendir("/proc/self/fd");
    if (!fds)
        return modes;
    while (dirent *entry = readdir(fds)) {
        char target[4096];
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0 || std::string(target, static_cast<size_t>(n)) != path)
            continue;
        std::ifstream info(std::string("/proc/self/fdinfo/") + entry->d_name);
        std::string key;
        while (info >> key)
            if (key == "flags:") {
                std::string octal;
                info >> octal;
                modes.push_back(static_cast<int>(std::stol(octal, nullptr, 8)) & O_ACCMODE);
            }
    }
    closedir(fds);
    return modes;
}

TEST_F(Volume, RawVolumeIsOpenedReadOnlyWhateverTheAccess)
{
    CloseHandle(volume);
    // For an ordinary user this alone proves it; root ignores permissions,
    // hence the look at the descriptor's own flags below.
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    volume = CreateFileA("\\\\.\\Q:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    std::vector<int> modes = AccessModesOf(path);
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_EQ(modes[0], O_RDONLY);
}

TEST_F(Volume, ReadFileIsSequential)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string all;
    char buffer[1000];
    DWORD read = 0;
    do {
        ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
        all.append(buffer, read);
    } while (read > 0);
    EXPECT_EQ(all, bytes);
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr)) << "at the end";
    EXPECT_EQ(read, 0u);
    CloseHandle(file);
}

// ---- User interface subset -------------------------------------------------

// wsprintfA's result and text.
template <class... Args>
std::pair<int, std::string> Format(const char *format, Args... args)
{
    char out[1100];
    std::memset(out, '#', sizeof out);
    int length = wsprintfA(out, format, args...);
    return {length, out};
}

TEST_F(Platform, WsprintfFormatsAsWindows)
{
    struct Case {
        std::pair<int, std::string> got;
        const char *expected;
    } cases[] = {
        {Format("%ld", 0xFFFFFFFFu), "-1"},  // %ld takes 32 bits
        {Format("%ld|%lu", static_cast<LONG>(-5), static_cast<DWORD>(7)), "-5|7"},
        {Format("0x%0X", 0xC0000011u), "0xC0000011"},
        {Format("%08lX", 0x1234u), "00001234"},
        {Format("%lu/%lx", 0xFFFFFFFFu, 255u), "4294967295/ff"},
        {Format("[%7d]", 42), "[     42]"},
        {Format("%4d.%02d%%", 3, 7), "   3.07%"},
        {Format("%s=%c|%-4s|", "FAT", 'x', "ab"), "FAT=x|ab  |"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.got.second, c.expected);
        EXPECT_EQ(c.got.first, static_cast<int>(std::strlen(c.expected))) << c.expected;
    }

    // Output stops at 1024 characters, terminator included.
    const std::string longText(2000, 'v');
    auto truncated = Format("%s", longText.c_str());
    EXPECT_EQ(truncated.first, 1023);
    EXPECT_EQ(truncated.second, longText.substr(0, 1023));
}

TEST_F(Platform, MessageQueueIsFifoAndBlocks)
{
    HWND window = reinterpret_cast<HWND>(GetDC(nullptr));  // any non-null value
    EXPECT_FALSE(PostMessageA(nullptr, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    FaultFailPost(2);
    EXPECT_TRUE(PostMessageA(window, WM_USER + 1, 1, 10));
    EXPECT_FALSE(PostMessageA(window, WM_USER + 2, 2, 20));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(PostMessageA(window, WM_COMMAND, MAKEWPARAM(3, 4), 30));

    MSG msg;
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(msg.lParam, 10);
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(LOWORD(msg.wParam), 3);
    EXPECT_EQ(HIWORD(msg.wParam), 4);

    // GetMessageA waits for a post from another thread; WM_QUIT ends the loop.
    std::thread poster([&] {
        Sleep(30);
        PostMessageA(window, WM_USER, 5, 0);
        PostMessageA(window, WM_QUIT, 0, 0);
    });
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    poster.join();

    // PeekMessageA never waits; PM_NOREMOVE leaves the message queued.
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 7, 7, 0));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 8, 8, 0));
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 8u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(ReleaseDC(window, GetDC(window)), 1);
}

TEST_F(Platform, MessageBoxesGoToTheHookOrStandardError)
{
    ClearMessages();
    EXPECT_EQ(MessageBoxA(nullptr, "Disk read failed", "Vantrel", MB_OK | MB_ICONSTOP), IDOK);
    std::thread([] { MessageBoxA(nullptr, "from a thread", "Quellix", MB_OK); }).join();
    std::vector<CapturedBox> boxes = CapturedMessages();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Vantrel");
    EXPECT_EQ(boxes[0].text, "Disk read failed");
    EXPECT_EQ(boxes[1].caption, "Quellix");

    FaultReset();  // leaves the hook in place
    MessageBoxA(nullptr, "still hooked", "Vantrel", MB_OK);
    EXPECT_EQ(CapturedMessages().size(), 3u);

    SetMessageBoxHook(nullptr);
    ::testing::internal::CaptureStderr();
    MessageBoxA(nullptr, "no hook", "Vantrel", MB_OK);
    const std::string written = ::testing::internal::GetCapturedStderr();
    SetMessageBoxHook(RecordMessage);
    EXPECT_EQ(written, "Vantrel: no hook\n");
    EXPECT_EQ(CapturedMessages().size(), 3u);
}

}  // namespace
