// The engine: FAT chains on 12-, 16- and 32-bit FATs, the directory walk and how far it reads, and the
// scan thread (the files it measures, its records, and how it ends when its
// mutex or locks fail: with one KIV_END and the mutex free for the window).
#include <gtest/gtest.h>

#include "app/kivifat.h"
#include "engine/chains.h"
#include "engine/geometry.h"
#include "engine/scan.h"
#include "engine/walker.h"
#include "support/testplatform.h"
#ifdef _WIN32
#include "display/panel.h"
#else
#include "platform/posix/faults.h"
#endif

namespace {

// Points the engine's geometry at `image` without a volume; its first FAT copy.
const BYTE *UseFat(const FatImage &image)
{
    FatSectors = SectorsPerFat = image.layout.sectorsPerFat;
    TotalClusters = image.layout.Clusters();
    FatBits = image.layout.FatBits();
    return &image.bytes[image.layout.reservedSectors * 512u];
}

// The end of chain and the FAT image's last entry of the width under test; no limit, or not checked.
const WORD E = 0xEEEE, LAST = 0xEEE0;
const DWORD Any = 0xFFFFFFFF;

TEST(Chains, CountClustersAndExtentsAndBreakWhereTheyMust)
{
    // The clusters are checked when the chain is complete, the extents up to a break too.
    const struct { const char *what; std::vector<std::pair<WORD, WORD>> links; WORD start; DWORD longest;
                   bool complete; WORD clusters; DWORD extents; } cases[] = {
        {"contiguous", {{5, 6}, {6, 7}, {7, E}}, 5, Any, true, 3, 1},
        {"two runs", {{5, 6}, {6, 9}, {9, 10}, {10, E}}, 5, Any, true, 4, 2},
        {"a step back", {{9, 8}, {8, E}}, 9, Any, true, 2, 2},
        {"starts at the end mark", {}, E, Any, true, 0, 0},
        {"as long as its size allows", {{5, 6}, {6, 7}, {7, E}}, 5, 3, true, 3, 1},
        {"longer than its size allows", {{5, 6}, {6, 7}, {7, E}}, 5, 2, false, 0, 0},
        {"reaches a free cluster", {{5, 6}, {6, 9}}, 5, Any, false, 0, 2},
        {"reaches cluster 1", {{5, 1}}, 5, Any, false, 0, 1},
        {"loops", {{5, 6}, {6, 7}, {7, 5}}, 5, Any, false, 0, Any},
        {"ends at the image's last entry", {{5, LAST}, {LAST, E}}, 5, Any, true, 2, 2},
        {"reaches past the image", {{5, LAST}, {LAST, LAST + 1}}, 5, Any, false, 0, 1},
    };
    for (unsigned bits : {12u, 16u}) {
        for (const auto &test : cases) {
            FatImage image(FatLayout::For(bits == 16 ? 5000 : 200));
            const int last = bits == 16 ? image.layout.sectorsPerFat * 256 - 1 : 340;
            auto real = [&](WORD c) { return c == E ? image.End() : c < LAST ? c : last + c - LAST; };
            for (const auto &link : test.links)
                image.SetLink(real(link.first), real(link.second));
            const BYTE *fat = UseFat(image);
            DWORD clusters = 0xDEAD;
            const bool complete = MeasureFileChain(fat, real(test.start), test.longest, &clusters);
            EXPECT_TRUE(complete == test.complete && (!complete || clusters == test.clusters) &&
                        (test.extents == Any || NumberOfExtents == test.extents)) << bits << " bits: " << test.what;
            // A directory's chain has no size to limit it.
            EXPECT_EQ(MeasureDirChain(fat, real(test.start), &clusters), complete || test.longest != Any) << test.what;
        }
    }
}

TEST(Chains, GoAsFarAsTheVolumeAndTheImageHold)
{
    // Every data cluster in one chain: the longest chain that is no loop.
    FatImage whole(FatLayout::For(200));
    for (uint16_t cluster = 2; cluster <= 201; cluster++)
        whole.SetLink(cluster, cluster < 201 ? cluster + 1 : whole.End());
    DWORD clusters;
    EXPECT_TRUE(MeasureFileChain(UseFat(whole), 2, Any, &clusters) && clusters == 200);
    // A reserved value is a cluster to the walk while the image holds its entry.
    FatLayout layout = FatLayout::For(5000);
    layout.sectorsPerFat = 256;
    layout.totalSectors = layout.DataStart() + 5000;
    FatImage reserved(layout);
    reserved.Chain({5, 0xFFF8});
    EXPECT_TRUE(MeasureFileChain(UseFat(reserved), 5, Any, &clusters) && clusters == 2);
}

TEST(Chains, OnFat32HaveTwentyEightBitsAndEndOrBreakByRange)
{
    FatImage image(FatLayout::For32(100));   // clusters 2 to 101
    const struct { const char *what; uint32_t link; bool complete; DWORD clusters = 0; } cases[] = {
        {"the top four bits are not part of the link", 0xF0000006, true, 2},
        {"every value from 0x0FFFFFF8 ends", 0x0FFFFFF8, true, 1},
        {"the bad-cluster mark breaks", 0x0FFFFFF7, false},
        {"a link to the last cluster", 101, true, 2},
        {"a link past the last cluster breaks", 102, false},
    };
    image.SetLink(6, image.End());
    image.SetLink(101, 0x1FFFFFFF);   // an end mark with other top bits
    for (const auto &test : cases) {
        image.SetLink(5, test.link);
        DWORD clusters = 0;
        const bool complete = MeasureFileChain(UseFat(image), 5, Any, &clusters);
        EXPECT_TRUE(complete == test.complete && (!complete || clusters == test.clusters)) << test.what;
    }
}

// `depth` nested directories named `name`, each holding a file F; the paths of F at the first `levels` levels.
void Nest(FatImage &image, unsigned depth, const char *name)
{
    image.File(image.Root(0), "F", 2);
    for (uint16_t level = 1, dir = 3; level <= depth; level++, dir += 2) {
        image.Dir(level == 1 ? image.Root(1) : image.Cluster(dir - 2, 3), name, dir, level == 1 ? 0 : dir - 2);
        image.File(image.Cluster(dir, 2), "F", dir + 1);
    }
}

std::vector<std::string> NestedPaths(unsigned levels, const std::string &name)
{
    std::vector<std::string> paths;
    for (std::string dir = "V:\\"; paths.size() < levels; dir += name + "\\")
        paths.push_back(dir + "F");
    return paths;
}

std::vector<std::string> measured;
void Record(const BYTE *, LPCSTR path, DWORD)
{
    measured.push_back(path);
}

TEST(Walk, MeasuresTheFilesItReachesInItsOrder)
{
    const char readError[] = "Error number 0xC0000011 occured during GetCluster - NtReadFile";
    const struct { const char *what; void (*lay)(FatImage &); std::vector<std::string> paths; bool completed;
                   std::vector<std::string> messages; } cases[] = {
        {"files before subdirectories, depth first, in directory order; other entries ignored", [](FatImage &i) {
             i.File(i.Root(0), "FILE1   TXT", 20); i.Dir(i.Root(1), "A", 10, 0); i.File(i.Root(2), "FILE2", 21);
             i.Entry(i.Root(3), "VOLUME  LBL", 0x08, 0, 0); i.Entry(i.Root(4), "AB", 0x0F, 0, 0);   // a long-name entry
             i.File(i.Root(5), "\xE5" "ELETED TXT", 22); i.Dir(i.Root(6), ".HIDDEN", 11, 0);
             i.File(i.Cluster(11, 2), "INSIDE", 23); i.Dir(i.Root(7), "B", 12, 0);
             i.File(i.Root(8), "READ ME TXT", 24); i.File(i.Cluster(10, 2), "A1      DAT", 25);
             i.Dir(i.Cluster(10, 3), "C", 13, 10); i.File(i.Cluster(13, 2), "C1", 26);
             i.File(i.Cluster(12, 2), "B1", 27);
         }, {"V:\\FILE1.TXT", "V:\\FILE2", "V:\\README.TXT", "V:\\A\\A1.DAT", "V:\\A\\C\\C1", "V:\\B\\B1"}, true, {}},
        {"FAT12 and FAT16 take no high cluster bits", [](FatImage &i) {
             i.Entry(i.Root(0), "HIGH", 0x20, 0x30019, 10); i.Chain({25});
         }, {"V:\\HIGH"}, true, {}},
        {"the root ends at its end marker",
         [](FatImage &i) { i.File(i.Root(0), "IN", 20); i.File(i.Root(2), "OUT", 21); }, {"V:\\IN"}, true, {}},
        {"the root ends after its last slot", [](FatImage &i) {
             for (unsigned slot = 0; slot < 17; slot++)
                 i.File(i.Root(slot), std::string(1, (char)('A' + slot)).c_str(), (uint16_t)(20 + slot));
         }, {"V:\\A", "V:\\B", "V:\\C", "V:\\D", "V:\\E", "V:\\F", "V:\\G", "V:\\H", "V:\\I", "V:\\J", "V:\\K",
             "V:\\L", "V:\\M", "V:\\N", "V:\\O", "V:\\P"}, true, {}},
        {"directories without a chain, with a broken one, entered before or running into one: skipped",
         [](FatImage &i) {
             i.Entry(i.Root(0), "NOCHAIN", 0x10, 0, 0); i.Entry(i.Root(1), "BROKEN", 0x10, 30, 0); i.SetLink(30, 31);
             i.Dir(i.Root(2), "A", 10, 0); i.File(i.Cluster(10, 2), "A1", 20);
             i.Entry(i.Cluster(10, 3), "SELF", 0x10, 10, 0); i.Entry(i.Root(3), "SAME", 0x10, 10, 0);
             i.Entry(i.Root(4), "MERGES", 0x10, 40, 0); i.SetLink(40, 10); i.File(i.Cluster(40, 0), "M1", 21);
         }, {"V:\\A\\A1"}, true, {}},
        {"a directory of two clusters is read whole", [](FatImage &i) {
             i.Dir(i.Root(0), "A", 10, 0); i.Chain({10, 12}); i.File(i.Cluster(12, 0), "LATE", 20);
             for (unsigned slot = 2; slot < 16; slot++)
                 i.Entry(i.Cluster(10, slot), "\xE5", 0x20, 0, 0);   // deleted: no end marker
         }, {"V:\\A\\LATE"}, true, {}},
        {"a directory cluster past the image's end is empty, and the walk goes on", [](FatImage &i) {
             i.File(i.Root(0), "F", 20); i.Entry(i.Root(1), "GONE", 0x10, 90, 0); i.Chain({90});
             i.Dir(i.Root(2), "C", 11, 0); i.File(i.Cluster(11, 2), "C1", 21); i.bytes.resize(i.Cluster(90));
         }, {"V:\\F", "V:\\C\\C1"}, true, {readError}},
        {"a directory cluster past the volume's end is not read", [](FatImage &i) {
             i.Entry(i.Root(0), "PAST", 0x10, 320, 0); i.Chain({320});
             i.Dir(i.Root(1), "C", 11, 0); i.File(i.Cluster(11, 2), "C1", 21);
         }, {"V:\\C\\C1"}, true, {readError}},
        {"a directory starting at the end of chain ends the walk", [](FatImage &i) {
             i.Entry(i.Root(0), "EMPTY", 0x10, 0xFFF, 0); i.File(i.Root(1), "ROOT", 20);
             i.Dir(i.Root(2), "LATER", 10, 0); i.File(i.Cluster(10, 2), "NEVER", 21);
         }, {"V:\\ROOT"}, false, {"Error number 157 occured during NextDir - GlobalLock - Tmp."}},
        {"128 levels at most (blank names keep the paths short)", [](FatImage &i) { Nest(i, 140, "        "); },
         NestedPaths(128, ""), true, {}},
        {"no directory whose path leaves no room for a file name", [](FatImage &i) { Nest(i, 40, "DDDDDDDD"); },
         NestedPaths(28, "DDDDDDDD"), true, {}},
    };
    FileMeasured = Record;
    for (const auto &test : cases) {
        FatImage image(FatLayout::For(300));   // 1 FAT sector: entries up to 340
        test.lay(image);
        measured.clear();
        ASSERT_TRUE(RunAnalysis(image)) << test.what;
        EXPECT_EQ(measured, test.paths) << test.what;
        EXPECT_TRUE(WalkCompleted == test.completed && Shown(test.messages)) << test.what;
    }
}

// A FAT32 entry's first cluster is the whole 32-bit value of its two words: one above the 28 bits
// of a cluster number is out of range like any other, not the cluster (or end mark) of its low bits.
TEST(Walk, ReadsAFat32RootAsAChainAndTakesTheWholeFirstCluster)
{
    FatImage image(FatLayout::For32(100));
    image.Chain({2, 3});
    for (unsigned slot = 0; slot < 16; slot++)
        image.Entry(image.Root(slot), "\xE5", 0x20, 0, 0);   // deleted: the root goes on in cluster 3
    image.File(image.Root(0), "FIRST", 20);
    image.File(image.Cluster(3, 0), "SECOND", 21);
    image.Entry(image.Cluster(3, 1), "TOPBITS", 0x20, 0xF0000016, 10);   // not cluster 22
    image.Chain({22});
    image.Entry(image.Cluster(3, 2), "HIGH", 0x20, 0x10017, 10);   // past the volume
    image.Chain({23});
    image.Dir(image.Cluster(3, 3), "D", 30, 0);
    image.File(image.Cluster(30, 2), "D1", 31);
    image.Entry(image.Cluster(30, 3), "ROOT", 0x10, 2, 0);   // the root again: read once only
    image.Dir(image.Cluster(3, 4), "TOPDIR", 40, 0);
    image.Entry(image.Cluster(3, 4), "TOPDIR", 0x10, 0x10000028, 0);   // not directory 40
    image.File(image.Cluster(40, 2), "MASKED", 41);
    image.Entry(image.Cluster(3, 5), "ENDDIR", 0x10, 0x1FFFFFFF, 0);   // no end mark: skipped, the walk goes on
    image.Dir(image.Cluster(3, 6), "LAST", 50, 0);
    image.File(image.Cluster(50, 2), "L1", 51);
    FileMeasured = Record;
    measured.clear();
    ASSERT_TRUE(RunAnalysis(image));
    EXPECT_EQ(measured, (std::vector<std::string>{"V:\\FIRST", "V:\\SECOND", "V:\\D\\D1", "V:\\LAST\\L1"}));
    EXPECT_TRUE(WalkCompleted && FatBits == 32 && Shown({}));
}

#ifndef _WIN32
// A directory is read up to the sector of its end marker and no further: a read fault planted
// past that sector goes unnoticed; one on it is shown and ends the directory at its cluster's start.
TEST(Walk, ReadsADirectoryUpToTheSectorOfItsEndMarker)
{
    const char message[] = "Error number 0xC000009C occured during GetCluster - NtReadFile";
    // Directory D, clusters 10 and 11 of 4 sectors, holds a file in each sector up to `last`, the
    // rest of those sectors deleted entries; its end marker follows the last file, unless `full`.
    for (const auto &[last, full] : {std::pair<unsigned, bool>{0, false}, {2, false}, {3, false}, {5, false},
                                     {7, true}}) {
        FatImage image(FatLayout::For(100, 4));
        image.Entry(image.Root(0), "D", 0x10, 10, 0);
        image.Chain({10, 11});
        auto sector = [&](unsigned s) { return image.Cluster(10 + s / 4) + s % 4 * 512; };
        std::vector<std::string> files;
        for (unsigned s = 0; s <= last; s++) {
            for (unsigned slot = 0; slot < (s < last || full ? 16 : 1); slot++)
                image.Entry(sector(s) + slot * 32, "\xE5", 0x20, 0, 0);
            files.push_back("V:\\D\\F" + std::to_string(s));
            image.File(sector(s), ("F" + std::to_string(s)).c_str(), (uint16_t)(20 + s));
        }
        const std::vector<std::string> beforeCluster(files.begin(), files.begin() + last / 4 * 4);
        const struct { unsigned sector; std::vector<std::string> files, messages; } faults[] = {
            {99, files, {}}, {last, beforeCluster, {message}}, {last + 1, files, {}}};
        for (const auto &fault : faults) {
            if (fault.sector < 8)
                FaultReadStatus(sector(fault.sector), 512, (NTSTATUS)0xC000009C);
            FileMeasured = Record;
            measured.clear();
            ASSERT_TRUE(RunAnalysis(image));
            FaultReset();
            EXPECT_TRUE(measured == fault.files && Shown(fault.messages))
                << "last file in sector " << last << ", fault in sector " << fault.sector;
        }
    }
}
#endif

TEST(Scan, MeasuresOnlyFilesWhoseChainFitsTheirSize)
{
    // Clusters consecutive from `first`; none: `first` links to a free cluster.
    const struct { const char *what; uint16_t first; unsigned clusters; uint32_t size; bool measured, empty; }
        cases[] = {
        {"1 byte in a cluster", 10, 1, 1, true, false}, {"a full cluster", 10, 1, 1024, true, false},
        {"a byte more than its chain", 10, 1, 1025, false, false}, {"1025 bytes in 2", 10, 2, 1025, true, false},
        {"a cluster more than its size needs", 10, 2, 1024, false, false}, {"a broken chain", 10, 0, 100, false, false},
        {"no chain and no bytes", 0, 0, 0, false, true}, {"no chain but a size", 0, 0, 5, false, false},
        {"starts at the end of chain", 0xFFF, 0, 0, false, false},
    };
    for (const auto &test : cases) {
        FatImage image(FatLayout::For(200, 2));
        image.Entry(image.Root(0), "FILE", 0x20, test.first, test.size);
        for (unsigned i = 0; i < test.clusters || (i == 0 && test.first == 10); i++)   // none: to a free one
            image.SetLink(10 + i, i + 1 == test.clusters ? image.End() : (uint16_t)(11 + i));
        ASSERT_TRUE(RunAnalysis(image)) << test.what;
        EXPECT_EQ((std::vector<ULONGLONG>{TotalFiles, ZeroLengthFileCount, TotalFilesSize, WalkCompleted}),
                  (std::vector<ULONGLONG>{test.measured, test.empty, test.measured ? 1024ull * test.clusters : 0, 1}))
            << test.what;
    }
}

TEST(Scan, KeepsTheFirstFileOfEachRecordAndStartsFromZeroEachTime)
{
    FatImage image(FatLayout::For(200, 2));
    const struct { const char *name; uint32_t size; std::initializer_list<uint16_t> chain; } files[] = {
        {"BIG1", 2000, {10, 11}}, {"BIG2", 2000, {20, 22}}, {"SMALL1", 7, {30}}, {"SMALL2", 7, {31}},
        {"FRAG3", 3000, {40, 42, 41}}, {"FRAG3B", 3000, {52, 50, 54}}, {"EMPTY", 0, {}},
    };
    for (unsigned slot = 0; slot < 7; slot++) {
        image.Entry(image.Root(slot), files[slot].name, 0x20, slot < 6 ? *files[slot].chain.begin() : 0,
                    files[slot].size);
        image.Chain(files[slot].chain);
    }
    auto stats = [] {
        return std::vector<ULONGLONG>{TotalFiles, ZeroLengthFileCount, TotalFragFiles, TotalFilesSize, LargestFileSize,
                                      SmallestFileSize, TotalExtents, MaxExtents, TotalExtentsChanged,
                                      LargestFileChanged, SmallestFileChanged, MaxExtentsChanged, TotalFragChanged};
    };
    for (int run = 0; run < 2; run++) {
        ASSERT_TRUE(RunAnalysis(image));
        EXPECT_EQ(stats(), (std::vector<ULONGLONG>{6, 1, 3, 12 * 1024, 3000, 7, 11, 3, 1, 1, 1, 1, 1})) << run;
        EXPECT_EQ(std::string(LargestFileName) + SmallestFileName + MaxExtentsFileName, "V:\\FRAG3V:\\SMALL1V:\\FRAG3");
    }
    ResetStats();
    EXPECT_EQ(stats(), (std::vector<ULONGLONG>{0, 0, 0, 0, 0, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0}));
}

// A thread that takes the mutex and ends, so that the next wait on it is abandoned.
DWORD WINAPI TakeMutexAndEnd(LPVOID)
{
    return WaitForSingleObject(hMutex, INFINITE);
}

void AbandonMutex()
{
    HANDLE thread = CreateThread(NULL, 0, TakeMutexAndEnd, NULL, 0, NULL);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(Scan, EndsOnceAndFreesTheMutexWhenItCannotGoOn)
{
    FatImage image(FatLayout::For(100));
    image.File(image.Root(0), "ONE", 10);
    image.File(image.Root(1), "TWO", 11);
    image.Dir(image.Root(2), "D", 12, 0);
    image.File(image.Cluster(12, 2), "D1", 13);
    const std::string wait = " occured during DirScanThread - WaitForSingleObject - ";
    const std::string lock = "Error number 6 occured during ";
    // The scan thread's n-th lock fails (the test holds the mutex while the start locks blocks of its own).
    const struct { const char *what; std::string message; unsigned failedLock; void (*before)() = [] {};
                   void (*after)() = [] {}; } cases[] = {
        {"the mutex was abandoned before the scan", wait + "Entry.", 0, AbandonMutex},
        {"the mutex is abandoned to the paused scan", wait + "Looped.", 0, [] { Running = ANALYSIS_PAUSED; }, [] {
             // Once the scan holds the mutex, a thread queues for it and ends with it.
             while (WaitForSingleObject(hMutex, 0) == WAIT_OBJECT_0)
                 ReleaseMutex(hMutex);
             CloseHandle(CreateThread(NULL, 0, TakeMutexAndEnd, NULL, 0, NULL));
             Sleep(200);
             Running = ANALYSIS_RUNNING;
         }},
        {"no mutex", "Error number 6" + wait + "Entry.", 0, [] { hMutex = NULL; }},
#ifndef _WIN32
        {"the first wait times out", wait + "Entry.", 0, [] { FaultMutexTimeout(1); }},
        {"a wait in the file loop times out", wait + "Looped.", 0, [] { FaultMutexTimeout(3); }},
        {"the FAT cannot be locked", lock + "DirScanThread - GlobalLock - Fat.", 1},
        {"the files cannot be locked", lock + "DirScanThread - GlobalLock - Files.", 2},
        {"the root's subdirectories cannot be locked", lock + "NextDir - GlobalLock - Dir.", 3},
        {"the FAT cannot be locked to enter a directory", lock + "NextDir - GlobalLock - 12bit.", 4},
#endif
    };
    const HANDLE mutex = hMutex;
    for (const auto &test : cases) {
        test.before();
        if (test.failedLock)
            WaitForSingleObject(hMutex, 0);
        ASSERT_TRUE(StartAnalysis(image)) << test.what;
#ifndef _WIN32
        if (test.failedLock)
            FaultFailLock(test.failedLock), ReleaseMutex(hMutex);
#endif
        test.after();
        EXPECT_TRUE(WaitForCommand(KIV_END, 10000) && Shown({test.message})) << test.what;
        EXPECT_TRUE(!WalkCompleted && hVolumes == INVALID_HANDLE_VALUE) << test.what;
        EXPECT_FALSE(WaitForCommand(KIV_END, 100)) << test.what << ": a second KIV_END";
        hMutex = mutex;
        EXPECT_EQ(WaitForSingleObject(hMutex, 5000), WAIT_OBJECT_0) << test.what;
        ReleaseMutex(hMutex);
#ifndef _WIN32
        const HGLOBAL left = hFiles;   // freed by the next walk
        ResetWalk();
        EXPECT_EQ(left ? GlobalSize(left) : 0, 0u) << test.what;
        FaultReset();
#endif
    }
}

#ifdef _WIN32
// The window's refresh, meeting the mutex abandoned by an ended thread, gives it back for the next scans.
TEST(Refresh, GivesBackAnAbandonedMutex)
{
    AbandonMutex();
    ClearMessages();
    KivNT();
    EXPECT_TRUE(Shown({" occured during QXfat - KivNT - WaitForSingleObject."}));
    static DWORD wait;
    HANDLE thread = CreateThread(NULL, 0, [](LPVOID) -> DWORD {
        return (wait = WaitForSingleObject(hMutex, 0)) == WAIT_OBJECT_0 && ReleaseMutex(hMutex); }, NULL, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(wait, WAIT_OBJECT_0);
}
#endif

}  // namespace
