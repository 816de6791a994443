// Scenarios of the analysis as a user runs it from the window: the drive
// list, a whole analysis with pause and continue, the promotion and
// instructions dialogs around the end, a second analysis, a missing results
// background, starts that fail, Cancel, and the demo run.
#include "scenarios.h"

#include <tlhelp32.h>

#include <cstdio>
#include <fstream>

#include "drives.h"

namespace {

const int kListLineWidth = 30;

std::string ExpectedLine(const DriveSpec &drive)
{
    std::string line = std::string(1, drive.letter) + ":  [" + (drive.label.empty() ? "No label" : drive.label) + "]";
    if (line.size() < static_cast<size_t>(kListLineWidth))
        line += std::string(kListLineWidth - line.size(), ' ');
    return line + "[" + drive.fileSystem + "]";
}

bool Listed(const DriveSpec &drive)
{
    return drive.fileSystem == "FAT" && (drive.kind == "fixed" || drive.kind == "bad");
}

const DriveSpec *NeedDrive(const Config &config, char letter)
{
    const DriveSpec *drive = config.Drive(letter);
    Check(drive != nullptr && !drive->expected.values.empty(), "drive %c: and its expected values are set up",
          letter);
    return drive && !drive->expected.values.empty() ? drive : nullptr;
}

int ThreadCount(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == pid)
            ++count;
    CloseHandle(snapshot);
    return count;
}

LRESULT SelectedLine(HWND dialog)
{
    DWORD_PTR selected = static_cast<DWORD_PTR>(LB_ERR);
    SendMessageTimeoutA(GetDlgItem(dialog, kDriveList), LB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selected);
    return static_cast<LRESULT>(selected);
}

// Message boxes shown after an action: each one's text is read and the box
// closed with OK; stops when none comes within `quietMs`.
std::vector<std::string> CollectMessages(const App &app, DWORD firstMs, DWORD quietMs)
{
    std::vector<std::string> texts;
    DWORD wait = firstMs;
    for (int boxes = 0; boxes < 8; ++boxes) {
        std::string text;
        HWND box = WaitMessageBox(app, wait, &text);
        if (!box)
            break;
        texts.push_back(text);
        PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        WaitUntil([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
        wait = quietMs;
    }
    return texts;
}

std::string Joined(const std::vector<std::string> &texts)
{
    std::string all;
    for (const std::string &text : texts)
        all += (all.empty() ? "\"" : ", \"") + text + "\"";
    return all.empty() ? "none" : all;
}

// Waits for the message a picture dialog shows when the main window holds no
// picture, checks it and closes it, then waits for the dialog itself.
HWND PictureDialogAfterPaletteError(const App &app, const std::vector<HWND> &known, DWORD milliseconds,
                                    const char *what)
{
    std::string text;
    HWND box = WaitMessageBox(app, milliseconds, &text);
    HWND owner = box ? GetWindow(box, GW_OWNER) : nullptr;
    char ownerClass[32] = "";
    if (owner)
        GetClassNameA(owner, ownerClass, sizeof ownerClass);
    Check(box != nullptr && text == "ERROR - PaletteFromDIB - GlobalLock" && WindowText(owner) == "Vantrel" &&
              std::string(ownerClass) == "#32770",
          "opening %s shows \"%s\" owned by it", what, text.c_str());
    if (!box)
        return nullptr;
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    WaitUntil([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
    return WaitNewPictureDialog(app, known, 5000);
}

// Runs an analysis already started to its end: closes the instructions
// dialog at once, then the promotion dialog when it comes.
bool FinishAnalysis(const App &app, const DriveSpec &drive, HWND instructions)
{
    if (instructions)
        CloseDialog(instructions, "ok");
    HWND promotion = WaitNewPictureDialog(app, {}, AnalysisMilliseconds(drive));
    if (!Check(promotion != nullptr, "the promotion dialog appears at the end of the analysis of %c:", drive.letter)) {
        NoteWindows(app);
        return false;
    }
    return Check(CloseDialog(promotion, "ok"), "OK closes the promotion dialog");
}

void CheckExitNotifies(App &app, char letter)
{
    QuellixNotifications().clear();
    app.Post(kExit);
    Check(app.WaitExit(10000), "Exit ends the program");
    WaitUntil([] { return !QuellixNotifications().empty(); }, 3000);
    Pump(200);
    const std::vector<Notification> &received = QuellixNotifications();
    const std::string wanted = letter ? std::string("the drive letter ") + letter : std::string("parameter 0");
    Check(received.size() == 1 && received[0].command == kNotifyDrive && received[0].parameter == letter,
          "Quellix receives command 1305 with %s (%zu commands; first %lu, %ld)", wanted.c_str(), received.size(),
          received.empty() ? 0ul : static_cast<unsigned long>(received[0].command),
          received.empty() ? 0l : static_cast<long>(received[0].parameter));
}

bool ReadWhole(const std::string &path, std::string &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteWhole(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

unsigned Le16(const std::string &bytes, size_t at)
{
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

}  // namespace

int ScenarioDriveList(const Config &config)
{
    // Drive H: is hidden by its lookup window; a KIVFAT window with another
    // title hides nothing, nor does the right title on another class.
    std::vector<HWND> lookups;
    for (const DriveSpec &drive : config.drives)
        if (drive.kind == "hidden")
            lookups.push_back(MakeTopLevelWindow("KIVFAT", (std::string("KIVFAT") + drive.letter + ":").c_str()));
    const HWND decoys[] = {MakeTopLevelWindow("KIVFAT", "KIVFATD"), MakeTopLevelWindow("KIVFAT", "KIVFAT"),
                           MakeTopLevelWindow("KIVNTFS", "KIVFATE:")};

    App app;
    if (!StartApp(app, config, RunFolder(config, "drive-list", {})))
        return 1;
    const Image before = StableCapture(app.Main());
    HWND dialog = OpenDriveDialog(app);
    if (dialog) {
        const std::vector<std::string> lines = ListLines(dialog);
        SaveShot(config, StableCapture(dialog, 3000, true), "drive-list");
        std::string shown;
        for (const std::string &line : lines)
            shown += "\n      |" + line + "|";
        Note("the list:%s", shown.c_str());
        for (const DriveSpec &drive : config.drives) {
            int found = 0;
            std::string text;
            for (const std::string &line : lines)
                if (!line.empty() && line[0] == drive.letter) {
                    ++found;
                    text = line;
                }
            if (Listed(drive))
                Check(found == 1 && text == ExpectedLine(drive), "%c: listed as \"%s\" (wanted \"%s\")", drive.letter,
                      text.c_str(), ExpectedLine(drive).c_str());
            else
                Check(found == 0, "%c: (%s, %s) is not listed", drive.letter, drive.kind.c_str(),
                      drive.fileSystem.c_str());
        }
        for (const std::string &line : lines) {
            const char letter = line.empty() ? '?' : line[0];
            if (config.Drive(letter))
                continue;
            if (LetterHeldElsewhere(letter))
                Note("line of %c: ignored: another test maps that drive right now", letter);
            else
                Check(false, "no other drive is listed (\"%s\")", line.c_str());
        }
        bool sorted = true;
        for (size_t index = 1; index < lines.size(); ++index)
            sorted = sorted && lines[index - 1] < lines[index];
        Check(sorted, "the lines are in drive-letter order");
        Check(SelectedLine(dialog) == 0, "the first line is selected");

        // Cancel changes nothing.
        SelectDrive(dialog, 'E');
        PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        Check(WaitUntil([dialog] { return !IsWindow(dialog); }, 5000), "Cancel closes the dialog");
        Check(WaitUntil([&] { return SameImage(CaptureClient(app.Main()), before); }, 3000, 50),
              "after Cancel the window looks as before");
        CheckMenu(app, config, true, false, false, "drive-list-menu");
    }

    // Without its lookup window the hidden drive is offered again.
    for (HWND window : lookups)
        DestroyWindow(window);
    dialog = OpenDriveDialog(app);
    if (dialog) {
        const std::vector<std::string> lines = ListLines(dialog);
        for (const DriveSpec &drive : config.drives) {
            if (drive.kind != "hidden")
                continue;
            bool found = false;
            for (const std::string &line : lines)
                found = found || line == ExpectedLine(drive);
            Check(found, "%c: is listed once its lookup window is gone", drive.letter);
        }
        PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        WaitUntil([dialog] { return !IsWindow(dialog); }, 5000);
    }
    for (HWND decoy : decoys)
        DestroyWindow(decoy);
    // Cancel left no drive chosen.
    CheckExitNotifies(app, 0);
    return 0;
}

int ScenarioAnalysis(const Config &config)
{
    const DriveSpec *drive = NeedDrive(config, 'D');
    App app;
    if (!drive || !StartApp(app, config, RunFolder(config, "analysis", {})))
        return 1;
    HWND main = app.Main();
    HWND instructions = StartAnalysis(app, drive->letter);
    if (!instructions)
        return 1;
    CheckPicture(instructions, config, "Instruc.Bmp", "the instructions dialog");
    Check(CloseDialog(instructions, "ok"), "OK closes the instructions dialog");

    app.Post(kStart);
    Check(app.WaitDialog("Open Volume", 500) == nullptr, "Select Disk does nothing while the analysis runs");

    Image running;
    const bool current = WaitUntil(
        [&] {
            running = CaptureClient(main);
            return ShowsCurrentFile(running, *drive);
        },
        10000, 50);
    const std::string runningShot = SaveShot(config, running, "analysis-running");
    Check(current, "while the scan runs the current-file line shows a file of the volume (%s)", runningShot.c_str());
    CheckMenu(app, config, false, true, false, "analysis-menu-running");

    app.Post(kPause);
    CheckMenu(app, config, false, false, true, "analysis-menu-paused");
    const Image paused = StableCapture(main);
    Pump(1000);
    const Image later = CaptureClient(main);
    Check(!paused.Empty() && SameImage(paused, later), "paused, the panel does not change for 1 s");
    Check(ShowsCurrentFile(paused, *drive), "paused, the panel shows a file being examined");
    Check(app.FindDialog("Vantrel") == nullptr, "paused, the analysis has not ended");

    app.Post(kContinue);
    Check(WaitUntil([&] { return !SameImage(CaptureClient(main), paused); }, 5000, 50),
          "Continue: the panel changes again");

    HWND promotion = WaitNewPictureDialog(app, {}, AnalysisMilliseconds(*drive));
    if (Check(promotion != nullptr, "the promotion dialog appears at the end")) {
        CheckPicture(promotion, config, "Promo.Bmp", "the promotion dialog");
        Pump(500);
        Check(app.Dialogs("Vantrel").size() == 1, "it appears once");
        Check(CloseDialog(promotion, "ok"), "OK closes it");
        Check(app.WaitDialog("Vantrel", 1000) == nullptr, "no other dialog follows");
    }
    CheckPanel(app, config, *drive, 5000, "analysis-final");
    CheckMenu(app, config, true, false, false, "analysis-menu-end");

    // Cancel after an analysis changes nothing either.
    const Image before = StableCapture(main);
    HWND dialog = OpenDriveDialog(app);
    if (dialog) {
        SelectDrive(dialog, 'E');
        PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        WaitUntil([dialog] { return !IsWindow(dialog); }, 5000);
        Check(WaitUntil([&] { return SameImage(CaptureClient(main), before); }, 3000, 50),
              "Cancel leaves the panel as it was");
    }
    CheckExitNotifies(app, drive->letter);
    return 0;
}

int ScenarioPromoFirst(const Config &config)
{
    const DriveSpec *drive = NeedDrive(config, 'D');
    App app;
    if (!drive || !StartApp(app, config, RunFolder(config, "promo-first", {})))
        return 1;
    const int idleThreads = ThreadCount(app.Pid());
    HWND instructions = StartAnalysis(app, drive->letter);
    if (!instructions)
        return 1;
    CloseDialog(instructions, "ok");
    const int scanningThreads = ThreadCount(app.Pid());
    app.Post(kOrder);
    HWND promotion = app.WaitDialog("Vantrel");
    if (!Check(promotion != nullptr, "Order Quellix opens the promotion dialog during the analysis"))
        return 1;
    // The end comes while the dialog is open: the scan thread goes away.
    const bool ended = WaitUntil([&] { return ThreadCount(app.Pid()) < scanningThreads; },
                                 AnalysisMilliseconds(*drive), 100);
    Check(ended, "the scan ends while the promotion dialog is open (threads %d idle, %d scanning, %d now)",
          idleThreads, scanningThreads, ThreadCount(app.Pid()));
    Pump(1000);
    Check(app.Dialogs("Vantrel").size() == 1, "no second promotion dialog appears at the end");
    Check(CloseDialog(promotion, "enter"), "Enter closes the promotion dialog");
    Check(app.WaitDialog("Vantrel", 1500) == nullptr, "none appears after it is closed");
    CheckPanel(app, config, *drive, 5000, "promo-first-final");
    app.Post(kExit);
    app.WaitExit(10000);
    return 0;
}

int ScenarioTwoAnalyses(const Config &config)
{
    const DriveSpec *first = NeedDrive(config, 'D');
    const DriveSpec *second = NeedDrive(config, 'E');
    App app;
    if (!first || !second || !StartApp(app, config, RunFolder(config, "two-analyses", {})))
        return 1;
    const bool counting = CountPalettes(app.Process()) >= 0;
    auto palettes = [&app](int expected, const char *what) {
        const int count = SettledCount([&app] { return CountPalettes(app.Process()); }, expected);
        Check(count == expected, "%s (%d)", what, count);
    };

    // First analysis: the instructions dialog stays open until the end.
    HWND instructions = StartAnalysis(app, first->letter);
    if (!instructions)
        return 1;
    HWND promotion = WaitNewPictureDialog(app, {instructions}, AnalysisMilliseconds(*first));
    if (Check(promotion != nullptr && IsWindowVisible(instructions),
              "with the instructions dialog open, the promotion dialog opens at the end: both are open")) {
        CheckPicture(promotion, config, "Promo.Bmp", "the promotion dialog");
        if (counting)
            palettes(3, "three palettes: the main window's and one per dialog");
        Check(CloseDialog(instructions, "ok"), "the instructions dialog closes first");
        Check(IsWindowVisible(promotion), "the promotion dialog stays open");
        if (counting)
            palettes(2, "the instructions dialog released its palette only");
        Check(CloseDialog(promotion, "close"), "then the promotion dialog closes");
        if (counting)
            palettes(1, "only the main window's palette is left");
    }
    CheckPanel(app, config, *first, 5000, "two-analyses-first");

    // Second analysis, on another drive with smaller records: every value
    // starts from zero. The dialogs close in the other order.
    instructions = StartAnalysis(app, second->letter);
    if (!instructions)
        return 1;
    promotion = WaitNewPictureDialog(app, {instructions}, AnalysisMilliseconds(*second));
    if (Check(promotion != nullptr && IsWindowVisible(instructions), "again both dialogs are open at the end")) {
        Check(CloseDialog(promotion, "ok"), "the promotion dialog closes first");
        Check(IsWindowVisible(instructions), "the instructions dialog stays open");
        if (counting)
            palettes(2, "the promotion dialog released its palette only");
        Check(CloseDialog(instructions, "enter"), "then the instructions dialog closes");
        if (counting)
            palettes(1, "only the main window's palette is left");
    }
    CheckPanel(app, config, *second, 5000, "two-analyses-second");
    CheckExitNotifies(app, second->letter);
    return 0;
}

int ScenarioNoKivnt(const Config &config)
{
    const DriveSpec *drive = NeedDrive(config, 'E');
    App app;
    if (!drive || !StartApp(app, config, RunFolder(config, "no-kivnt", {"KivNT.bmp"})))
        return 1;
    const SIZE size = WindowSize(app.Main());
    HWND dialog = OpenDriveDialog(app);
    if (!dialog || !Check(SelectDrive(dialog, drive->letter), "%c: selected", drive->letter))
        return 1;
    PostMessageA(GetDlgItem(dialog, kStartButton), BM_CLICK, 0, 0);
    const std::vector<std::string> messages = CollectMessages(app, 1500, 300);
    Check(messages.empty(), "without KivNT.bmp the first Start shows no message (%s)", Joined(messages).c_str());
    Check(app.FindDialog("Vantrel") == nullptr && IsWindowVisible(dialog),
          "the start is abandoned: no instructions dialog, the drive dialog stays open");
    PostMessageA(GetDlgItem(dialog, kStartButton), BM_CLICK, 0, 0);
    // With no main picture, each picture dialog that opens finds no picture
    // to build the main window's fresh palette from, and says so.
    HWND instructions = PictureDialogAfterPaletteError(app, {}, 10000, "the instructions dialog");
    if (!Check(instructions != nullptr, "a second Start runs the analysis"))
        NoteWindows(app);
    CloseDialog(instructions, "ok");
    HWND promotion = PictureDialogAfterPaletteError(app, {}, AnalysisMilliseconds(*drive), "the promotion dialog");
    Check(promotion != nullptr && CloseDialog(promotion, "ok"), "the promotion dialog appears at the end and closes");
    CheckPanel(app, config, *drive, 5000, "no-kivnt-final");
    const SIZE after = WindowSize(app.Main());
    Check(after.cx == size.cx && after.cy == size.cy, "the window keeps the intro size");
    const long differences = PictureDifferences(app.Main(), config, "KivNT.bmp");
    Check(differences > 0, "no results background is painted (%ld pixels differ from KivNT.bmp)", differences);
    app.Post(kExit);
    app.WaitExit(10000);
    return 0;
}

int ScenarioFailedStart(const Config &config)
{
    const DriveSpec *bad = nullptr;
    for (const DriveSpec &drive : config.drives)
        if (drive.kind == "bad")
            bad = &drive;
    const DriveSpec *good = NeedDrive(config, 'E');
    App app;
    if (!Check(bad != nullptr, "a drive to damage is set up") || !good ||
        !StartApp(app, config, RunFolder(config, "failed-start", {})))
        return 1;
    const std::string image = DosPath(bad->image);
    std::string original;
    if (!Check(ReadWhole(image, original) && original.size() > 4096, "read %s", image.c_str()))
        return 1;
    HWND dialog = OpenDriveDialog(app);
    if (!dialog || !Check(SelectDrive(dialog, bad->letter), "%c: is listed and selected", bad->letter))
        return 1;
    const LRESULT line = SelectedLine(dialog);

    struct Damage {
        const char *what;
        std::function<bool()> apply;
        std::vector<std::string> messages;
    };
    const unsigned reserved = Le16(original, 14), fats = static_cast<unsigned char>(original[16]),
                   perFat = Le16(original, 22);
    const size_t rootStart = static_cast<size_t>(reserved + fats * perFat) * 512;
    const Damage damages[] = {
        {"its boot sector is wiped",
         [&] { return WriteWhole(image, std::string(512, '\0') + original.substr(512)); },
         {"ERROR - KivNTInitialize"}},
        {"it is gone",
         [&] {
             DropDrive(bad->letter);
             return true;
         },
         {"ERROR - KivDialogProc - IDC_START - OpenVolume"}},
        {"its root directory lies past the end of the image",
         [&] { return WriteWhole(image, original.substr(0, rootStart)); },
         {"Error number 0xC0000011 occured during ReadSectors - NtReadFile."}},
    };
    for (const Damage &damage : damages) {
        // The list was filled before the damage: Start meets it.
        if (!Check(damage.apply(), "drive %c: is damaged: %s", bad->letter, damage.what))
            continue;
        PostMessageA(GetDlgItem(dialog, kStartButton), BM_CLICK, 0, 0);
        const std::vector<std::string> messages = CollectMessages(app, 10000, 800);
        Check(messages == damage.messages, "Start shows %s (wanted %s)", Joined(messages).c_str(),
              Joined(damage.messages).c_str());
        Check(IsWindowVisible(dialog) && app.FindDialog("Vantrel") == nullptr,
              "the drive dialog stays open and no analysis starts");
        Check(SelectedLine(dialog) == line, "the same line stays selected");
        Check(PointDrive(bad->letter, bad->image, false) && WriteWhole(image, original), "drive %c: is repaired",
              bad->letter);
    }

    // Another drive then starts normally from the same dialog.
    Check(SelectDrive(dialog, good->letter), "%c: selected in the same dialog", good->letter);
    PostMessageA(GetDlgItem(dialog, kStartButton), BM_CLICK, 0, 0);
    HWND instructions = app.WaitDialog("Vantrel", 10000);
    Check(instructions != nullptr, "Start on %c: runs the analysis", good->letter);
    FinishAnalysis(app, *good, instructions);
    CheckPanel(app, config, *good, 5000, "failed-start-final");
    CheckExitNotifies(app, good->letter);
    return 0;
}

int ScenarioDemo(const Config &config)
{
    const DriveSpec *drive = nullptr;
    for (const DriveSpec &candidate : config.drives)
        if (!candidate.expected.values.empty() && !drive)
            drive = &candidate;
    App app;
    if (!Check(drive != nullptr, "a drive to analyse is set up") || !StartApp(app, config, config.app))
        return 1;
    HWND instructions = StartAnalysis(app, drive->letter);
    if (!instructions)
        return 1;
    FinishAnalysis(app, *drive, instructions);
    CheckPanel(app, config, *drive, 5000, "demo-panel");
    app.Post(kExit);
    app.WaitExit(10000);
    return 0;
}
