// The boot-sector decoder and the three layers' rules side by side: what the super-area refuses,
// the rule the engine stops at (its message is checked by the start tests), and the field the
// analyzer's probe names, for one boot sector a row.
#include <gtest/gtest.h>

#include "cli/probe.h"
#include "engine/fatboot.h"
#include "support/testplatform.h"

namespace {

TEST(BootRules, EachLayerRefusesWhatItCannotRead)
{
    const FatLayout fat12 = FatLayout::For(100), fat32 = FatLayout::For32(100);
    const struct { const char *what; FatLayout layout; void (*spoil)(FatImage &); bool superRefuses;
                   BootRule engine; const char *probe; } cases[] = {
        {"FAT12", fat12, [](FatImage &) {}, false, BOOT_SOUND, ""},
        {"FAT32", fat32, [](FatImage &) {}, false, BOOT_SOUND, ""},
        {"1024-byte sectors", fat12, [](FatImage &i) { i.Put(11, 1024, 2); }, true, RULE_SECTOR_SIZE,
         "1024 bytes per sector (only 512 are read)"},
        // The super-area takes 0 sectors per cluster for 256; the engine refuses them.
        {"0 sectors per cluster", FatLayout::For(3, 0), [](FatImage &) {}, false, RULE_CLUSTER_SIZE,
         "0 sectors per cluster"},
        {"3 sectors per cluster", fat12, [](FatImage &i) { i.Put(13, 3, 1); }, true, RULE_CLUSTER_SIZE,
         "3 sectors per cluster"},
        {"no reserved sector", fat12, [](FatImage &i) { i.Put(14, 0, 2); }, true, BOOT_SOUND, "no reserved sectors"},
        {"no FAT copy", fat12, [](FatImage &i) { i.Put(16, 0, 1); }, true, RULE_FAT_COPIES, "no FAT"},
        {"FAT32, mirroring off, active FAT 1 of 2", fat32, [](FatImage &i) { i.Put(40, 0x81, 2); }, false,
         BOOT_SOUND, ""},
        {"FAT32, mirroring off, active FAT 2 of 2", fat32, [](FatImage &i) { i.Put(40, 0x82, 2); }, true,
         RULE_ACTIVE_FAT, "active FAT 2 of 2 (numbered from 0)"},
        {"FAT32 with root entries", fat32, [](FatImage &i) { i.Put(17, 16, 2); }, true, BOOT_SOUND,
         "16 root directory entries"},
        {"a root directory of less than a sector", fat12, [](FatImage &i) { i.Put(17, 15, 2); }, false,
         RULE_ROOT_SECTOR, "15 root directory entries"},
        {"the volume ends in the root directory", fat12, [](FatImage &i) { i.Put(19, 3, 2); }, true,
         RULE_SYSTEM_AREA, "no data cluster in its 3 sectors"},
        // 40 root entries fill 2.5 sectors: the two whole ones fit, the data area does not.
        {"the volume ends before the data area", FatLayout::For(100, 1, 40), [](FatImage &i) { i.Put(19, 5, 2); },
         true, RULE_DATA_AREA, "no data cluster in its 5 sectors"},
        {"0 sectors", fat12, [](FatImage &i) { i.Put(19, 0, 2); }, true, RULE_SYSTEM_AREA, "0 sectors"},
        // The engine's chains stop at 16-bit cluster numbers.
        {"more clusters than 16 bits number", fat12, [](FatImage &i) { i.Put(19, 0, 2), i.Put(32, 70004, 4); }, true,
         BOOT_SOUND, "70000 clusters, too many"},
        {"more clusters than 28 bits number", fat32, [](FatImage &i) { i.Put(19, 0, 2), i.Put(32, 0x0FFFFFFF, 4); },
         true, RULE_CLUSTERS_32, "268435451 clusters, too many"},
        {"a FAT too small for its clusters", fat12, [](FatImage &i) { i.Put(19, 504, 2); }, true, BOOT_SOUND,
         "a FAT of 1 sectors, too small for 500 clusters"},
        {"FAT32 root cluster past the volume", fat32, [](FatImage &i) { i.Put(44, 102, 4); }, false,
         RULE_ROOT_CLUSTER, "root directory cluster 102 outside the volume"},
    };
    for (const auto &test : cases) {
        FatImage image(test.layout);
        test.spoil(image);
        const FatBoot boot = DecodeFatBoot(image.bytes.data());
        EXPECT_EQ(BrokenRule(boot, LAYER_SUPER_AREA) != BOOT_SOUND, test.superRefuses) << test.what;
        EXPECT_EQ(BrokenRule(boot, LAYER_ENGINE), test.engine) << test.what;
        EXPECT_EQ(FatBootFault(image.bytes.data()), test.probe) << test.what;
    }
}

}  // namespace
