// What the display and the shell compute without drawing: pictures read from
// files, the panel's field texts, the drive list's lines, the analyzer's texts,
// and what an error box does to the shared mutex.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/driveline.h"
#include "app/kivifat.h"
#include "display/bmpfile.h"
#include "display/fields.h"
#include "support/testplatform.h"
#ifndef _WIN32
#include "platform/posix/faults.h"
#endif

namespace {

// The fields of the information header that the program or the platform reads.
struct Fields { DWORD headerSize; LONG width, height; WORD bitCount; DWORD compression, sizeImage, clrUsed; };

// A picture file of `length` bytes: the fields at their offsets, a pattern elsewhere.
std::string Picture(const Fields &f, size_t length)
{
    std::string bytes;
    while (bytes.size() < length)
        bytes += (char)(bytes.size() * 7 + 3);
    const DWORD fields[][3] = {{0, 'B' | 'M' << 8, 2}, {14, f.headerSize, 4}, {18, (DWORD)f.width, 4},
                               {22, (DWORD)f.height, 4}, {26, 1, 2}, {28, f.bitCount, 2}, {30, f.compression, 4},
                               {34, f.sizeImage, 4}, {46, f.clrUsed, 4}};
    for (const auto &field : fields)
        for (size_t k = 0; k < field[2] && field[0] + k < length; ++k)
            bytes[field[0] + k] = (char)(field[1] >> (8 * k));
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string path = (std::filesystem::temp_directory_path() / ("vantrel-" + test + ".bmp")).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

const char kTruncated[] = "ERROR - GetBitMap - Truncated bitmap";
const char kBadHeader[] = "ERROR - GetBitMap - Bad bitmap header";

// GetBitmap refuses the file with `message` (none: NULL), leaving no picture and the caller's size.
void ExpectRefused(const std::string &path, const char *message, const char *what)
{
    ClearMessages();
    DWORD width = 5, height = 7;
    EXPECT_FALSE(GetBitmap(path.c_str(), &width, &height)) << what;
    EXPECT_TRUE(hDIB == NULL && width == 5 && height == 7) << what;
    EXPECT_TRUE(Shown(message ? std::vector<std::string>{message} : std::vector<std::string>{})) << what;
}

TEST(Bitmap, CountsColoursAndSizesTheColourTable)
{
    const struct { WORD bitCount; DWORD clrUsed; int colours; WORD tableSize; } cases[] = {
        {1, 0, 2, 8}, {4, 0, 16, 64}, {8, 0, 256, 1024}, {8, 20, 20, 80}, {16, 0, 0, 12}, {32, 20, 20, 12},
        {24, 20, 20, 0}, {2, 0, 0, 0}, {1, 0x10002, 2, 8}, {8, 0x4001, 0x4001, 4},   // 4 x 16385 in 16 bits
    };
    for (const auto &test : cases) {
        std::string file(54, 0);
        file[28] = (char)test.bitCount;
        for (int k = 0; k < 4; k++)
            file[46 + k] = (char)(test.clrUsed >> 8 * k);
        const BYTE *header = (const BYTE *)&file[BITMAP_HEADER_OFFSET];
        EXPECT_EQ(GetNumColors(header), test.colours) << test.bitCount << " bits, " << test.clrUsed;
        EXPECT_EQ(GetClrTableSize(header), test.tableSize) << test.bitCount << " bits, " << test.clrUsed;
    }
}

// A picture loads at its length (its pixel bits at `bits`) and not one byte shorter, or is refused with its message.
TEST(Bitmap, LoadsWhatIsWholeAndRefusesTheRest)
{
    const Fields small = {40, 3, 2, 1, 0, 0, 0};   // whole at 70 bytes
    const std::string lock = " occured during LocalLock - LoadFile.";
    const struct { const char *what; Fields fields; size_t length, bits; std::string message = "";
                   void (*inject)() = nullptr; } cases[] = {
        {"1-bit 3x2", small, 70, 62},
        {"4-bit 5x1", {40, 5, 1, 4, 0, 0, 0}, 122, 118},
        {"8-bit 3x2, 20 colours", {40, 3, 2, 8, 0, 0, 20}, 142, 134},
        {"24-bit 5x3, padded rows", {40, 5, 3, 24, 0, 0, 0}, 102, 54},
        {"24-bit, 300 colours: more palette than the platform reads", {40, 1, 1, 24, 0, 0, 300}, 1254, 54},
        {"16-bit 3x2 with masks", {40, 3, 2, 16, 3, 0, 0}, 82, 66},
        {"124-byte header", {124, 2, 1, 8, 0, 0, 2}, 150, 146},
        {"top-down 24-bit 2x3", {40, 2, -3, 24, 0, 0, 0}, 78, 54},
        {"RLE8 with 10 bytes of data", {40, 4, 4, 8, 1, 10, 2}, 72, 62},
        {"65536 colours: the platform reads 256", {40, 1, 1, 8, 0, 0, 0x10000}, 1078, 54},
        {"1-bit 32767 wide", {40, 32767, 1, 1, 0, 0, 0}, 4158, 62},
        {"4-bit 32767 rows top-down", {40, 1, -32767, 4, 0, 0, 0}, 131186, 118},
        {"an OS/2 header", {12, 2, 2, 8, 0, 0, 0}, 26, 0, "Error number 0 occured during GetBitMap - OS/2 bitmap."},
        {"no whole header length", {40, 2, 2, 8, 0, 0, 0}, 17, 0, kTruncated},
        {"half a header", {40, 2, 2, 24, 0, 0, 0}, 40, 0, kTruncated},
        {"zero width", {40, 0, 2, 24, 0, 0, 0}, 2000, 0, kBadHeader},
        {"zero height", {40, 2, 0, 24, 0, 0, 0}, 2000, 0, kBadHeader},
        {"too wide", {40, 32768, 1, 1, 0, 0, 0}, 10000, 0, kBadHeader},
        {"too high", {40, 1, 32768, 1, 0, 0, 0}, 200000, 0, kBadHeader},
        {"too high top-down", {40, 1, -32768, 1, 0, 0, 0}, 200000, 0, kBadHeader},
        {"compressed without its size", {40, 4, 4, 8, 1, 0, 2}, 2000, 0, kBadHeader},
        {"a header length near 4 GiB", {0xFFFFFFF0, 2, 2, 24, 0, 0, 0}, 2000, 0, kTruncated},
        {"rows near 2^47 bytes", {40, 32767, 32767, 0xFFFF, 0, 0, 0}, 2000, 0, kTruncated},
        {"a compressed size near 4 GiB", {40, 4, 4, 8, 1, 0xFFFFFFFF, 2}, 2000, 0, kTruncated},
        {"an empty file: a block of 0 bytes cannot be locked", {}, 0, 0, "Error number 157" + lock},
#ifndef _WIN32
        {"no memory", small, 70, 0, "Error number 8 occured during LocalAlloc - LoadFile.",
         [] { FaultFailAllocation(1); }},
        {"the file's block cannot be locked", small, 70, 0, "Error number 8" + lock,
         [] { FaultFailLock(1, ERROR_NOT_ENOUGH_MEMORY); }},
        {"the picture cannot be locked", small, 70, 0, "Error number 6 occured during GetBitMap - GlobalLock.",
         [] { FaultFailLock(2); }},
#endif
    };
    for (const auto &test : cases) {
        if (test.message.empty()) {
            ClearMessages();
            DWORD width = 0, height = 0;
            ASSERT_TRUE(GetBitmap(Picture(test.fields, test.length).c_str(), &width, &height)) << test.what;
            EXPECT_EQ(width, (DWORD)test.fields.width) << test.what;
            EXPECT_EQ(height, (DWORD)std::abs(test.fields.height)) << test.what;
            const BYTE *picture = (const BYTE *)GlobalLock(hDIB);
            EXPECT_EQ(GlobalSize(hDIB), test.length) << test.what;
            EXPECT_EQ(GetDIBImagePtr(picture + BITMAP_HEADER_OFFSET) - picture, (ptrdiff_t)test.bits) << test.what;
            EXPECT_TRUE(Shown({})) << test.what;
            GlobalUnlock(hDIB);
            GlobalFree(hDIB);
            hDIB = NULL;
        }
        const std::string path = Picture(test.fields, test.length - test.message.empty());
        SetLastError(1234);   // the OS/2 message shows the 0 that the unlock leaves
        if (test.inject)
            test.inject();
        ExpectRefused(path, test.message.empty() ? kTruncated : test.message.c_str(), test.what);
    }
    ExpectRefused(Picture(small, 70) + ".missing", NULL, "a missing file");
}

TEST(Fields, PathKeepsItsLast41CharactersOrIsPaddedWithSpaces)
{
    const std::string fifty = "C:\\0123456789\\abcdefghijklmnopqrstuvwxyz\\ABCDEFGHI", last41 = fifty.substr(9);
    const struct { std::string text, field; } cases[] = {
        {fifty, last41}, {last41, last41}, {"C:\\ten.txt", "C:\\ten.txt" + std::string(31, ' ')}};
    for (const auto &test : cases) {
        char field[PATH_FIELD + 1];
        field[PATH_FIELD] = '#';
        PathField(test.text.c_str(), field);
        EXPECT_EQ(std::string(field, PATH_FIELD + 1), test.field + "#") << test.text;
    }
}

TEST(Fields, NumbersAndAveragesAreSigned32BitValues)
{
    const struct { ULONGLONG value; DWORD files; const char *text; } cases[] = {   // files 0: a number
        {1440, 0, "   1440"}, {0x100000005ull, 0, "      5"}, {0xFFFFFFFFull, 0, "     -1"}, {12345678, 0, "12345678"},
        {5, 4, "   1.25"}, {1, 3, "   0.33"}, {0xFFFFFFFF, 1, "  -1.00"},
        {50000000, 1, "7050327.04"},                 // 5e9 hundredths wrap to 705032704
        {0x20000000, 0xFFFFFFFF, "-21474836.-48"},   // INT_MIN / -1 stays defined
    };
    for (const auto &test : cases) {
        char text[32];
        const int length = test.files ? AverageField(text, (DWORD)test.value, test.files)
                                      : NumberField(text, test.value);
        EXPECT_TRUE(text == std::string(test.text) && length == (int)strlen(test.text)) << text;
    }
}

TEST(DriveLine, PadsTheLabelToItsColumn)
{
    const struct { char letter; const char *label, *line; } cases[] = {
        {'D', "DATA", "D:  [DATA]                    [FAT]"},
        {'C', "", "C:  [No label]                [FAT]"},
        {'Z', "A LABEL OF TWENTY-FOUR C", "Z:  [A LABEL OF TWENTY-FOUR C] [FAT]"},   // a space at least
    };
    for (const auto &test : cases) {
        char line[DRIVE_LINE_SIZE];
        BuildDriveLine(line, test.letter, test.label, "FAT");
        EXPECT_STREQ(line, test.line);
    }
}

// A box gives MutexForCommonData up while it is open (seen under Wine, where
// the window refreshes meanwhile) and leaves it as it found it: a thread that
// held it (the scan thread) holds it again, once, and one that did not still
// does not. The caller's last error survives the box.
TEST(Boxes, LeaveTheSharedMutexAndTheLastErrorAsTheyWere)
{
    const HANDLE saved = hMutex;
    hMutex = CreateMutexA(NULL, FALSE, NULL);
    for (const bool held : {true, false}) {
        if (held) {
            ASSERT_EQ(WaitForSingleObject(hMutex, 0), (DWORD)WAIT_OBJECT_0);
        }
        ClearMessages();
        SetLastError(1234);
        ErrorBox("ERROR - Test - Box");
        EXPECT_EQ(GetLastError(), 1234u) << held;
        EXPECT_TRUE(Shown({"ERROR - Test - Box"})) << held;
        EXPECT_EQ(ReleaseMutex(hMutex) != FALSE, held) << held;
        DWORD other = WAIT_FAILED;
        std::thread([&other] {
            if ((other = WaitForSingleObject(hMutex, 0)) == WAIT_OBJECT_0)
                ReleaseMutex(hMutex);
        }).join();
        EXPECT_EQ(other, (DWORD)WAIT_OBJECT_0) << held;
    }
    CloseHandle(hMutex);
    hMutex = saved;
}

}  // namespace
