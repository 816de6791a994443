// Picture files: the header rules (colour count, colour-table size, pixel
// bits), the loader's messages, the refusal of files shorter than their
// header announces and of nonsensical sizes, top-down pictures, and (Windows
// build) the palette and the drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "display/bmpfile.h"
#include "support/testplatform.h"
#ifdef _WIN32
#include "display/dib.h"
#else
#include <unistd.h>
#endif

namespace {

// The information-header fields the program reads or the platform needs.
struct Fields {
    DWORD headerSize;
    LONG width, height;
    WORD bitCount;
    DWORD compression, sizeImage, clrUsed;
};

void Put(std::vector<BYTE> &bytes, size_t at, DWORD value, int width)
{
    for (int k = 0; k < width && at + k < bytes.size(); ++k)
        bytes[at + k] = (BYTE)(value >> (8 * k));
}

// A file of `length` bytes with the fields at their offsets and a pattern in
// every other byte.
std::vector<BYTE> PictureBytes(const Fields &f, size_t length, bool signature = true)
{
    std::vector<BYTE> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = (BYTE)(i * 7 + 3);
    Put(bytes, 0, signature ? 'B' | 'M' << 8 : 'X' | 'Y' << 8, 2);
    Put(bytes, 2, (DWORD)length, 4);
    Put(bytes, 14, f.headerSize, 4);
    Put(bytes, 18, (DWORD)f.width, 4);
    Put(bytes, 22, (DWORD)f.height, 4);
    Put(bytes, 26, 1, 2);
    Put(bytes, 28, f.bitCount, 2);
    Put(bytes, 30, f.compression, 4);
    Put(bytes, 34, f.sizeImage, 4);
    Put(bytes, 46, f.clrUsed, 4);
    return bytes;
}

const DWORD kUntouched = 0xDEADBEEF;
const char kTruncated[] = "ERROR - GetBitMap - Truncated bitmap";
const char kBadHeader[] = "ERROR - GetBitMap - Bad bitmap header";
const char kOs2[] = "Error number 0 occured during GetBitMap - OS/2 bitmap.";

class BitmapFile : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        const unsigned long process = GetCurrentProcessId();
#else
        const unsigned long process = (unsigned long)getpid();
#endif
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        path_ = (std::filesystem::temp_directory_path() /
                 ("vantrel-" + std::to_string(process) + "-" + test + ".bmp"))
                    .string();
        hDIB = NULL;
        ClearMessages();
    }
    void TearDown() override
    {
        if (hDIB != NULL)
            GlobalFree(hDIB);
        hDIB = NULL;
        std::remove(path_.c_str());
    }

    const char *Write(const std::vector<BYTE> &bytes)
    {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write((const char *)bytes.data(), (std::streamsize)bytes.size());
        out.close();
        EXPECT_TRUE(out.good()) << path_;
        return path_.c_str();
    }

    // GetBitmap must fail with exactly `message` (none if NULL), leaving hDIB
    // NULL and the caller's width and height as they were.
    void ExpectRefused(const char *what, const char *message)
    {
        ClearMessages();
        DWORD width = kUntouched, height = kUntouched;
        EXPECT_FALSE(GetBitmap(path_.c_str(), &width, &height)) << what;
        EXPECT_EQ(hDIB, nullptr) << what;
        EXPECT_EQ(width, kUntouched) << what;
        EXPECT_EQ(height, kUntouched) << what;
        EXPECT_EQ(CapturedTexts(), message ? std::vector<std::string>{message} : std::vector<std::string>{})
            << what;
    }

    std::string path_;
};

TEST(HeaderRules, ColourCountAndTableSize)
{
    const struct {
        WORD bitCount;
        DWORD clrUsed;
        int colours;
        WORD tableSize;
    } cases[] = {
        {1, 0, 2, 8},         {4, 0, 16, 64},      {8, 0, 256, 1024},   {8, 20, 20, 80},
        {16, 0, 0, 12},       {16, 20, 20, 12},    {32, 0, 0, 12},      {32, 20, 20, 12},
        {24, 0, 0, 0},        {24, 20, 20, 0},     {2, 0, 0, 0},        {8, 0x10000, 0, 0},
        {1, 0x10002, 2, 8},   {8, 0x4001, 0x4001, 4},   // 4 x 16385 kept to 16 bits
    };
    for (const auto &test : cases) {
        std::vector<BYTE> header = PictureBytes({40, 1, 1, test.bitCount, 0, 0, test.clrUsed}, 54);
        header.erase(header.begin(), header.begin() + BITMAP_HEADER_OFFSET);
        EXPECT_EQ(GetNumColors(header.data()), test.colours) << test.bitCount << " bits, " << test.clrUsed;
        EXPECT_EQ(GetClrTableSize(header.data()), test.tableSize) << test.bitCount << " bits, " << test.clrUsed;
    }
    EXPECT_EQ(GetClrTableSize(nullptr), 0);
}

// Each picture loads at exactly `length` bytes and is refused one byte shorter.
TEST_F(BitmapFile, LoadsWhatIsCompleteAndRefusesOneByteLess)
{
    const struct {
        const char *what;
        Fields fields;
        size_t length;
        size_t bitsOffset;   // from the start of the file
    } cases[] = {
        {"1-bit 3x2", {40, 3, 2, 1, 0, 0, 0}, 70, 62},
        {"4-bit 5x1", {40, 5, 1, 4, 0, 0, 0}, 122, 118},
        {"8-bit 2x2", {40, 2, 2, 8, 0, 0, 0}, 1086, 1078},
        {"8-bit 3x2, 20 colours", {40, 3, 2, 8, 0, 0, 20}, 142, 134},
        {"24-bit 5x3, padded rows", {40, 5, 3, 24, 0, 0, 0}, 102, 54},
        {"24-bit, 20 colours: the palette is the longest", {40, 1, 1, 24, 0, 0, 20}, 134, 54},
        {"24-bit, 300 colours: more palette than the platform reads", {40, 1, 1, 24, 0, 0, 300}, 1254, 54},
        {"16-bit 3x2 with masks", {40, 3, 2, 16, 3, 0, 0}, 82, 66},
        {"16-bit, 20 colours: the palette is the longest", {40, 1, 1, 16, 0, 0, 20}, 134, 66},
        {"32-bit 2x2", {40, 2, 2, 32, 0, 0, 0}, 82, 66},
        {"108-byte header", {108, 2, 1, 8, 0, 0, 2}, 134, 130},
        {"124-byte header", {124, 2, 1, 8, 0, 0, 2}, 150, 146},
        {"top-down 24-bit 2x3", {40, 2, -3, 24, 0, 0, 0}, 78, 54},
        {"RLE8 with 10 bytes of data", {40, 4, 4, 8, 1, 10, 2}, 72, 62},
        {"65536 colours: the platform reads 256", {40, 1, 1, 8, 0, 0, 0x10000}, 1078, 54},
        {"1-bit 32767 wide", {40, 32767, 1, 1, 0, 0, 0}, 4158, 62},
        {"4-bit 32767 rows top-down", {40, 1, -32767, 4, 0, 0, 0}, 131186, 118},
    };
    for (const auto &test : cases) {
        Write(PictureBytes(test.fields, test.length));
        ClearMessages();
        const HGLOBAL previous = GlobalAlloc(GHND, 16);
        hDIB = previous;
        DWORD width = kUntouched, height = kUntouched;
        ASSERT_TRUE(GetBitmap(path_.c_str(), &width, &height)) << test.what;
        EXPECT_TRUE(CapturedTexts().empty()) << test.what;
        EXPECT_NE(hDIB, previous) << test.what;
        EXPECT_EQ(GlobalSize(previous), 16u) << test.what << ": the previous picture is the caller's";
        GlobalFree(previous);
        EXPECT_EQ(width, (DWORD)test.fields.width) << test.what;
        EXPECT_EQ(height, (DWORD)std::abs(test.fields.height)) << test.what;
        ASSERT_EQ(GlobalSize(hDIB), test.length) << test.what;
        const BYTE *picture = (const BYTE *)GlobalLock(hDIB);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(GetDIBImagePtr(picture + BITMAP_HEADER_OFFSET) - picture, (ptrdiff_t)test.bitsOffset)
            << test.what;
        GlobalUnlock(hDIB);
        GlobalFree(hDIB);
        hDIB = NULL;

        Write(PictureBytes(test.fields, test.length - 1));
        ExpectRefused(test.what, kTruncated);
    }
}

TEST_F(BitmapFile, RefusesNonsense)
{
    const struct {
        const char *what;
        Fields fields;
        size_t length;
        const char *message;
    } cases[] = {
        {"OS/2 header", {12, 2, 2, 8, 0, 0, 0}, 1000, kOs2},
        {"OS/2 header alone", {12, 2, 2, 8, 0, 0, 0}, 26, kOs2},
        {"no whole header length", {40, 2, 2, 8, 0, 0, 0}, 17, kTruncated},
        {"half a header", {40, 2, 2, 24, 0, 0, 0}, 40, kTruncated},
        {"zero width", {40, 0, 2, 24, 0, 0, 0}, 2000, kBadHeader},
        {"zero height", {40, 2, 0, 24, 0, 0, 0}, 2000, kBadHeader},
        {"negative width", {40, -2, 2, 24, 0, 0, 0}, 2000, kBadHeader},
        {"too wide", {40, 32768, 1, 1, 0, 0, 0}, 10000, kBadHeader},
        {"too high", {40, 1, 32768, 1, 0, 0, 0}, 200000, kBadHeader},
        {"too high top-down", {40, 1, -32768, 1, 0, 0, 0}, 200000, kBadHeader},
        {"compressed without its size", {40, 4, 4, 8, 1, 0, 2}, 2000, kBadHeader},
        {"header length near 4 GiB", {0xFFFFFFF0, 2, 2, 24, 0, 0, 0}, 2000, kTruncated},
        {"rows near 2^47 bytes", {40, 32767, 32767, 0xFFFF, 0, 0, 0}, 2000, kTruncated},
        {"compressed size near 4 GiB", {40, 4, 4, 8, 1, 0xFFFFFFFF, 2}, 2000, kTruncated},
    };
    for (const auto &test : cases) {
        Write(PictureBytes(test.fields, test.length));
        SetLastError(1234);   // the OS/2 message must show the 0 that the unlock leaves
        ExpectRefused(test.what, test.message);
    }
}

TEST_F(BitmapFile, MissingAndEmptyFiles)
{
    hDIB = GlobalAlloc(GHND, 16);
    const HGLOBAL previous = hDIB;
    ExpectRefused("missing", nullptr);
    EXPECT_EQ(GlobalSize(previous), 16u) << "the previous picture is left to the caller";
    GlobalFree(previous);
    EXPECT_EQ(LoadFile(path_.c_str()), nullptr);

    Write({});
    ExpectRefused("empty", "Error number 157 occured during LocalLock - LoadFile.");
}

TEST_F(BitmapFile, LoadFileHoldsAnyFileUnlocked)
{
    const std::vector<BYTE> bytes = {'h', 'e', 'l', 'l', 'o'};
    const HGLOBAL block = LoadFile(Write(bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(CapturedTexts().empty());
    ASSERT_EQ(GlobalSize(block), bytes.size());
    const BYTE *data = (const BYTE *)GlobalLock(block);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::vector<BYTE>(data, data + bytes.size()), bytes);
    SetLastError(1234);
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GetLastError(), 0u) << "LoadFile left the block locked";
    GlobalFree(block);
}

TEST_F(BitmapFile, AcceptsAFileWithoutTheSignature)
{
    Write(PictureBytes({40, 3, 2, 1, 0, 0, 0}, 70, false));
    DWORD width = 0, height = 0;
    EXPECT_TRUE(GetBitmap(path_.c_str(), &width, &height));
    EXPECT_EQ(width, 3u);
    EXPECT_EQ(height, 2u);
}

#ifdef _WIN32
// Pictures are opened for writing too: a file that another program holds
// open with only read sharing cannot be opened, and is treated as missing.
TEST_F(BitmapFile, FileSharedOnlyForReadingIsLikeAMissingOne)
{
    Write(PictureBytes({40, 3, 2, 1, 0, 0, 0}, 70));
    const HANDLE holder =
        CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    ExpectRefused("shared for reading only", nullptr);
    CloseHandle(holder);
}

TEST_F(BitmapFile, PaletteIsReadAtOffset54WhateverTheHeaderLength)
{
    std::vector<BYTE> bytes = PictureBytes({108, 2, 1, 8, 0, 0, 3}, 138);
    for (BYTE i = 0; i < 3; ++i) {
        bytes[54 + 4 * i] = 0x10 + i;       // blue
        bytes[54 + 4 * i + 1] = 0x20 + i;   // green
        bytes[54 + 4 * i + 2] = 0x30 + i;   // red
    }
    DWORD width, height;
    ASSERT_TRUE(GetBitmap(Write(bytes), &width, &height));
    const HPALETTE palette = PaletteFromDIB(NULL, 0);
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entries[4] = {};
    ASSERT_EQ(GetPaletteEntries(palette, 0, 4, entries), 3u);
    for (BYTE i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].peRed, 0x30 + i);
        EXPECT_EQ(entries[i].peGreen, 0x20 + i);
        EXPECT_EQ(entries[i].peBlue, 0x10 + i);
    }
    DeleteObject(palette);

    GlobalFree(hDIB);
    hDIB = NULL;
    ClearMessages();
    EXPECT_EQ(PaletteFromDIB(NULL, 0), nullptr);
    const std::vector<CapturedBox> boxes = CapturedMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "ERROR - PaletteFromDIB - GlobalLock");
    EXPECT_EQ(boxes[0].caption, "KivIFat");
}

// Draws a 1x2 24-bit picture (red above blue) into a 3x3 white surface.
TEST_F(BitmapFile, DrawsUprightAtThePicturesOwnSize)
{
    BITMAPINFO surfaceInfo = {};
    surfaceInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    surfaceInfo.bmiHeader.biWidth = 3;
    surfaceInfo.bmiHeader.biHeight = -3;
    surfaceInfo.bmiHeader.biPlanes = 1;
    surfaceInfo.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    const HBITMAP surface = CreateDIBSection(NULL, &surfaceInfo, DIB_RGB_COLORS, &bits, NULL, 0);
    ASSERT_NE(surface, nullptr);
    const HDC hdc = CreateCompatibleDC(NULL);
    const HGDIOBJ previous = SelectObject(hdc, surface);
    DWORD *pixels = (DWORD *)bits;

    const BYTE red[] = {0, 0, 0xFF, 0}, blue[] = {0xFF, 0, 0, 0};
    for (LONG height : {-2, 2}) {
        std::vector<BYTE> bytes = PictureBytes({40, 1, height, 24, 0, 0, 0}, 62);
        const BYTE *first = height < 0 ? red : blue, *second = height < 0 ? blue : red;
        std::copy(first, first + 4, &bytes[54]);
        std::copy(second, second + 4, &bytes[58]);
        DWORD width, rows;
        ASSERT_TRUE(GetBitmap(Write(bytes), &width, &rows));
        const BYTE *picture = (const BYTE *)GlobalLock(hDIB);
        std::fill(pixels, pixels + 9, 0xFFFFFFu);
        DIBBlt(hdc, NULL, 0, 0, 0, 0, NULL, 0, 0, SRCCOPY);
        GdiFlush();
        EXPECT_EQ(pixels[0], 0xFFFFFFu) << "drawn without a header";
        DIBBlt(hdc, NULL, 0, 0, 0, 0, picture + BITMAP_HEADER_OFFSET, 0, 0, SRCCOPY);
        GdiFlush();
        EXPECT_EQ(pixels[0] & 0xFFFFFF, 0xFF0000u) << height;
        EXPECT_EQ(pixels[3] & 0xFFFFFF, 0x0000FFu) << height;
        EXPECT_EQ(pixels[1], 0xFFFFFFu) << height << ": wider than the picture";
        EXPECT_EQ(pixels[6], 0xFFFFFFu) << height << ": higher than the picture";
        GlobalUnlock(hDIB);
        GlobalFree(hDIB);
        hDIB = NULL;
    }
    SelectObject(hdc, previous);
    DeleteDC(hdc);
    DeleteObject(surface);
}
#endif

}  // namespace
