// How far a directory is read: up to the sector holding its end marker and
// no further. A read fault planted past that sector must go unnoticed; one on
// that sector must be reported and end the directory at its cluster's start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/scan.h"
#include "platform/posix/faults.h"
#include "support/fatimage.h"
#include "support/testplatform.h"
#include "support/volumefixture.h"

namespace {

std::vector<std::string> measured;

void Record(const BYTE *, LPCSTR path, DWORD)
{
    measured.push_back(path);
}

const unsigned SectorsPerDirCluster = 4;
const uint16_t DirClusters[] = {10, 11};   // directory D's chain

// Offset of sector `sector` of D's chain.
size_t DirSector(const FatImage &image, unsigned sector)
{
    return image.ClusterOffset(DirClusters[sector / SectorsPerDirCluster]) + sector % SectorsPerDirCluster * 512;
}

// D holds one file per sector up to sector `last` (every other slot of those
// sectors deleted); the slot after the last file is its end marker, unless
// `last` is the chain's last sector and `full`.
FatImage DirectoryEndingIn(unsigned last, bool full)
{
    FatImage image(FatLayout::For(100, SectorsPerDirCluster));
    image.PutEntry(image.RootSlot(0), "D", 0x10, DirClusters[0], 0);
    image.Chain({DirClusters[0], DirClusters[1]});
    for (unsigned sector = 0; sector <= last; sector++) {
        const unsigned slots = sector < last || full ? 16 : 1;
        for (unsigned slot = 0; slot < slots; slot++)
            image.PutEntry(DirSector(image, sector) + slot * 32, "\xE5GONE", 0x20, 0, 0);
        const std::string name = "F" + std::to_string(sector);
        image.PutEntry(DirSector(image, sector), name.c_str(), 0x20, (uint16_t)(20 + sector), 10);
        image.Chain({(uint16_t)(20 + sector)});
    }
    return image;
}

TEST(DirectoryReads, StopAtTheSectorOfTheEndMarker)
{
    const NTSTATUS fault = (NTSTATUS)0xC000009C;
    const std::string message = "Error number 0xC000009C occured during GetCluster - NtReadFile";
    struct Case {
        unsigned last;   // sector of the last file (and of the end marker unless full)
        bool full;
    } cases[] = {{0, false}, {2, false}, {3, false}, {5, false}, {7, true}};
    for (const Case &test : cases) {
        const FatImage image = DirectoryEndingIn(test.last, test.full);
        std::vector<std::string> all;
        for (unsigned sector = 0; sector <= test.last; sector++)
            all.push_back("V:\\D\\F" + std::to_string(sector));
        const unsigned firstOfCluster = test.last / SectorsPerDirCluster * SectorsPerDirCluster;
        const std::vector<std::string> beforeCluster(all.begin(), all.begin() + firstOfCluster);
        // Where a fault is planted (none, the end marker's sector, the sector
        // after it) and what the walk then measures and shows.
        struct Fault {
            long sector;
            std::vector<std::string> files;
            std::vector<std::string> messages;
        } faults[] = {{-1, all, {}}, {(long)test.last, beforeCluster, {message}}, {(long)test.last + 1, all, {}}};
        for (const Fault &planted : faults) {
            if (planted.sector == 8)
                continue;   // past the chain's end
            SCOPED_TRACE("last file in sector " + std::to_string(test.last) + ", fault in sector " +
                         std::to_string(planted.sector));
            if (planted.sector >= 0)
                FaultReadStatus(DirSector(image, (unsigned)planted.sector), 512, fault);
            measured.clear();
            FileMeasured = Record;
            EXPECT_TRUE(RunAnalysis(image));
            FileMeasured = nullptr;
            FaultReset();
            EXPECT_EQ(measured, planted.files);
            EXPECT_EQ(CapturedTexts(), planted.messages);
        }
    }
}

}  // namespace
