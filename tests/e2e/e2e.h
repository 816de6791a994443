// The end-to-end driver's window toolkit (win.cpp): captures and reference
// drawings in one pixel format, PNG screenshots, the program's windows, and
// the drives it is shown.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A picture, top row first, one 0x00BBGGRR value per pixel.
struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
    bool operator==(const Image &o) const { return width == o.width && height == o.height && pixels == o.pixels; }
    bool operator!=(const Image &o) const { return !(*this == o); }
};
Image Capture(HWND window);                                               // its client area as the screen shows it
Image TextImage(const std::string &text, COLORREF ink, COLORREF ground);  // ANSI_FIXED_FONT, opaque
Image BitmapFile(const std::string &path);
long Differences(const Image &whole, int x, int y, const Image &piece);  // pixels of `piece` unlike `whole` at x, y
bool WritePng(const Image &image, const std::string &path);

// Polls `done` every `poll` ms for at most `ms`, pumping this thread's messages.
bool WaitUntil(const std::function<bool()> &done, DWORD ms, DWORD poll = 20);
// Visible top-level windows of class `cls` (and `title` unless null) of process `pid` (0: any).
std::vector<HWND> Windows(DWORD pid, const char *cls, const char *title);
inline std::string Text(HWND w)
{
    char text[512] = "";
    return GetWindowTextA(w, text, sizeof text), text;
}
inline SIZE Size(HWND w)
{
    RECT r = {};
    return GetWindowRect(w, &r), SIZE{r.right - r.left, r.bottom - r.top};
}
inline void Key(HWND w, UINT key)  // posts a key press
{
    PostMessageA(w, WM_KEYDOWN, key, 1), PostMessageA(w, WM_KEYUP, key, 0xC0000001);
}
std::vector<std::string> ListLines(HWND list);
int Palettes(HANDLE process);  // palettes alive, stock ones aside; -1 when unknown
// Items of the main window's first menu as drawn: 'E' enabled, 'g' grayed; the capture goes to `shot`.
std::string MenuStates(HWND main, DWORD pid, const std::string &shot);

std::string Dos(const std::string &host);  // the Windows path, through Z:
// Maps a letter to a host image, holding the letter's lock (the unit tests'
// too) until the session reports it as asked; "" or what went wrong.
std::string MapDrive(char letter, const std::string &image, bool floppy, const std::string &fs,
                     const std::string &label);
bool PointDrive(char letter, const std::string &image);  // maps a held letter again
void UnmapDrive(char letter, bool release);               // release: give the letter back
