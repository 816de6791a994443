// The progress line, read under MutexForCommonData like the window's refresh.
#include "cli/progress.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "app/kivifat.h"
#include "cli/text.h"
#include "engine/scan.h"

namespace {

std::atomic<bool> stopProgress;
std::thread progressThread;

// The last `width` characters of `path`.
const char *Tail(const char *path, size_t width)
{
    const size_t length = strlen(path);
    return length > width ? path + length - width : path;
}

void DrawProgress()
{
    const auto started = std::chrono::steady_clock::now();
    while (!stopProgress) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (WaitForSingleObject(hMutex, 250) != WAIT_OBJECT_0)
            continue;
        const unsigned long files = TotalFiles + ZeroLengthFileCount;
        char current[260];
        strcpy(current, cFileName);
        ReleaseMutex(hMutex);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        fprintf(stderr, "\r\033[K%lu files  %.0f files/s  %s", files, files / seconds,
                Cp437ToUtf8(Tail(current, 50)).c_str());
        fflush(stderr);
    }
}

}  // namespace

void StartProgress()
{
    if (!isatty(STDERR_FILENO))
        return;
    stopProgress = false;
    progressThread = std::thread(DrawProgress);
}

void StopProgress()
{
    if (!progressThread.joinable())
        return;
    stopProgress = true;
    progressThread.join();
    fprintf(stderr, "\r\033[K");
    fflush(stderr);
}
