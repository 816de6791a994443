// The end-to-end scenarios and the steps they share: each scenario drives
// one start of the program (or a few) through window messages only and
// reports its checks through harness.h.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

// Commands the driver's Quellix control window received (command, parameter).
struct Notification {
    WPARAM command;
    LPARAM parameter;
};
std::vector<Notification> &QuellixNotifications();
// Makes the Quellix control window; false when it cannot.
bool MakeQuellixWindow();
void DestroyQuellixWindow();

// A folder for the program with the pictures beside Vantrel.exe, less those
// named in `missing`; its host path.
std::string RunFolder(const Config &config, const std::string &name, const std::vector<std::string> &missing);

// Starts the program in `folder` and waits for its main window; false (after
// a failed check) when it does not come.
bool StartApp(App &app, const Config &config, const std::string &folder);

// Captures a window's client area once two captures 100 ms apart agree;
// `painted`: and once it shows more than one colour.
Image StableCapture(HWND window, DWORD milliseconds = 3000, bool painted = false);

// Pixels of the client area of `window` that differ from the picture of
// `file` (beside Vantrel.exe) drawn from its top-left corner, as far as the
// client area reaches; -1 when either cannot be read.
long PictureDifferences(HWND window, const Config &config, const char *file);
// Checks that `what` (a window) shows that picture.
void CheckPicture(HWND window, const Config &config, const char *file, const char *what);

// Closes a dialog the way a user would: "ok" clicks its OK button, "enter"
// presses Enter, "close" uses the close box. True when it closed.
bool CloseDialog(HWND dialog, const std::string &how);
// Presses Escape in the dialog and checks that it stays open.
void CheckEscapeKeepsOpen(HWND dialog, const char *what);

// Checks the enabled state of Select Disk, Pause and Continue (the other
// items are always enabled).
void CheckMenu(const App &app, const Config &config, bool start, bool pause, bool resume, const std::string &shot);

// Opens Analysis > Select Disk; the dialog or nullptr.
HWND OpenDriveDialog(const App &app);
// Selects the line of `letter` in the drive dialog; false when it is not listed.
bool SelectDrive(HWND dialog, char letter);
// Opens the drive dialog, selects `letter` and presses Start; returns the
// instructions dialog that opens, or nullptr.
HWND StartAnalysis(const App &app, char letter);

// Number of measured files, from the expected values, for time limits.
DWORD AnalysisMilliseconds(const DriveSpec &drive);

// Waits for a picture dialog titled "Vantrel" that is not in `known`.
HWND WaitNewPictureDialog(const App &app, const std::vector<HWND> &known, DWORD milliseconds);

// Compares the main window's panel with the values of `drive` drawn by the
// driver (`final`: the completion line in the current-file field); true when
// every field matches. Waits up to `milliseconds` for it to match, then
// reports each field that differs. The last capture goes to `shot`.
bool CheckPanel(const App &app, const Config &config, const DriveSpec &drive, DWORD milliseconds,
                const std::string &shot);

// The current-file field of a capture matches one of the drive's files.
bool ShowsCurrentFile(const Image &capture, const DriveSpec &drive);

// Scenarios of the window: start, menu, dialogs, pictures, exit.
int ScenarioWindow(const Config &config);
int ScenarioNoIntro(const Config &config);
int ScenarioDialogs(const Config &config);
int ScenarioNoInstruc(const Config &config);
int ScenarioPalettes(const Config &config);
int ScenarioExit(const Config &config);
// Scenarios of the analysis: drive list, analyses, failures.
int ScenarioDriveList(const Config &config);
int ScenarioAnalysis(const Config &config);
int ScenarioPromoFirst(const Config &config);
int ScenarioTwoAnalyses(const Config &config);
int ScenarioNoKivnt(const Config &config);
int ScenarioFailedStart(const Config &config);
int ScenarioDemo(const Config &config);
