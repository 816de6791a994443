// The exFAT reading on byte-built images: the boot region and its rules, the
// allocation bitmap, entry sets, chains with and without the FAT, and the
// walk's order, paths, bounds and skipped counts.
#include <cstring>
#include <functional>

#include "app/kivifat.h"
#include "engine/chains.h"
#include "engine/exfatboot.h"
#include "engine/exfatscan.h"
#include "engine/longpath.h"
#include "engine/scan.h"
#include "engine/walker.h"
#include "support/exfatimage.h"
#include "support/testplatform.h"

namespace {

struct Seen {
    std::string path, shortPath;
    DWORD clusters, extents;
    bool noFatChain;
};
std::vector<Seen> seen;

void Keep(const BYTE *, LPCSTR, DWORD clusters)
{
    seen.push_back({FileLongPath(), FileShortPath(), clusters, NumberOfExtents, ExfatFile.noFatChain});
}

bool RunExfat(const ExfatImage &image)
{
    hWndMain = TestWindow();
    GiveAway = false;
    KeepLongNames = true;
    FileMeasured = Keep;
    seen.clear();
    EXPECT_TRUE(MapDrive('V', image.Save("X.img")));
    strcpy(cDrive, "V:");
    ClearMessages();
    ResetStats();
    const bool ran = StartExfatScan() && WaitForCommand(KIV_END, 20000);
    FileMeasured = nullptr;
    KeepLongNames = false;
    return ran;
}

// 64 clusters: the bitmap, up-case and root in 2 to 4, files from 5.
ExfatImage Card()
{
    return ExfatImage(64);
}

}  // namespace

TEST(ExfatBoot, ChecksumAndRulesDecideAndTheBackupStandsInForADamagedMainRegion)
{
    const struct {
        const char *what;
        std::function<void(ExfatImage &)> damage;
        std::vector<std::string> shown;   // ends of the boxes
        bool reads;
    } cases[] = {
        {"sound", [](ExfatImage &) {}, {}, true},
        {"main checksum off", [](ExfatImage &i) { i.bytes[EX_FatLength]++; },
         {"the backup region is read"}, true},
        {"both checksums off", [](ExfatImage &i) { i.bytes[EX_FatLength]++; i.bytes[12 * 512 + 100]++; },
         {"its checksum does not match, nor the backup region's"}, false},
        {"VolumeFlags outside the checksum", [](ExfatImage &i) { i.bytes[EX_VolumeFlags] = 0x04; }, {}, true},
        {"ClusterCount beyond the volume",
         [](ExfatImage &i) { i.Put(EX_ClusterCount, i.clusters + 1, 4); i.Put(EX_FatLength, 8, 4); i.SealBoot(); },
         {"ClusterCount or the cluster heap beyond the volume"}, false},
        {"FatLength 0", [](ExfatImage &i) { i.Put(EX_FatLength, 0, 4); i.SealBoot(); },
         {"FatOffset or FatLength outside the volume"}, false},
        {"sector shift 13", [](ExfatImage &i) { i.bytes[EX_BytesPerSectorShift] = 13; i.SealBoot(); },
         {"its checksum does not match, nor the backup region's"}, false},
        {"cluster of 64 MiB", [](ExfatImage &i) { i.bytes[EX_SectorsPerClusterShift] = 17; i.SealBoot(); },
         {"clusters larger than 32 MiB"}, false},
        {"root outside the heap", [](ExfatImage &i) { i.Put(EX_FirstClusterOfRootDirectory, 66, 4); i.SealBoot(); },
         {"FirstClusterOfRootDirectory outside the cluster heap"}, false},
        {"heap beyond the image",
         [](ExfatImage &i) { i.bytes.resize(i.bytes.size() - 512); },
         {"Cluster heap beyond the end of the volume"}, false},
        {"bitmap shorter than ClusterCount needs", [](ExfatImage &i) { i.Put(i.Root(0) + EXB_DataLength, 7, 8); },
         {"Allocation bitmap shorter than ClusterCount needs"}, false},
        {"no bitmap entry", [](ExfatImage &i) { i.bytes[i.Root(0)] = 0x01; },
         {"No allocation bitmap in the root directory"}, false},
    };
    for (const auto &test : cases) {
        ExfatImage image = Card();
        test.damage(image);
        EXPECT_EQ(RunExfat(image), test.reads) << test.what;
        EXPECT_TRUE(Shown(test.shown)) << test.what;
        if (test.reads) {
            EXPECT_EQ(ExfatFreeClusters, 61u) << test.what;
        }
    }
}

TEST(ExfatBoot, DecodesTheFieldsWithTheirShifts)
{
    // 4,096-byte sectors: the boot region, the FAT and the heap in them; the backup region at 48 KiB.
    for (bool damaged : {false, true}) {
        ExfatImage large(40, 0, 12);
        large.Chain({5, 7});
        large.Write(large.Root(3), {u"in 4 KiB sectors", false, 5, 5000});
        if (damaged)
            large.bytes[100]++;
        ASSERT_TRUE(RunExfat(large)) << damaged;
        EXPECT_TRUE(Shown(damaged ? std::vector<std::string>{"the backup region is read"} : std::vector<std::string>{}));
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].clusters, 2u);
        EXPECT_EQ(seen[0].extents, 2u);
        EXPECT_EQ(ExfatFreeClusters, 40u - 5);
    }

    ExfatImage image(100, 3);
    const ExfatBoot boot = DecodeExfatBoot(image.bytes.data());
    EXPECT_EQ(boot.bytesPerCluster, 4096u);
    EXPECT_EQ(boot.clusterCount, 100u);
    EXPECT_EQ(boot.heapOffset, image.heapOffset);
    EXPECT_EQ(boot.heapEnd, image.bytes.size() / 512);
    EXPECT_EQ(BrokenExfatRule(image.bytes.data(), boot), EXBOOT_SOUND);
    EXPECT_TRUE(BootRegionSound(image.bytes.data(), 9));
    EXPECT_FALSE(BootRegionSound(image.bytes.data(), 10));
}

TEST(ExfatWalk, MeasuresFlaggedChainedAndConsecutiveFilesInOrderWithTheirPaths)
{
    ExfatImage image(64, 1);   // 1 KiB clusters: the root's 32 slots hold all the sets
    unsigned slot = 3;
    // Consecutive and flagged; consecutive in a FAT chain; in two pieces; empty.
    image.Allocate(5, 3);
    slot += image.Write(image.Root(slot), {u"flagged.bin", false, 5, 3 * 1024 - 10, true});
    image.Chain({8, 9});
    slot += image.Write(image.Root(slot), {u"chained.bin", false, 8, 2000});
    image.Chain({10, 12, 13});
    slot += image.Write(image.Root(slot), {u"two pieces \u00e9\u4e2d", false, 10, 2500});
    slot += image.Write(image.Root(slot), {u"empty", false, 0, 0});
    // A subdirectory with a long-named file, entered after the root's files.
    image.Chain({20});
    slot += image.Write(image.Root(slot), {u"Sub directory", true, 20, 1024});
    image.Chain({21});
    image.Write(image.Cluster(20), {u"a name longer than fifteen characters.txt", false, 21, 1});
    ASSERT_TRUE(RunExfat(image));
    EXPECT_TRUE(Shown({}));
    for (int reason = 0; reason < SKIP_REASONS; reason++)
        EXPECT_EQ(Skipped[reason], 0u) << SkipReasonName[reason];
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].path, "/flagged.bin");
    EXPECT_EQ(seen[0].shortPath, "V:\\flagged.bin");
    EXPECT_EQ(seen[0].clusters, 3u);
    EXPECT_EQ(seen[0].extents, 1u);
    EXPECT_TRUE(seen[0].noFatChain);
    EXPECT_EQ(seen[1].extents, 1u);
    EXPECT_FALSE(seen[1].noFatChain);
    EXPECT_EQ(seen[2].path, "/two pieces \xc3\xa9\xe4\xb8\xad");
    EXPECT_EQ(seen[2].clusters, 3u);
    EXPECT_EQ(seen[2].extents, 2u);
    EXPECT_EQ(seen[3].path, "/Sub directory/a name longer than fifteen characters.txt");
    EXPECT_EQ(seen[3].shortPath, "V:\\Sub directory\\a name longer than fifteen characters.txt");
    EXPECT_EQ(TotalFiles, 4u);
    EXPECT_EQ(ZeroLengthFileCount, 1u);
    EXPECT_EQ(TotalFragFiles, 1u);
    EXPECT_EQ(TotalExtents, 5u);
    EXPECT_EQ(ExfatFreeClusters, 64u - 3 - 3 - 2 - 3 - 2);
    EXPECT_TRUE(WalkCompleted);
}

TEST(ExfatWalk, SkipsBadEntrySetsAndBrokenChainsCountingEach)
{
    const struct {
        const char *what;
        std::function<void(ExfatImage &, size_t at)> damage;   // the set at `at`: "bad.bin", clusters 5 and 6
        SkipReason reason;
    } cases[] = {
        {"SecondaryCount 1", [](ExfatImage &i, size_t at) { i.bytes[at + 1] = 1; i.Reseal(at); }, SKIPPED_BAD_ENTRY_SET},
        {"SecondaryCount 19", [](ExfatImage &i, size_t at) { i.bytes[at + 1] = 19; }, SKIPPED_BAD_ENTRY_SET},
        {"SetChecksum off", [](ExfatImage &i, size_t at) { i.bytes[at + 2]++; }, SKIPPED_BAD_ENTRY_SET},
        {"no stream entry", [](ExfatImage &i, size_t at) { i.bytes[at + 32] = EX_TYPE_NAME; i.Reseal(at); },
         SKIPPED_BAD_ENTRY_SET},
        {"a secondary not in use", [](ExfatImage &i, size_t at) { i.bytes[at + 64] = 0x41; i.Reseal(at); },
         SKIPPED_BAD_ENTRY_SET},
        {"NameLength beyond the name entries", [](ExfatImage &i, size_t at) { i.bytes[at + 32 + 3] = 16; i.Reseal(at); },
         SKIPPED_BAD_ENTRY_SET},
        {"NameLength 0", [](ExfatImage &i, size_t at) { i.bytes[at + 32 + 3] = 0; i.Reseal(at); },
         SKIPPED_BAD_ENTRY_SET},
        {"unknown critical secondary", [](ExfatImage &i, size_t at) {
             i.bytes[at + 1] = 3; i.bytes[at + 96] = 0xC5; i.Reseal(at); }, SKIPPED_BAD_ENTRY_SET},
        {"NoFatChain past the heap", [](ExfatImage &i, size_t at) {
             i.bytes[at + 32 + 1] |= EXS_FLAG_NO_FAT_CHAIN; i.Put(at + 32 + EXS_FirstCluster, 65, 4); i.Reseal(at); },
         SKIPPED_FILE_CHAIN_MISMATCH},
        {"FAT loop", [](ExfatImage &i, size_t) { i.SetLink(6, 5); }, SKIPPED_FILE_CHAIN_MISMATCH},
        {"chain longer than the size", [](ExfatImage &i, size_t) { i.Chain({5, 6, 7}); }, SKIPPED_FILE_CHAIN_MISMATCH},
        {"link outside the heap", [](ExfatImage &i, size_t) { i.SetLink(5, 70); }, SKIPPED_FILE_CHAIN_MISMATCH},
        {"chain to a free entry", [](ExfatImage &i, size_t) { i.SetLink(5, 0); }, SKIPPED_FILE_CHAIN_MISMATCH},
        {"directory chain broken", [](ExfatImage &i, size_t at) {
             i.bytes[at + 4] = 0x10; i.Reseal(at); i.SetLink(6, 0); }, SKIPPED_BROKEN_DIR_CHAIN},
        {"directory that is the root", [](ExfatImage &i, size_t at) {
             i.bytes[at + 4] = 0x10; i.Put(at + 32 + EXS_FirstCluster, 4, 4); i.Put(at + 32 + EXS_DataLength, 512, 8);
             i.Reseal(at); }, SKIPPED_DIR_ENTERED_BEFORE},
    };
    for (const auto &test : cases) {
        ExfatImage image = Card();
        const size_t bad = image.Root(3);
        image.Chain({5, 6});
        const unsigned slots = image.Write(bad, {u"bad.bin", false, 5, 1000});
        image.bytes[image.Root(3 + slots)] = 0x05;   // an entry not in use between the two
        image.Chain({30});
        image.Write(image.Root(3 + slots + 1), {u"good.bin", false, 30, 100});
        test.damage(image, bad);
        ASSERT_TRUE(RunExfat(image)) << test.what;
        ASSERT_EQ(seen.size(), 1u) << test.what;
        EXPECT_EQ(seen[0].path, "/good.bin") << test.what;
        for (int reason = 0; reason < SKIP_REASONS; reason++)
            EXPECT_EQ(Skipped[reason], reason == test.reason ? 1u : 0u) << test.what << " " << SkipReasonName[reason];
        EXPECT_TRUE(WalkCompleted) << test.what;
    }
}

TEST(ExfatWalk, StopsAtDirectoryCyclesAndTheLevelStack)
{
    ExfatImage image = Card();
    // "b" inside "a" names "a" again.
    image.Chain({5});
    image.Write(image.Root(3), {u"a", true, 5, 512});
    image.Chain({6});
    image.Write(image.Cluster(5), {u"b", true, 6, 512});
    image.Write(image.Cluster(6), {u"back to a", true, 5, 512});
    image.Chain({7});
    image.Write(image.Cluster(6, 3), {u"f", false, 7, 5});
    ASSERT_TRUE(RunExfat(image));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/a/b/f");
    EXPECT_EQ(Skipped[SKIPPED_DIR_ENTERED_BEFORE], 1u);

    // A chain of directories deeper than the level stack, each in its own cluster.
    ExfatImage deep(200);
    size_t at = deep.Root(3);
    for (uint32_t d = 0; d < 140; d++) {
        deep.Chain({5 + d});
        deep.Write(at, {u"d", true, 5 + d, 512});
        at = deep.Cluster(5 + d);
    }
    ASSERT_TRUE(RunExfat(deep));
    EXPECT_EQ(Skipped[SKIPPED_TOO_DEEP], 1u);
    EXPECT_EQ(Skipped[SKIPPED_DIR_ENTERED_BEFORE], 0u);
}
