// The progress line: the files counted and the directory being walked, read
// under MutexForCommonData like the window's refresh.
#include "cli/progress.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

#include "app/kivifat.h"
#include "cli/text.h"
#include "engine/longpath.h"
#include "engine/scan.h"

namespace {

std::atomic<bool> stopProgress;
std::thread progressThread;

// The last `width` bytes of `path`, from the start of a character.
std::string Tail(const std::string &path, size_t width)
{
    size_t from = path.size() > width ? path.size() - width : 0;
    while (from < path.size() && (path[from] & 0xC0) == 0x80)
        from++;
    return path.substr(from);
}

void DrawProgress()
{
    const auto started = std::chrono::steady_clock::now();
    while (!stopProgress) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (WaitForSingleObject(hMutex, 250) != WAIT_OBJECT_0)
            continue;
        const unsigned long files = TotalFiles + ZeroLengthFileCount;
        const std::string directory = PlatformPath(LongDirPath, cDrive);
        ReleaseMutex(hMutex);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        fprintf(stderr, "\r\033[K%lu files  %.0f files/s  %s", files, files / seconds,
                Tail(directory, 50).c_str());
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
