// The user-interface subset on the host: message boxes to standard error (or
// a test's hook), one process-wide posted-message queue, a dummy device
// context, Windows-style wsprintfA, and FaultReset for all the host faults.
#include "handles.h"
#include "faults.h"

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

namespace {

std::atomic<MESSAGEBOXHOOK> messageBoxHook{nullptr};
std::mutex lockStderr;

vantrel_host::Countdown failPost;

struct MessageQueue {
    std::mutex lock;
    std::condition_variable posted;
    std::deque<MSG> messages;
};
MessageQueue &Queue()
{
    static auto *queue = new MessageQueue;
    return *queue;
}

// What GetDC hands out: any non-null value will do, nothing draws through it.
char dummyDeviceContext;

// wsprintfA's output limit, terminator included.
constexpr size_t kWsprintfLimit = 1024;

// Turns a wsprintf format into a printf one: "l" length modifiers go (the
// values are 32 bits wide, as int is), and a conversion printf does not know
// is printed as its letter, as wsprintf does.
std::string PrintfFormat(const char *format)
{
    std::string out;
    for (const char *p = format; *p;) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        std::string spec = "%";
        ++p;
        while (*p && std::strchr("-+ #0", *p))
            spec += *p++;
        while (*p >= '0' && *p <= '9')
            spec += *p++;
        if (*p == '.') {
            spec += *p++;
            while (*p >= '0' && *p <= '9')
                spec += *p++;
        }
        while (*p == 'l' || *p == 'L')
            ++p;
        if (*p == 'h' && p[1] && std::strchr("diuxX", p[1]))
            spec += *p++;
        else if (*p == 'h')
            ++p;
        if (*p && std::strchr("diuxXcs%", *p)) {
            out += spec + *p++;
        } else if (*p) {
            out += *p == '%' ? "%%" : std::string(1, *p);
            ++p;
        }
    }
    return out;
}

}  // namespace

void FaultReset(void)
{
    vantrel_host::ResetMemoryFaults();
    vantrel_host::ResetFileFaults();
    vantrel_host::ResetSyncFaults();
    failPost.Arm(0);
}

void FaultFailPost(unsigned n) { failPost.Arm(n); }

void SetMessageBoxHook(MESSAGEBOXHOOK hook) { messageBoxHook.store(hook); }

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    (void)hWnd, (void)uType;
    const char *text = lpText ? lpText : "";
    const char *caption = lpCaption ? lpCaption : "Error";
    if (MESSAGEBOXHOOK hook = messageBoxHook.load()) {
        hook(caption, text);
    } else {
        std::lock_guard<std::mutex> hold(lockStderr);
        std::fprintf(stderr, "%s: %s\n", caption, text);
        std::fflush(stderr);
    }
    return IDOK;
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    // The host has no thread queues, so a post to no window has nowhere to go.
    if (!hWnd || failPost.Fires()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    MSG msg{};
    msg.hwnd = hWnd;
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count());
    MessageQueue &queue = Queue();
    {
        std::lock_guard<std::mutex> hold(queue.lock);
        queue.messages.push_back(msg);
    }
    queue.posted.notify_all();
    return TRUE;
}

BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    // One queue for every window: the window and range filters do not apply.
    (void)hWnd, (void)wMsgFilterMin, (void)wMsgFilterMax;
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    MessageQueue &queue = Queue();
    std::unique_lock<std::mutex> held(queue.lock);
    queue.posted.wait(held, [&] { return !queue.messages.empty(); });
    *lpMsg = queue.messages.front();
    queue.messages.pop_front();
    return lpMsg->message != WM_QUIT;
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    (void)hWnd, (void)wMsgFilterMin, (void)wMsgFilterMax;
    MessageQueue &queue = Queue();
    std::lock_guard<std::mutex> hold(queue.lock);
    if (queue.messages.empty())
        return FALSE;
    *lpMsg = queue.messages.front();
    if (wRemoveMsg & PM_REMOVE)
        queue.messages.pop_front();
    return TRUE;
}

HDC GetDC(HWND hWnd)
{
    (void)hWnd;
    return reinterpret_cast<HDC>(&dummyDeviceContext);
}

int ReleaseDC(HWND hWnd, HDC hDC)
{
    (void)hWnd, (void)hDC;
    return 1;
}

int wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...)
{
    if (!lpOut || !lpFmt)
        return 0;
    const std::string format = PrintfFormat(lpFmt);
    char buffer[kWsprintfLimit];
    va_list args;
    va_start(args, lpFmt);
    int length = std::vsnprintf(buffer, sizeof buffer, format.c_str(), args);
    va_end(args);
    if (length < 0)
        length = 0;
    if (static_cast<size_t>(length) >= sizeof buffer)
        length = sizeof buffer - 1;
    std::memcpy(lpOut, buffer, static_cast<size_t>(length));
    lpOut[length] = '\0';
    return length;
}
