// Long names and the analyzer's paths: a table of long-name sequences, whole and broken, read from
// images laid out byte by byte (across clusters and the walk's reads too); what the walk leaves
// out, by reason; and a tree whose paths pass 260 bytes, walked whole by the analyzer only.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/codepage.h"
#include "engine/longpath.h"
#include "engine/scan.h"
#include "support/testplatform.h"

namespace {

std::vector<std::string> longPaths, shortPaths, windowPaths;

void RecordPaths(const BYTE *, LPCSTR path, DWORD)
{
    longPaths.push_back(FileLongPath());
    shortPaths.push_back(FileShortPath());
    windowPaths.push_back(path);
}

// The long paths of the files measured in `image`, with long names kept or not.
std::vector<std::string> Walk(const FatImage &image, bool keep = true)
{
    KeepLongNames = keep, FileMeasured = RecordPaths;
    longPaths.clear(), shortPaths.clear(), windowPaths.clear();
    EXPECT_TRUE(RunAnalysis(image) && WalkCompleted);
    KeepLongNames = false, ShortNameCodePage = 850;
    return longPaths;
}

// Sets byte `offset` of the slot `k` slots before the entry at `at`.
void Poke(FatImage &i, size_t at, unsigned k, unsigned offset, uint8_t value) { i.bytes.at(at - 32 * k + offset) = value; }
void Nothing(FatImage &, size_t) {}

// Fills `count` slots from `at` with deleted entries, so that no end marker comes before them.
void Deleted(FatImage &i, size_t at, unsigned count)
{
    for (unsigned slot = 0; slot < count; slot++)
        i.Entry(at + 32 * slot, "\xE5", 0x20, 0, 0);
}

TEST(LongNames, AreReadWhenTheirSlotsHoldTogetherAndOtherwiseTheShortNameStands)
{
    // Each row writes `name` in slots before the short entry LONGNA~1.TXT, then changes what `lay` says.
    const std::u16string three = u"A Long File Name With Spaces.txt";
    const std::string shortName = "/LONGNA~1.TXT";
    const struct { const char *what; std::u16string name; std::vector<std::string> paths;
                   void (*lay)(FatImage &, size_t) = Nothing; DWORD codePage = 850; } cases[] = {
        {"one slot", u"Small.txt", {"/Small.txt"}},
        {"three slots", three, {"/A Long File Name With Spaces.txt"}},
        {"13 characters fill the slot: no terminator", u"Thirteen char", {"/Thirteen char"}},
        {"255 characters in 20 slots", std::u16string(255, u'n'), {"/" + std::string(255, 'n')}},
        {"non-ASCII and a surrogate pair", u"Gr\u00F6\u00DFe \U0001F600", {"/Gr\xC3\xB6\xC3\x9F" "e \xF0\x9F\x98\x80"}},
        {"21 slots", std::u16string(261, u'n'), {shortName}},
        {"wrong checksum", three, {shortName}, [](FatImage &i, size_t at) { Poke(i, at, 2, 13, 0x55); }},
        {"an ordinal missing", three, {shortName}, [](FatImage &i, size_t at) { Poke(i, at, 3, 0, 0x44); }},
        {"an ordinal repeated", three, {shortName}, [](FatImage &i, size_t at) { Poke(i, at, 2, 0, 1); }},
        {"ordinals out of order", three, {shortName},
         [](FatImage &i, size_t at) { Poke(i, at, 2, 0, 1), Poke(i, at, 1, 0, 2); }},
        {"no slot flagged last", three, {shortName}, [](FatImage &i, size_t at) { Poke(i, at, 3, 0, 3); }},
        {"a deleted slot in between", three, {shortName}, [](FatImage &i, size_t at) { Poke(i, at, 2, 0, 0xE5); }},
        {"an empty name", u"x", {shortName}, [](FatImage &i, size_t at) { Poke(i, at, 1, 1, 0); }},
        {"an unpaired high surrogate", u"ab\xD83D" "cd", {shortName}},
        {"an unpaired low surrogate", u"\xDE00x", {shortName}},
        {"a path separator", u"a/b", {shortName}},
        {"orphan slots, another entry in between", u"", {"/GAP", shortName}, [](FatImage &i, size_t at) {
             i.LongName(at, u"Orphan.txt", {at - 64}); i.File(at - 32, "GAP", 41); }},
        {"before a volume label, a dot entry and a deleted entry", u"", {shortName}, [](FatImage &i, size_t at) {
             const char *names[] = {"LONGNA~1TXT", ".HIDDEN", "\xE5ONGNA~1TXT"};
             for (unsigned k = 0; k < 3; k++)
                 i.Entry(at - 96 * k - 32, names[k], k == 0 ? 0x08 : k == 1 ? 0x10 : 0x20, 0, 0),
                     i.LongName(at - 96 * k - 32, u"Long name"); }},
        {"names differing only in case", u"Readme.txt", {"/Readme.txt", "/README.txt"}, [](FatImage &i, size_t at) {
             i.Entry(at + 64, "README~2TXT", 0x20, 41, 10), i.Chain({41}), i.LongName(at + 64, u"README.txt"); }},
        {"case flags, 0x05 for 0xE5 and code page 850", u"", {"/small\xC3\xA9.txt", "/base.TXT", "/EXT.txt",
                                                             "/\xC3\x95\xC3\xB8.TXT"}, [](FatImage &i, size_t at) {
             const char *names[] = {"SMALL\x90  TXT", "BASE    TXT", "EXT     TXT", "\x05" "\x9B      TXT"};
             for (unsigned k = 0; k < 4; k++)
                 i.Entry(at + 32 * k, names[k], 0x20, 41 + k, 10), i.Chain({(uint16_t)(41 + k)});
             i.bytes[at + 12] = 0x18, i.bytes[at + 32 + 12] = 0x08, i.bytes[at + 64 + 12] = 0x10; }},
        {"code page 437", u"", {"/\xCF\x83\xC2\xA2"}, [](FatImage &i, size_t at) { i.Entry(at, "\x05" "\x9B", 0x20, 40, 10); },
         437},
        // Directory D (clusters 10 and 12, 64 slots each) is read two sectors, then two more, ...
        {"across a read that grows and a cluster's end", u"",
         {shortName, "/D/Over the second read's start", "/D/Over the cluster's end"},
         [](FatImage &i, size_t) {
             i.Dir(i.Root(1), "D", 10, 0), i.Chain({10, 12}), Deleted(i, i.Cluster(10, 2), 62);
             i.File(i.Cluster(10, 33), "F1", 42), i.LongName(i.Cluster(10, 33), u"Over the second read's start");
             i.File(i.Cluster(12, 1), "F2", 43);
             i.LongName(i.Cluster(12, 1), u"Over the cluster's end", {i.Cluster(12, 0), i.Cluster(10, 63)}); }},
        {"a chain that goes elsewhere in the middle of a sequence", u"", {shortName, "/D/F2"}, [](FatImage &i, size_t) {
             i.Dir(i.Root(1), "D", 10, 0), i.Chain({10, 12}), Deleted(i, i.Cluster(10, 2), 62);
             i.File(i.Cluster(11, 1), "F2", 43), i.File(i.Cluster(12, 0), "F2", 43);
             i.LongName(i.Cluster(11, 1), u"Over the cluster's end", {i.Cluster(11, 0), i.Cluster(10, 63)}); }},
    };
    for (const auto &test : cases) {
        FatImage image(FatLayout::For(300, 4, 64));
        Deleted(image, image.Root(0), 40);
        const size_t at = image.Root(40);
        image.Entry(at, "LONGNA~1TXT", 0x20, 40, 10);
        image.Chain({40});
        image.LongName(at, test.name);
        test.lay(image, at);
        ShortNameCodePage = test.codePage;
        EXPECT_EQ(Walk(image), test.paths) << test.what;
    }
}

TEST(LongNames, WalkLeavesOutCountedByReasonInEitherMode)
{
    // Broken chains: none and a free link; entered before: itself and a chain that meets it;
    // unreadable: past the volume; files: a cluster short, a size but no chain; not left out: empty.
    FatImage image(FatLayout::For(300));
    image.Entry(image.Root(0), "NOCHAIN", 0x10, 0, 0), image.Entry(image.Root(1), "BROKEN", 0x10, 30, 0);
    image.SetLink(30, 31), image.Dir(image.Root(2), "A", 10, 0), image.Entry(image.Cluster(10, 2), "SELF", 0x10, 10, 0);
    image.Entry(image.Root(3), "MERGES", 0x10, 40, 0), image.SetLink(40, 10);
    image.Entry(image.Root(4), "PAST", 0x10, 320, 0), image.Chain({320});
    image.Entry(image.Root(5), "LONG", 0x20, 50, 600), image.Chain({50});
    image.Entry(image.Root(6), "SIZED", 0x20, 0, 5), image.Entry(image.Root(7), "EMPTY", 0x20, 0, 0);
    for (bool keep : {false, true}) {
        Walk(image, keep);
        EXPECT_EQ(std::vector<DWORD>(Skipped, Skipped + SKIP_REASONS), (std::vector<DWORD>{0, 2, 2, 1, 2, 0})) << keep;
    }
    FatImage deep(FatLayout::For(300));   // 130 levels: the one at 128 is not entered
    for (uint16_t level = 1, dir = 3; level <= 130; level++, dir++)
        deep.Dir(level == 1 ? deep.Root(0) : deep.Cluster(dir - 1, 2), "D", dir, level == 1 ? 0 : dir - 1);
    Walk(deep);
    EXPECT_EQ(std::vector<DWORD>(Skipped, Skipped + SKIP_REASONS), (std::vector<DWORD>{1, 0, 0, 0, 0, 0}));
}

TEST(LongNames, AnalyzerWalksATreeWhosePathsPass260BytesWholeAndTheWindowAsBefore)
{
    // 40 levels of "Directory with a long name" (DIRECT~1.X, then DIRECT~1), each with a file F, the
    // deepest the largest. At level 28 the directory's path is 257 characters and its file's 258.
    FatImage image(FatLayout::For(300));
    image.File(image.Root(0), "F", 2);
    std::string longPath = "/", shortPath = "V:\\";
    std::vector<std::string> longs, shorts;
    for (uint16_t level = 1, dir = 3; level <= 40; level++, dir += 2) {
        const size_t at = level == 1 ? image.Root(3) : image.Cluster(dir - 2, 5);
        image.Dir(at, level == 1 ? "DIRECT~1X" : "DIRECT~1", dir, level == 1 ? 0 : dir - 2);
        image.LongName(at, u"Directory with a long name");
        image.File(image.Cluster(dir, 2), "F", dir + 1, level == 40 ? 20 : 10);
        longs.push_back(longPath + "F"), shorts.push_back(shortPath + "F");
        longPath += "Directory with a long name/", shortPath += level == 1 ? "DIRECT~1.X\\" : "DIRECT~1\\";
    }
    longs.push_back(longPath + "F"), shorts.push_back(shortPath + "F");
    static std::vector<std::string> dirs;
    DirLoaded = [] { dirs.push_back(LongDirPath + "|" + ShortDirPath); };
    EXPECT_EQ(Walk(image), longs);
    EXPECT_TRUE(dirs.size() == 41 && dirs[0] == "/|V:\\" && dirs[40] == longPath + "|" + shortPath) << dirs.size();
    EXPECT_EQ(shortPaths, shorts);
    EXPECT_EQ(std::vector<DWORD>(Skipped, Skipped + SKIP_REASONS), std::vector<DWORD>(SKIP_REASONS));
    EXPECT_TRUE(LargestFileLongPath == longs.back() && LargestFileShortPath == shorts.back() &&
                LargestFileName == windowPaths.back());
    for (size_t i = 0; i < shorts.size(); i++)   // cFileName: whole, or shortened visibly
        EXPECT_TRUE(shorts[i].size() < 260 ? windowPaths[i] == shorts[i]
                                           : windowPaths[i].size() < 260 && windowPaths[i].compare(0, 7, "V:\\...\\") == 0)
            << windowPaths[i];
    // The window stops where a file name would no longer fit in 260 bytes, with the same paths.
    const std::vector<std::string> window(shorts.begin(), shorts.begin() + 27);
    DirLoaded = NULL;
    Walk(image, false);
    EXPECT_EQ(windowPaths, window);
}

}  // namespace
