// vantrel-scan: the command-line analyzer. Maps an image file or block device
// to a drive letter and runs the very analysis the window runs (volume
// services, volume preparation and the scan thread), playing the UI thread's
// part by waiting for the scan's KIV_END; then prints the report.
//
// usage: vantrel-scan [--json] [--files | --fragmented] [--drive X:] [--throttle] PATH
// Exit status: 0 when the walk completed, 1 when the analysis ended on an
// error, 2 for a usage error or a volume that cannot be opened or prepared.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/kivifat.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "engine/chains.h"
#include "engine/fatdisk.h"
#include "engine/scan.h"
#include "platform/posix/host.h"
#include "volume/volume.h"

namespace {

Analysis analysis;
std::mutex lockMessages;

int Usage()
{
    fprintf(stderr, "usage: vantrel-scan [--json] [--files | --fragmented] [--drive X:] [--throttle] PATH\n");
    return 2;
}

// Every message the analysis shows is kept for the report and shown at once.
void KeepMessage(const char *caption, const char *text)
{
    std::lock_guard<std::mutex> hold(lockMessages);
    analysis.messages.push_back(text);
    fprintf(stderr, "%s: %s\n", caption, text);
}

void KeepFile(const BYTE *entry, LPCSTR path, DWORD clusters)
{
    if (analysis.onlyFragmented && NumberOfExtents <= 1)
        return;
    analysis.files.push_back({NumberOfExtents, clusters, ld_32(&entry[DIR_FileSize]), path});
}

void WaitForEnd()
{
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0))
        if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == KIV_END)
            return;
}

}  // namespace

int main(int argc, char **argv)
{
    bool json = false;
    char letter = 'V';
    const char *path = nullptr;
    GiveAway = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (strcmp(argv[i], "--files") == 0) {
            analysis.listFiles = true;
        } else if (strcmp(argv[i], "--fragmented") == 0) {
            analysis.listFiles = analysis.onlyFragmented = true;
        } else if (strcmp(argv[i], "--throttle") == 0) {
            GiveAway = true;
        } else if (strcmp(argv[i], "--drive") == 0 && i + 1 < argc) {
            const char *drive = argv[++i];
            if (strlen(drive) != 2 || drive[1] != ':' || !((drive[0] >= 'A' && drive[0] <= 'Z') ||
                                                         (drive[0] >= 'a' && drive[0] <= 'z')))
                return Usage();
            letter = (char)(drive[0] & ~0x20);
        } else if (argv[i][0] == '-' || path != nullptr) {
            return Usage();
        } else {
            path = argv[i];
        }
    }
    if (path == nullptr)
        return Usage();

    SetMessageBoxHook(KeepMessage);
    const char device[3] = {letter, ':', 0};
    strcpy(cDrive, device);
    if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, device, path) || !OpenVolume()) {
        fprintf(stderr, "vantrel-scan: cannot open %s\n", path);
        return 2;
    }
    hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData");
    hWndMain = (HWND)&analysis;   // the host queue delivers to any window handle
    if (analysis.listFiles)
        FileMeasured = KeepFile;
    ResetStats();
    Running = ANALYSIS_RUNNING;
    if (!KivNTInitialize() || !GetDiskStats() || !StartDirScanThread())
        return 2;
    StartProgress();
    WaitForEnd();
    StopProgress();

    analysis.completed = WalkCompleted;
    if (json)
        PrintJson(analysis);
    else
        PrintText(analysis);
    return analysis.completed ? 0 : 1;
}
