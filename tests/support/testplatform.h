// What a test needs from the platform under it, in both builds: collecting the
// message boxes that the code under test shows (instead of showing them), and
// mapping an image file to a drive letter so that "\\.\X:" opens it.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

struct CapturedBox {
    std::string caption;
    std::string text;
};

// Forgets earlier boxes. Boxes are always captured in test programs, from any
// thread; each returns IDOK at once.
void ClearMessages();
std::vector<CapturedBox> CapturedMessages();
// The texts alone, in the order the boxes were shown.
std::vector<std::string> CapturedTexts();

// Maps drive letter `letter` to the file at `path` (any path the test can
// write), replacing an earlier mapping of that letter. True on success.
bool MapDrive(char letter, const std::string &path);
// Removes the mapping made by MapDrive.
void UnmapDrive(char letter);

// Records one box; called by the platform-specific hook.
void RecordMessage(const char *caption, const char *text);

// A window handle that posted commands can reach (the main window's stand-in).
HWND TestWindow();
// Waits up to `milliseconds` for WM_COMMAND `command` posted to TestWindow(),
// dropping other messages. True when it came.
bool WaitForCommand(unsigned command, unsigned milliseconds);
