// The volume services (drive, super-area, disk statistics), the engine's preparation of
// the volume, and the analysis starts that either refuses, with what they leave behind.
#include <gtest/gtest.h>

#include <cstring>

#include "app/kivifat.h"
#include "engine/geometry.h"
#include "engine/scan.h"
#include "support/testplatform.h"
#include "volume/volume.h"
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "platform/posix/faults.h"
#endif

namespace {

TEST(OpenVolume, OpensOnlyADriveLetterWithAVolume)
{
    UseImage(FatImage(FatLayout::For(100)));
    const struct { const char *drive; bool opened, kept; } cases[] = {   // kept: a drive object until the next open
        {"V:", 1, 1}, {"v:", 1, 1}, {"W:", 0, 1}, {"V", 0, 0}, {"VV", 0, 0}, {"1:", 0, 0}};
    for (const auto &test : cases) {
        strcpy(cDrive, test.drive);
        EXPECT_EQ(OpenVolume(), test.opened) << test.drive;
        EXPECT_EQ(Drive != nullptr, test.kept) << test.drive;
    }
    EXPECT_TRUE(!KivNTInitialize() && Shown({"ERROR - KivNTInitialize"}));   // without a drive object
}

TEST(GetDiskStats, CountsTheFreeClustersOfTheFirstFatCopy)
{
    // Entries set in the first copy only, to values that no reading of a wrong half or
    // shift of a 12-bit byte pair counts as the same number of free clusters.
    const struct { const char *what; FatLayout layout; std::vector<std::pair<uint32_t, uint32_t>> entries;
                   ULONGLONG clusterSize, totalSpace, freeSpace; } cases[] = {
        {"FAT12", FatLayout::For(100), {{8, 0x800}, {11, 0xFFF}, {14, 1}, {17, 1}}, 512, 51200, 96 * 512 / 1000},
        {"FAT16", FatLayout::For(5000, 4), {{2, 1}, {3, 0x8000}}, 2048, 5000 * 2048, 4998 * 2048 / 1000},
        {"0 sectors per cluster for 256", FatLayout::For(3, 0), {{4, 0xFFF}}, 131072, 3 * 131072, 2 * 131072 / 1000},
        // The root holds cluster 2; the FSInfo sector's count (none free) is not taken.
        {"FAT32: 28 bits", FatLayout::For32(100), {{3, 1}, {4, 0x10000000}}, 512, 51200, 98 * 512 / 1000},
        {"FAT32, a FAT of more than one piece", FatLayout::For32(50000), {{49151, 1}, {49152, 1}, {50001, 1}}, 512,
         50000 * 512, 49996 * 512 / 1000},
    };
    for (const auto &test : cases) {
        FatImage image(test.layout);
        for (const auto &entry : test.entries)
            image.SetLink(entry.first, entry.second, 0);
        UseImage(image);
        // Read whole (and kept for the engine), or in pieces of 192 KiB when no block can hold it.
        for (bool pieces : {false, true}) {
#ifdef _WIN32
            if (pieces)
                continue;
#else
            if (pieces)
                FaultFailAllocation(1);
#endif
            ASSERT_TRUE(OpenVolume() && KivNTInitialize() && GetDiskStats()) << test.what;
            EXPECT_EQ((std::vector<ULONGLONG>{ClusterSize, TotalSpace, FreeSpace, RealFatSa.QueryStartDataLbn()}),
                      (std::vector<ULONGLONG>{test.clusterSize, test.totalSpace, test.freeSpace,
                                              test.layout.DataStart()}))
                << test.what << (pieces ? ", in pieces" : "");
        }
    }
}

TEST(PrepareVolume, DecodesTheGeometry)
{
    const struct { const char *what; FatLayout layout; } cases[] = {
        {"FAT12", FatLayout::For(100)},
        {"4087 clusters are still 12-bit", FatLayout::For(4087)},
        {"4088 clusters are 16-bit", FatLayout::For(4088)},
        {"65536 sectors or more: the total in the 32-bit field", FatLayout::For(40000, 2)},
        {"4 reserved sectors, 4 sectors per cluster",
         [] { FatLayout l = FatLayout::For(300, 4); l.reservedSectors = 4, l.totalSectors += 3; return l; }()},
        {"40 root entries: only whole sectors are read", FatLayout::For(300, 1, 40)},
        {"FAT32: no root entries, the root is a chain", FatLayout::For32(300, 2)},
    };
    for (const auto &test : cases) {
        const FatLayout &l = test.layout;
        UseImage(FatImage(l));
        ASSERT_TRUE(OpenVolume() && KivNTInitialize() && PrepareVolume()) << test.what;
        EXPECT_EQ((std::vector<DWORD>{BytesPerSector, SectorsPerCluster, BootSectors, Fats, RootDirs, TotalSectors,
                                      SectorsPerFat, Cluster2, TotalClusters, BytesPerCluster, FatBits, DirEntries}),
                  (std::vector<DWORD>{512, l.sectorsPerCluster, l.reservedSectors, l.fats, l.rootEntries,
                                      l.totalSectors, l.sectorsPerFat, l.DataStart(), l.Clusters(),
                                      512u * l.sectorsPerCluster, l.FatBits(), l.rootEntries * 32u / 512 * 16}))
            << test.what;
        EXPECT_TRUE(GlobalSize(hFat) == 512u * l.sectorsPerFat && Shown({})) << test.what;
    }
}

enum Outcome { REFUSED, FAT_KEPT, STARTED };   // FAT_KEPT: refused, the last FAT read still held

// A start after a finished analysis meets `spoil`, done to the volume before its super-area is
// read (superArea) or after it (so that the engine's own checks meet it), or to the host layer.
TEST(Start, RefusesWhatCannotBeReadSafelyAndLeavesNothingOpen)
{
    const char beyond[] = "ERROR - StartDirScanThread - FAT or root directory beyond the end of the volume";
    const char noFat[] = "ERROR - StartDirScanThread - No FAT or no root directory";
    const char spc[] = "ERROR - StartDirScanThread - Invalid sectors per cluster";
    [[maybe_unused]] const char readError[] = "Error number 0xC000009C occured during ReadSectors - NtReadFile.";
    const std::vector<std::string> super = {"ERROR - KivNTInitialize"};
    // `then` spoils after the super-area's read what `spoil` has not; `files` are measured by a start.
    const struct { const char *what; void (*spoil)(FatImage &); std::vector<std::string> messages; Outcome outcome;
                   bool superArea = false; void (*then)(FatImage &) = nullptr; DWORD files = 2; } cases[] = {
        {"1024-byte sectors", [](FatImage &i) { i.Put(11, 1024, 2); }, super, FAT_KEPT, true},
        {"3 sectors per cluster", [](FatImage &i) { i.Put(13, 3, 1); }, super, FAT_KEPT, true},
        {"no reserved sector", [](FatImage &i) { i.Put(14, 0, 2); }, super, FAT_KEPT, true},
        {"no FAT", [](FatImage &i) { i.Put(16, 0, 1); }, super, FAT_KEPT, true},
        {"no root directory", [](FatImage &i) { i.Put(17, 0, 2); }, super, FAT_KEPT, true},
        {"no FAT size (FAT32 keeps it elsewhere)", [](FatImage &i) { i.Put(22, 0, 2); }, super, FAT_KEPT, true},
        {"no data area", [](FatImage &i) { i.Put(19, i.layout.DataStart(), 2); }, super, FAT_KEPT, true},
        {"no whole cluster", [](FatImage &i) { i.Put(13, 4, 1), i.Put(19, i.layout.DataStart() + 3, 2); }, super,
         FAT_KEPT, true},
        {"more clusters than 16 bits number", [](FatImage &i) { i.Put(19, 0, 2), i.Put(32, 70000, 4); }, super,
         FAT_KEPT, true},
        {"a FAT too small for its clusters", [](FatImage &i) { i.Put(19, i.layout.DataStart() + 400, 2); }, super,
         FAT_KEPT, true},
        {"the image ends in the first FAT", [](FatImage &i) { i.bytes.resize(600); }, super, FAT_KEPT, true},
        {"1024-byte sectors", [](FatImage &i) { i.Put(11, 1024, 2); },
         {"ERROR - StartDirScanThread - Sector size is not 512 bytes"}, REFUSED},
        {"no sectors per cluster", [](FatImage &i) { i.Put(13, 0, 1); }, {spc}, REFUSED},
        {"3 sectors per cluster", [](FatImage &i) { i.Put(13, 3, 1); }, {spc}, REFUSED},
        {"no FAT copy", [](FatImage &i) { i.Put(16, 0, 1); }, {noFat}, REFUSED},
        {"FATs of no sectors", [](FatImage &i) { i.Put(22, 0, 2); }, {noFat}, REFUSED},
        {"a root directory of less than a sector", [](FatImage &i) { i.Put(17, 15, 2); }, {noFat}, REFUSED},
        {"a FAT larger than the volume", [](FatImage &i) { i.Put(22, 60000, 2); }, {beyond}, REFUSED},
        {"the volume ends in the root directory", [](FatImage &i) { i.Put(19, 4, 2); }, {beyond}, REFUSED},
        // 40 root entries fill 2.5 sectors: the two whole ones fit, the data area does not.
        {"the volume ends before the data area", [](FatImage &i) { i.Put(19, i.layout.DataStart() - 1, 2); },
         {"ERROR - StartDirScanThread - Data area beyond the end of the volume"}, REFUSED},
        {"the image ends in the root directory", [](FatImage &i) { i.bytes.resize(i.Root(16)); },
         {"Error number 0xC0000011 occured during ReadSectors - NtReadFile."}, REFUSED},
        {"the drive is gone", [](FatImage &) { UnmapDrive('V'); }, {" occured during StartDirScanThread - CreateFile."},
         REFUSED},
#ifndef _WIN32
        // The super-area reads the FAT copy whole for the engine too; when it cannot, it counts in
        // pieces as it may, and the engine reads (and reports) for itself.
        {"the first FAT copy cannot be read", [](FatImage &) { FaultReadStatus(512, 512, (NTSTATUS)0xC000009C); },
         {readError}, STARTED, true},
        {"neither FAT copy can be read", [](FatImage &) { FaultReadStatus(512, 1024, (NTSTATUS)0xC000009C); },
         super, FAT_KEPT, true},
        {"the FAT is read once: a fault after the super-area's read is not met",
         [](FatImage &) { FaultReadStatus(512, 1024, (NTSTATUS)0xC000009C); }, {}, STARTED, false, nullptr, 1},
        {"no memory for the super-area's FAT, and the first copy cannot be read", [](FatImage &) { FaultFailAllocation(1); },
         {readError}, STARTED, true, [](FatImage &) { FaultReadStatus(512, 512, (NTSTATUS)0xC000009C); }},
        {"no memory for the super-area's FAT, and neither copy can be read", [](FatImage &) { FaultFailAllocation(1); },
         {readError, readError}, REFUSED, true, [](FatImage &) { FaultReadStatus(512, 1024, (NTSTATUS)0xC000009C); }},
        {"no memory for a sector block", [](FatImage &) { FaultFailAllocation(1); },
         {"Error number 8 occured during ReadSectors - GlobalAlloc."}, REFUSED},
        {"a sector block cannot be locked", [](FatImage &) { FaultFailLock(1); },
         {"Error number 6 occured during ReadSectors - GlobalLock."}, REFUSED},
        {"the boot sector cannot be locked", [](FatImage &) { FaultFailLock(2); },
         {"Error number 6 occured during StartDirScanThread - GlobalLock."}, REFUSED},
        {"no memory to note the directories read", [](FatImage &) { FaultFailAllocation(3); },
         {"Error number 8 occured during StartDirScanThread - GlobalAlloc."}, FAT_KEPT},
        {"no memory for the root's files", [](FatImage &) { FaultFailAllocation(4); },
         {"Error number 8 occured during LoadFiles - GlobalAlloc."}, FAT_KEPT},
#endif
    };
    for (const auto &test : cases) {
        const std::string what = (test.superArea ? "super-area: " : "engine: ") + std::string(test.what);
        FatImage image(FatLayout::For(100, 1, 40));
        image.File(image.Root(0), "ROOT", 2);
        image.File(image.Root(1), "COPY1", 3);   // complete in the second FAT copy only
        image.SetLink(3, 0, 0);
        ASSERT_TRUE(RunAnalysis(image) && TotalFiles == 1) << what;
        ClearMessages();
        ResetStats();
        if (test.superArea)
            test.spoil(image), image.Save("V.img");
        const bool read = OpenVolume() && KivNTInitialize() && GetDiskStats();
        if (!test.superArea)
            test.spoil(image), image.Save("V.img");
        if (test.then)
            test.then(image);
        EXPECT_EQ(read && StartDirScanThread(), test.outcome == STARTED) << what;
        EXPECT_TRUE(test.outcome != STARTED || (WaitForCommand(KIV_END, 10000) && TotalFiles == test.files)) << what;
        EXPECT_TRUE(test.outcome == STARTED || hVolumes == INVALID_HANDLE_VALUE) << what;
        EXPECT_EQ(hFat == nullptr, test.outcome == REFUSED) << what;
        EXPECT_EQ(hTmp, nullptr) << what;
        EXPECT_TRUE(Shown(test.messages)) << what;
#ifndef _WIN32
        FaultReset();
#endif
    }
#ifndef _WIN32
    // Faults armed but not yet fired are gone after FaultReset too.
    FaultFailAllocation(1);
    FaultFailLock(1);
    FaultReset();
    EXPECT_TRUE(RunAnalysis(FatImage(FatLayout::For(100))) && Shown({}));
#endif
}

// A FAT32 volume whose root cannot be walked, or whose boot sector contradicts itself.
TEST(Start, RefusesAFat32VolumeWhoseRootCannotBeWalked)
{
    const char outside[] = "ERROR - StartDirScanThread - Root directory cluster outside the volume";
    const char broken[] = "ERROR - StartDirScanThread - Broken root directory chain";
    const struct { const char *what; void (*spoil)(FatImage &); const char *message; } cases[] = {
        {"root cluster 0", [](FatImage &i) { i.Put(44, 0, 4); }, outside},
        {"root cluster 1", [](FatImage &i) { i.Put(44, 1, 4); }, outside},
        {"root cluster past the volume", [](FatImage &i) { i.Put(44, 102, 4); }, outside},
        {"a root chain that loops", [](FatImage &i) { i.Chain({2, 3}), i.SetLink(3, 2); }, broken},
        {"a root chain that breaks", [](FatImage &i) { i.SetLink(2, 0); }, broken},
        {"a root chain to the bad-cluster mark", [](FatImage &i) { i.SetLink(2, 0x0FFFFFF7); }, broken},
        {"root entries besides a 32-bit FAT size", [](FatImage &i) { i.Put(17, 16, 2); }, "ERROR - KivNTInitialize"},
        {"a FAT of 0 sectors", [](FatImage &i) { i.Put(36, 0, 4); }, "ERROR - KivNTInitialize"},
        {"more clusters than its FAT holds", [](FatImage &i) { i.Put(19, i.layout.totalSectors + 100, 2); },
         "ERROR - KivNTInitialize"},
        {"mirroring off with active FAT 2 of 2", [](FatImage &i) { i.Put(40, 0x82, 2); }, "ERROR - KivNTInitialize"},
    };
    for (const auto &test : cases) {
        FatImage image(FatLayout::For32(100));
        image.File(image.Root(0), "F", 20);
        test.spoil(image);
        EXPECT_FALSE(StartAnalysis(image)) << test.what;
        EXPECT_TRUE(Shown({test.message}) && hVolumes == INVALID_HANDLE_VALUE && hTmp == nullptr) << test.what;
    }
}

// With mirroring off (BPB_ExtFlags bit 7) a FAT32 volume keeps only the FAT copy that bits 0-3
// name current: the super-area's free count and the walk read that one, the engine also when it
// reads the FAT itself (the super-area could not keep it).
TEST(Start, ReadsTheFatCopyTheVolumeKeepsCurrent)
{
    const struct { const char *what; uint16_t extFlags; const char *file; ULONGLONG freeSpace; } cases[] = {
        {"mirrored: the first copy", 0x00, "V:\\COPY0", 98 * 512 / 1000},
        {"the active number counts only with mirroring off", 0x01, "V:\\COPY0", 98 * 512 / 1000},
        {"mirroring off, active FAT 0", 0x80, "V:\\COPY0", 98 * 512 / 1000},
        {"mirroring off, active FAT 1", 0x81, "V:\\COPY1", 97 * 512 / 1000},
    };
    for (const auto &test : cases) {
        FatImage image(FatLayout::For32(100));
        image.Put(40, test.extFlags, 2);
        image.Entry(image.Root(0), "COPY0", 0x20, 10, 10);   // complete in the first copy only
        image.SetLink(10, image.End(), 0);
        image.Entry(image.Root(1), "COPY1", 0x20, 11, 600);   // complete in the second copy only
        image.SetLink(11, 12, 1), image.SetLink(12, image.End(), 1);
        for (bool ownRead : {false, true}) {
#ifdef _WIN32
            if (ownRead)
                continue;
#else
            if (ownRead)
                FaultFailAllocation(1);   // the super-area's FAT block
#endif
            ASSERT_TRUE(RunAnalysis(image)) << test.what;
            EXPECT_TRUE(TotalFiles == 1 && std::string(LargestFileName) == test.file && FreeSpace == test.freeSpace &&
                        Shown({})) << test.what << (ownRead ? ", read by the engine" : "");
        }
    }
}

#ifndef _WIN32
// The host layer opens raw volumes for reading only, whatever the access asked: as root,
// permissions prove nothing, the descriptors' own flags do.
TEST(HostLayer, OpensRawVolumesForReadingOnly)
{
    const std::string path = UseImage(FatImage(FatLayout::For(100)));
    ASSERT_TRUE(OpenVolume() && KivNTInitialize() && PrepareVolume());
    int opened = 0;
    for (int fd = 0; fd < 1024; fd++) {
        char target[4096];
        const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
        if (length > 0 && std::string(target, (size_t)length) == path)
            opened += (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY ? 1 : 100;
    }
    EXPECT_EQ(opened, 2);   // the volume services' drive and the engine's volume, read-only both
}

// The host layer's mutex, as the scan and the window use theirs: exclusive and recursive
// under contention; handed to a thread that waits even when its owner asks for it again at
// once (the scan does so before every file, and the window must get its turn); abandoned
// by an owner that ends, whether or not a thread waits; timed out; released by its owner only.
TEST(HostLayer, MutexExcludesHandsOverAndIsAbandoned)
{
    HANDLE mutex = CreateMutexA(NULL, FALSE, NULL);
    ASSERT_NE(mutex, nullptr);
    auto take = [mutex] { return WaitForSingleObject(mutex, INFINITE); };
    auto in = [](std::function<void()> work) { std::thread(std::move(work)).join(); };

    unsigned long counter = 0;
    std::vector<std::thread> adders;
    for (int t = 0; t < 3; t++)
        adders.emplace_back([&] {
            for (int i = 0; i < 20000; i++) {
                take(), take();
                counter++;
                ReleaseMutex(mutex), ReleaseMutex(mutex);
            }
        });
    for (std::thread &adder : adders)
        adder.join();
    EXPECT_EQ(counter, 60000u);

    ASSERT_EQ(take(), WAIT_OBJECT_0);
    std::atomic<bool> helperHeld{false};
    std::thread helper([&] {
        EXPECT_EQ(take(), WAIT_OBJECT_0);
        helperHeld = true;
        Sleep(20);
        ReleaseMutex(mutex);
    });
    Sleep(200);   // the helper is waiting by now
    ReleaseMutex(mutex);
    take();
    EXPECT_TRUE(helperHeld) << "the owner took the mutex back before the waiting thread";
    helper.join();
    in([&] { EXPECT_EQ(WaitForSingleObject(mutex, 50), (DWORD)WAIT_TIMEOUT); });
    in([&] { EXPECT_TRUE(!ReleaseMutex(mutex) && GetLastError() == ERROR_NOT_OWNER); });
    ReleaseMutex(mutex);

    in([&] { take(); });   // ends owning it, nobody waiting
    EXPECT_EQ(take(), (DWORD)WAIT_ABANDONED);
    ReleaseMutex(mutex);
    std::atomic<bool> ownerHeld{false};
    std::thread owner([&] { take(), ownerHeld = true, Sleep(200); });   // ends owning it while this thread waits
    while (!ownerHeld)
        Sleep(1);
    EXPECT_EQ(take(), (DWORD)WAIT_ABANDONED);
    owner.join();
    ReleaseMutex(mutex);
    EXPECT_EQ(take(), WAIT_OBJECT_0);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
#endif

}  // namespace
