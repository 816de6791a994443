// Drive letters for the end-to-end driver: image files mapped as fixed or
// removable drives of the running Wine session, and the top-level windows of
// other programs that the program under test looks up (the Quellix control
// window, the KIVFAT windows that hide a drive).
#pragma once

#include <windows.h>

#include <string>

// Maps `letter` ('C'..'Z') to the image at host path `hostImage` as a fixed
// drive, or as a removable (floppy) drive when `floppy`, replacing any earlier
// mapping of the letter. Holds the letter (shared with the unit tests'
// mappings) until UnmapDrive. Returns an empty string on success, otherwise
// what went wrong.
std::string MapDrive(char letter, const std::string &hostImage, bool floppy);

// Points the mapped `letter` at another image, keeping the letter; true when
// the mount manager took it.
bool PointDrive(char letter, const std::string &hostImage, bool floppy);

// Removes the drive `letter` from the session but keeps the letter, as a
// disk that went away; PointDrive brings it back.
void DropDrive(char letter);

// Waits until the session reports drive `letter` with this type, file-system
// name and label (read a little later than the mapping is made); an empty
// string when it does, otherwise what it reports.
std::string WaitDrive(char letter, bool floppy, const std::string &fileSystem, const std::string &label);

// Removes the mapping of `letter` and gives the letter back.
void UnmapDrive(char letter);

// True when another process holds `letter` for a mapping of its own.
bool LetterHeldElsewhere(char letter);

// The Windows path of a host path ("Z:\..."), or the path unchanged when it
// cannot be converted.
std::string DosPath(const std::string &hostPath);

// A hidden top-level window of class `className` titled `title`, owned by
// this thread; destroyed with DestroyWindow.
HWND MakeTopLevelWindow(const char *className, const char *title);
