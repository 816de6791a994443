// Pixels of the program under test, as the screen shows them: window
// captures through BitBlt into 24-bit DIB sections, reference drawings made
// the same way (text in the panel's font, pictures from their files), region
// comparisons, and PNG files of captures for people to look at.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A 24-bit picture, top row first, one COLORREF-style 0x00BBGGRR value per pixel.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    bool Empty() const { return width <= 0 || height <= 0; }
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // The part of the picture inside (x, y, width, height), clipped to it.
    Image Crop(int x, int y, int w, int h) const;
};

// The client area of `window` (another process's window included) as the
// screen shows it now; an empty image when it cannot be read.
Image CaptureClient(HWND window);

// `text` drawn with the stock ANSI_FIXED_FONT, opaque, in `colour` on
// `ground`, cut to the cell TextOutA fills.
Image RenderText(const std::string &text, COLORREF colour, COLORREF ground);

// The picture in the Windows bitmap file `path` (any format GDI reads),
// drawn at its own size; empty when it cannot be read.
Image LoadBitmapFile(const std::string &path);

// Number of pixels of `part` that differ from `whole` at (x, y); pixels of
// `part` that fall outside `whole` count as different.
long CountDifferences(const Image &whole, int x, int y, const Image &part);

// True when both images have the same size and pixels.
bool SameImage(const Image &a, const Image &b);

// Writes `image` as a PNG file (stored, uncompressed deflate blocks); true on success.
bool WritePng(const Image &image, const std::string &path);
