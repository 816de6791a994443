// The end-to-end driver's toolkit: its settings, check reporting, starting the
// program under test, finding its windows and dialogs, driving them with
// posted messages, and waiting by polling with a time limit.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "capture.h"

// Menu commands of the program under test and its exit notification.
enum Command {
    kStart = 1301,
    kPause = 1302,
    kContinue = 1303,
    kExit = 1304,
    kNotifyDrive = 1305,
    kAbout = 1306,
    kOrder = 1307,
    kInstruc = 1308,
};

// Controls of the drive dialog.
const int kDriveList = 1003;
const int kStartButton = 1005;

// One volume as vantrel-scan reported it (see tests/e2e/make-drives.py).
struct Expected {
    std::map<std::string, std::string> values;
    const std::string &Text(const std::string &key) const;
    unsigned long long Number(const std::string &key) const;
};

// One drive the test makes: letter, how it is mapped, what it should show.
struct DriveSpec {
    char letter = 0;
    std::string kind;        // fixed, floppy, hidden or bad (a fixed drive the test damages)
    std::string fileSystem;  // as the platform should report it: FAT or FAT32
    std::string label;       // as the platform should report it; empty for none
    std::string image;       // host path
    Expected expected;       // empty unless the drive is analysed
};

struct Config {
    std::string app;       // host folder holding Vantrel.exe and the pictures
    std::string scratch;   // host folder the scenario may fill
    std::string shots;     // host folder for screenshots
    bool mapDrives = true; // false when the drives are mapped already
    std::vector<DriveSpec> drives;

    const DriveSpec *Drive(char letter) const;
    std::string AppFile(const char *name) const;  // Windows path of a file beside Vantrel.exe
};

// Reads the settings file written by run-scenario.sh; false with a message on error.
bool LoadConfig(const std::string &path, Config &config, std::string &error);

// Check reporting. Every failed check is printed and counted; the scenario
// goes on unless it cannot.
void Note(const char *format, ...);
bool Check(bool condition, const char *format, ...);
int Failures();

// Waits until `done` is true, pumping this thread's messages, for at most
// `milliseconds`; true when it became true.
bool WaitUntil(const std::function<bool()> &done, DWORD milliseconds, DWORD pollMs = 20);
// Pumps this thread's messages for `milliseconds`.
void Pump(DWORD milliseconds);

// The program under test, started from a folder of the driver's choice.
class App {
public:
    ~App();
    // Starts Vantrel.exe with `folder` (host path) as its current directory.
    bool Start(const Config &config, const std::string &folder);
    // The main window once it is visible; nullptr after `milliseconds`.
    HWND WaitMainWindow(DWORD milliseconds = 15000);
    HWND Main() const { return main_; }
    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_; }
    // True when the process ended within `milliseconds`; its exit code in `code`.
    bool WaitExit(DWORD milliseconds, DWORD *code = nullptr);
    // Ends the process if it still runs.
    void Kill();

    // A visible dialog (class #32770) of this process titled `title`, or
    // nullptr; `skip` windows are not returned.
    HWND FindDialog(const char *title, const std::vector<HWND> &skip = {}) const;
    std::vector<HWND> Dialogs(const char *title) const;
    HWND WaitDialog(const char *title, DWORD milliseconds = 10000, const std::vector<HWND> &skip = {}) const;
    // Posts a menu command to the main window.
    void Post(int command) const;

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND main_ = nullptr;
};

// Lists the program's top-level windows (class, title, visible, text of a
// message box), to explain a failed wait.
void NoteWindows(const App &app);

// Top-level windows of class `className` (any title, any process).
int CountWindows(const char *className);

// Text of a window (another process's included).
std::string WindowText(HWND window);
// Width and height of a window's rectangle.
SIZE WindowSize(HWND window);

// Clicks a button of a dialog by posting the click to the dialog, so that a
// handler that runs a nested message loop does not block the driver.
void ClickButton(HWND dialog, int id);
// Posts a key press (down and up) to a window.
void PressKey(HWND window, UINT key);

// A message box of the program: caption KivIFat, its text from control 0xFFFF.
HWND WaitMessageBox(const App &app, DWORD milliseconds, std::string *text);

// Lines of the drive dialog's list box.
std::vector<std::string> ListLines(HWND dialog);

// Saves `image` as `name`.png in the screenshot folder; returns the host path.
std::string SaveShot(const Config &config, const Image &image, const std::string &name);

// Reads `count` until it gives `expected`, for at most 2 s (a dialog releases
// its objects a moment after it disappears); the last value read.
int SettledCount(const std::function<int()> &count, int expected);

// Counts the palettes alive in `process` (GDI objects other than stock ones),
// -1 when they cannot be counted.
int CountPalettes(HANDLE process);

// Enabled state of the text items of the main window's menu, read from the
// menu as drawn when opened through the keyboard (Wine gives no access to
// another process's menu); empty when it cannot be read.
std::vector<bool> ReadMenuStates(const App &app, const Config &config, const std::string &shotName);
