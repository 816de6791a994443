// Window captures, reference drawings and PNG output for the end-to-end
// driver. Every picture goes through a 24-bit top-down DIB section, so that
// captures and references are compared in one pixel format.
#include "capture.h"

#include <cstdio>
#include <cstring>

namespace {

// A memory device context with a 24-bit top-down DIB section selected.
class DibCanvas {
public:
    DibCanvas(int width, int height) : width_(width), height_(height)
    {
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        if (dc_ && width > 0 && height > 0)
            bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        if (bitmap_)
            old_ = SelectObject(dc_, bitmap_);
    }
    ~DibCanvas()
    {
        if (old_)
            SelectObject(dc_, old_);
        if (bitmap_)
            DeleteObject(bitmap_);
        if (dc_)
            DeleteDC(dc_);
    }
    DibCanvas(const DibCanvas &) = delete;
    DibCanvas &operator=(const DibCanvas &) = delete;

    bool Ready() const { return bitmap_ != nullptr && bits_ != nullptr; }
    HDC Dc() const { return dc_; }

    Image Pixels() const
    {
        Image image;
        if (!Ready())
            return image;
        GdiFlush();
        image.width = width_;
        image.height = height_;
        image.pixels.resize(static_cast<size_t>(width_) * height_);
        const int stride = (width_ * 3 + 3) & ~3;
        const BYTE *row = static_cast<const BYTE *>(bits_);
        for (int y = 0; y < height_; ++y, row += stride)
            for (int x = 0; x < width_; ++x) {
                const BYTE *p = row + x * 3;
                image.pixels[static_cast<size_t>(y) * width_ + x] = RGB(p[2], p[1], p[0]);
            }
        return image;
    }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void *bits_ = nullptr;
};

uint32_t Crc32(const unsigned char *data, size_t size, uint32_t crc)
{
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBig32(std::vector<unsigned char> &out, uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value >> 24));
    out.push_back(static_cast<unsigned char>(value >> 16));
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

void PutChunk(std::vector<unsigned char> &out, const char type[4], const std::vector<unsigned char> &data)
{
    PutBig32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBig32(out, Crc32(&out[start], out.size() - start, 0));
}

}  // namespace

Image Image::Crop(int x, int y, int w, int h) const
{
    Image part;
    if (x < 0) {
        w += x;
        x = 0;
    }
    if (y < 0) {
        h += y;
        y = 0;
    }
    if (x + w > width)
        w = width - x;
    if (y + h > height)
        h = height - y;
    if (w <= 0 || h <= 0)
        return part;
    part.width = w;
    part.height = h;
    part.pixels.reserve(static_cast<size_t>(w) * h);
    for (int row = y; row < y + h; ++row)
        for (int column = x; column < x + w; ++column)
            part.pixels.push_back(At(column, row));
    return part;
}

Image CaptureClient(HWND window)
{
    RECT client;
    if (!IsWindow(window) || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
        return Image();
    HDC source = GetDC(window);
    if (!source)
        return Image();
    DibCanvas canvas(client.right, client.bottom);
    bool copied = canvas.Ready() &&
                  BitBlt(canvas.Dc(), 0, 0, client.right, client.bottom, source, 0, 0, SRCCOPY);
    ReleaseDC(window, source);
    return copied ? canvas.Pixels() : Image();
}

Image RenderText(const std::string &text, COLORREF colour, COLORREF ground)
{
    HDC screen = GetDC(nullptr);
    HDC measure = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    SelectObject(measure, GetStockObject(ANSI_FIXED_FONT));
    SIZE extent = {};
    GetTextExtentPoint32A(measure, text.c_str(), static_cast<int>(text.size()), &extent);
    DeleteDC(measure);

    DibCanvas canvas(extent.cx, extent.cy);
    if (!canvas.Ready())
        return Image();
    SelectObject(canvas.Dc(), GetStockObject(ANSI_FIXED_FONT));
    SetTextColor(canvas.Dc(), colour);
    SetBkMode(canvas.Dc(), OPAQUE);
    SetBkColor(canvas.Dc(), ground);
    TextOutA(canvas.Dc(), 0, 0, text.c_str(), static_cast<int>(text.size()));
    return canvas.Pixels();
}

Image LoadBitmapFile(const std::string &path)
{
    HBITMAP loaded = static_cast<HBITMAP>(
        LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (!loaded)
        return Image();
    BITMAP info = {};
    GetObjectA(loaded, sizeof info, &info);
    Image image;
    {
        DibCanvas canvas(info.bmWidth, info.bmHeight);
        HDC source = CreateCompatibleDC(nullptr);
        const HGDIOBJ old = SelectObject(source, loaded);
        if (canvas.Ready() && BitBlt(canvas.Dc(), 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY))
            image = canvas.Pixels();
        SelectObject(source, old);
        DeleteDC(source);
    }
    DeleteObject(loaded);
    return image;
}

long CountDifferences(const Image &whole, int x, int y, const Image &part)
{
    long differ = 0;
    for (int row = 0; row < part.height; ++row)
        for (int column = 0; column < part.width; ++column) {
            const int wx = x + column, wy = y + row;
            if (wx < 0 || wy < 0 || wx >= whole.width || wy >= whole.height ||
                whole.At(wx, wy) != part.At(column, row))
                ++differ;
        }
    return differ;
}

bool SameImage(const Image &a, const Image &b)
{
    return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

bool WritePng(const Image &image, const std::string &path)
{
    if (image.Empty())
        return false;
    // Raw scanlines: filter byte 0, then R, G, B.
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(image.height) * (image.width * 3 + 1));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < image.width; ++x) {
            const uint32_t p = image.At(x, y);
            raw.push_back(static_cast<unsigned char>(GetRValue(p)));
            raw.push_back(static_cast<unsigned char>(GetGValue(p)));
            raw.push_back(static_cast<unsigned char>(GetBValue(p)));
        }
    }
    // zlib stream of stored blocks, with its Adler-32.
    std::vector<unsigned char> z = {0x78, 0x01};
    size_t offset = 0;
    do {
        const size_t length = raw.size() - offset < 65535 ? raw.size() - offset : 65535;
        const bool last = offset + length == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<unsigned char>(length));
        z.push_back(static_cast<unsigned char>(length >> 8));
        z.push_back(static_cast<unsigned char>(~length));
        z.push_back(static_cast<unsigned char>(~length >> 8));
        z.insert(z.end(), raw.begin() + static_cast<long>(offset), raw.begin() + static_cast<long>(offset + length));
        offset += length;
    } while (offset < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(z, (b << 16) | a);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    PutBig32(header, static_cast<uint32_t>(image.width));
    PutBig32(header, static_cast<uint32_t>(image.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});

    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = fwrite(png.data(), 1, png.size(), file) == png.size();
    return fclose(file) == 0 && written;
}
