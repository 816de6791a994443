// The test images, boxes and analysis starts, and the host's side of the platform (Windows: _win32.cpp).
#include "support/testplatform.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "app/kivifat.h"
#include "engine/scan.h"
#include "volume/volume.h"
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>

#include "platform/posix/host.h"
#endif

namespace {
std::mutex lockBoxes;
std::vector<std::string> boxes;
// The window makes the mutex when it is created; the tests, before any test.
const bool mutexMade = (hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData")) != NULL;
}

FatLayout FatLayout::For(uint32_t clusters, uint8_t sectorsPerCluster, uint16_t rootEntries)
{
    FatLayout layout;
    layout.sectorsPerCluster = sectorsPerCluster;
    layout.rootEntries = rootEntries;
    const uint32_t fatBytes = clusters > 4087 ? (clusters + 2) * 2 : ((clusters + 2) * 3 + 1) / 2;
    layout.sectorsPerFat = (uint16_t)((fatBytes + 511) / 512);
    layout.totalSectors = layout.DataStart() + clusters * (sectorsPerCluster ? sectorsPerCluster : 256u);
    return layout;
}

FatLayout FatLayout::For32(uint32_t clusters, uint8_t sectorsPerCluster)
{
    FatLayout layout;
    layout.fat32 = true;
    layout.sectorsPerCluster = sectorsPerCluster;
    layout.reservedSectors = 2;
    layout.rootEntries = 0;
    layout.sectorsPerFat = ((clusters + 2) * 4 + 511) / 512;
    layout.totalSectors = layout.DataStart() + clusters * sectorsPerCluster;
    return layout;
}

FatImage::FatImage(const FatLayout &layout) : layout(layout), bytes((size_t)layout.totalSectors * 512)
{
    const bool small = layout.totalSectors < 0x10000;
    const uint32_t fields[][3] = {{0, 0x903CEB, 3}, {11, 512, 2}, {13, layout.sectorsPerCluster, 1},
                                  {14, layout.reservedSectors, 2}, {16, layout.fats, 1}, {17, layout.rootEntries, 2},
                                  {19, small ? layout.totalSectors : 0, 2}, {21, 0xF8, 1},
                                  {22, layout.fat32 ? 0 : layout.sectorsPerFat, 2},
                                  {32, small ? 0 : layout.totalSectors, 4}, {510, 0xAA55, 2}};
    for (const auto &field : fields)
        Put(field[0], field[1], (int)field[2]);
    if (layout.fat32) {
        // The FSInfo sector claims no free cluster and a next free one past the volume.
        const uint32_t fat32[][3] = {{36, layout.sectorsPerFat, 4}, {44, layout.rootCluster, 4}, {48, 1, 2},
                                     {512, 0x41615252, 4}, {996, 0x61417272, 4}, {1000, 0, 4},
                                     {1004, 0xFFFFFFF0, 4}, {1022, 0xAA55, 2}};
        for (const auto &field : fat32)
            Put(field[0], field[1], (int)field[2]);
        SetLink(layout.rootCluster, End());
    }
    // Entries 0 and 1 hold the media byte and an end mark, as formatters write them.
    SetLink(0, End() & ~7u);
    SetLink(1, End());
}

void FatImage::SetLink(uint32_t cluster, uint32_t value, int copy)
{
    for (int fat = copy < 0 ? 0 : copy; fat < (copy < 0 ? layout.fats : copy + 1); fat++) {
        const size_t base = (size_t)(layout.reservedSectors + fat * layout.sectorsPerFat) * 512;
        if (layout.fat32) {
            Put(base + cluster * 4, value, 4);
            continue;
        }
        const size_t at = layout.FatBits() == 16 ? base + cluster * 2 : base + cluster + cluster / 2;
        const uint16_t pair = (uint16_t)(bytes.at(at) | bytes.at(at + 1) << 8);   // 12-bit entries share a byte
        const uint16_t twelve = (uint16_t)((cluster & 1) ? (pair & 0xF) | value << 4 : (pair & 0xF000) | (value & 0xFFF));
        Put(at, layout.FatBits() == 16 ? value : twelve, 2);
    }
}

void FatImage::Entry(size_t at, const char *name, uint8_t attributes, uint32_t first, uint32_t size)
{
    memset(&bytes.at(at), ' ', 11);
    memcpy(&bytes[at], name, strnlen(name, 11));
    Put(at + 11, attributes, 1);
    Put(at + 20, first >> 16, 2);
    Put(at + 26, first & 0xFFFF, 2);
    Put(at + 28, size, 4);
}

void FatImage::LongName(size_t at, const std::u16string &name, std::vector<size_t> slots)
{
    const size_t count = (name.size() + 12) / 13;
    uint8_t checksum = 0;
    for (size_t i = 0; i < 11; i++)
        checksum = (uint8_t)(((checksum & 1) << 7) + (checksum >> 1) + bytes.at(at + i));
    for (size_t k = 1, unit = 0; k <= count; k++) {
        const size_t slot = k <= slots.size() ? slots[k - 1] : at - 32 * k;
        memset(&bytes.at(slot), 0, 32);
        Put(slot, (uint32_t)(k | (k == count ? 0x40 : 0)), 1), Put(slot + 11, 0x0F, 1), Put(slot + 13, checksum, 1);
        for (int offset : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
            Put(slot + offset, unit < name.size() ? name[unit] : unit == name.size() ? 0 : 0xFFFF, 2);
            unit++;
        }
    }
}

void FatImage::File(size_t at, const char *name, uint16_t cluster, uint32_t size)
{
    Entry(at, name, 0x20, cluster, size);
    Chain({cluster});
}

void FatImage::Dir(size_t at, const char *name, uint16_t cluster, uint16_t parent)
{
    Entry(at, name, 0x10, cluster, 0);
    Chain({cluster});
    Entry(Cluster(cluster, 0), ".", 0x10, cluster, 0);
    Entry(Cluster(cluster, 1), "..", 0x10, parent, 0);
}

std::string FatImage::Save(const std::string &name) const
{
    // The process id keeps test programs that run side by side apart.
    const std::string file = "vantrel-" + std::to_string(getpid()) + "-" + name;
    const std::string path = (std::filesystem::temp_directory_path() / file).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc).write((const char *)bytes.data(), bytes.size());
    return path;
}

void RecordMessage(const char *text)
{
    std::lock_guard<std::mutex> hold(lockBoxes);
    boxes.push_back(text);
}

void ClearMessages()
{
    std::lock_guard<std::mutex> hold(lockBoxes);
    boxes.clear();
}

::testing::AssertionResult Shown(const std::vector<std::string> &ends)
{
    std::lock_guard<std::mutex> hold(lockBoxes);
    const std::vector<std::string> &texts = boxes;
    std::string shown = "shown:";
    bool same = texts.size() == ends.size();
    for (size_t i = 0; i < texts.size(); i++) {
        shown += " [" + texts[i] + "]";
        same = same && texts[i].size() >= ends[i].size() &&
               texts[i].compare(texts[i].size() - ends[i].size(), ends[i].size(), ends[i]) == 0;
    }
    return same ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << shown;
}

bool WaitForCommand(unsigned command, unsigned milliseconds)
{
    for (unsigned waited = 0; waited <= milliseconds; waited += 5, Sleep(5)) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == command)
                return true;
    }
    return false;
}

std::string UseImage(const FatImage &image)
{
    const std::string path = image.Save("V.img");
    EXPECT_TRUE(MapDrive('V', path)) << path;
    strcpy(cDrive, "V:");
    ClearMessages();
    return path;
}

bool StartAnalysis(const FatImage &image)
{
    hWndMain = TestWindow();
    GiveAway = false;
    UseImage(image);
    ResetStats();
    return mutexMade && OpenVolume() && KivNTInitialize() && GetDiskStats() && StartDirScanThread();
}

bool RunAnalysis(const FatImage &image)
{
    return StartAnalysis(image) && WaitForCommand(KIV_END, 20000);
}

#ifndef _WIN32
namespace {
// Installed before main, so that no test ever writes a box to standard error.
const bool hooked = (SetMessageBoxHook([](const char *, const char *text) { RecordMessage(text); }), true);
}

bool MapDrive(char letter, const std::string &path)
{
    const char device[3] = {letter, ':', 0};
    return DefineDosDeviceA(DDD_RAW_TARGET_PATH, device, path.c_str());
}

void UnmapDrive(char letter)
{
    const char device[3] = {letter, ':', 0};
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, device, nullptr);
}

HWND TestWindow()
{
    return (HWND)1;   // the host's one queue takes any window handle but NULL
}
#endif
