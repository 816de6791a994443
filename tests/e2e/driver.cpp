// End-to-end driver of Vantrel.exe: starts the program and works it through
// posted window messages only, reading its windows, dialogs, list box and the
// screen.
//   driver.exe SCENARIO APP-FOLDER OUT-FOLDER DRIVES-FILE (see run-scenario.sh)
// The program runs in OUT/SCENARIO with the pictures of APP beside it;
// screenshots go to OUT. Exit status 0 when every check passed, else 1.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "e2e.h"

#include <psapi.h>

#include "resource.h"

namespace {

// A scenario is a list of steps, "verb argument", that one interpreter (Step,
// which says what each checks) runs in order; a step that cannot go on ends it.
// start [-PICTURE...]: in a folder without those pictures; dialog [about|blank|PICTURE]: a new dialog;
// go: two Starts at once, as a double click sends them (the second must start nothing); go1: one Start;
// dblclick: two double clicks on the selected drive's line at once (one start);
// panel LETTER: the finished panel, every value; exit LETTER|0|-: what Quellix is told (-: no Quellix window).
const struct Scenario {
    const char *name;
    bool drives;  // maps the drives first
    std::vector<const char *> steps;
} kScenarios[] = {
    // Escape closes every information dialog; dialogs stay on the screen when
    // the main window sits low or is minimised; a second copy brings the
    // minimised window back.
    {"window", false, {"start", "main", "menu Egg", "post about", "dialog about", "close escape", "post about",
        "dialog about", "close ok", "post about", "dialog about", "close enter", "post about", "dialog about",
        "close box", "post instruc", "dialog Instruc.Bmp", "palettes 2", "close escape", "palettes 1", "low",
        "post order", "dialog Promo.Bmp", "close escape", "post about", "dialog about", "close ok", "home", "minimize",
        "post instruc", "dialog Instruc.Bmp", "close ok", "second-copy", "rounds 12", "main", "closebox"}},
    {"no-intro", false, {"no-window -IntroFat.BMP"}},
    {"no-instruc", false, {"start -Instruc.Bmp", "palettes 1", "post instruc", "dialog blank", "close escape",
        "main", "post order", "dialog Promo.Bmp", "close ok", "palettes 1", "exit -"}},
    {"drive-list", true, {"hide", "start", "snap", "pick", "list DEIJK", "pick E", "cancel", "same", "unhide",
        "pick", "list DEHIJK", "cancel", "exit 0"}},
    // Then a read error during the walk of a drive cut short: its box comes to
    // the front, the window answers while it is open, and no other box follows.
    {"analysis", true, {"start", "pick D", "go", "dialog Instruc.Bmp", "close ok", "no-pick", "running D",
        "menu gEg", "post pause", "menu ggE", "frozen", "post continue", "changing", "dialog Promo.Bmp",
        "dialogs 1", "close ok", "dialogs 0", "panel D", "menu Egg", "repaint", "panel D", "pick J", "go", "dialog",
        "close ok", "scan-box Error number 0xC0000011 occured during GetCluster - NtReadFile", "answers", "front",
        "dialog Promo.Bmp", "close ok", "dialogs 0", "exit J"}},
    // The promotion dialog opened during the first analysis: none at its end.
    // In the second both dialogs are open at the end; its values start from zero.
    // A third, started by a double click, measures no file: it ends while its
    // instructions are open, the promotion then belongs to them, and its panel
    // shows the disk alone. Then a start that fails leaves the drive's letter alone.
    {"two-analyses", true, {"start", "pick D", "go", "dialog Instruc.Bmp", "close ok", "post order",
        "dialog Promo.Bmp", "aside", "panel D", "dialogs 1", "close enter", "dialogs 0", "palettes 1",
        "pick E", "go", "dialog", "dialog Promo.Bmp", "dialogs 2", "palettes 3", "close ok", "palettes 2",
        "close enter", "palettes 1", "panel E", "pick K", "dblclick", "dialog Instruc.Bmp", "dialog Promo.Bmp",
        "owned", "close ok", "enabled 0", "no-pick", "close ok", "enabled 1", "panel K", "pick I", "damage boot",
        "go", "box ERROR - KivNTInitialize", "stays", "cancel", "repair", "repaint", "bare I", "exit I"}},
    // Without KivNT.bmp a first Start is given up silently; starts that fail
    // leave the drive dialog open; another drive then runs, and each picture
    // dialog says it finds no main picture for its palette.
    {"failed-start", true, {"start -KivNT.bmp", "pick I", "go1", "stays", "damage boot", "go",
        "box ERROR - KivNTInitialize", "stays", "repair", "damage gone", "go",
        "box ERROR - KivDialogProc - IDC_START - OpenVolume", "stays", "repair", "damage short", "go",
        "box Error number 0xC0000011 occured during ReadSectors - NtReadFile.", "stays", "repair", "pick E",
        "go", "box ERROR - PaletteFromDIB - GlobalLock", "dialog", "close ok",
        "box ERROR - PaletteFromDIB - GlobalLock", "dialog", "close ok", "panel E", "no-background", "exit E"}},
    {"demo", true, {"start", "pick D", "go", "dialog", "close ok", "dialog", "close ok", "panel D", "exit D"}},
};

struct Drive {
    char letter;
    std::string kind, fs, label, image;         // kind: fixed, floppy, hidden, or bad (damaged here)
    std::vector<std::vector<std::string>> expect;  // what its panel shows, for analysed drives (make-drives.py)
};
std::vector<Drive> drives;
std::string app, out, scenario, original;  // original: the bad drive's image before any damage

PROCESS_INFORMATION proc;
HWND mainWindow, driveDialog, quellix;
RECT home;    // where the main window stood before "low"
HWND scanBox;  // the scan thread's box, while it is open
std::vector<HWND> open, lookups;  // open: its dialogs titled Vantrel or About Vantrel, oldest first
std::vector<std::pair<WPARAM, LPARAM>> notices;  // commands the Quellix control window got
LRESULT pickedLine = -1;
Image snap;
int failures, panels;

const std::map<std::string, int> kCommands = {{"pause", KIV_PAUSE}, {"continue", KIV_CONTINUE},
    {"about", KIV_ABOUT}, {"order", KIV_ORDER}, {"instruc", KIV_INSTRUC}};
const COLORREF kValue = RGB(0, 0, 0x60), kCurrent = RGB(0, 0, 0xBE), kGround = RGB(0xC0, 0xC0, 0xC0);

bool Check(bool ok, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    printf(ok ? "    ok    " : "    FAIL  ");
    vprintf(format, args);
    printf("\n");
    va_end(args);
    failures += !ok;
    return ok;
}

void Pump(DWORD ms)
{
    WaitUntil([] { return false; }, ms);
}

std::string AppFile(const std::string &name)
{
    return Dos(app + "/" + name);
}

std::string Shot(const Image &image, const std::string &name)
{
    const std::string path = out + "/" + scenario + "-" + name + ".png";
    WritePng(image, Dos(path));
    return path;
}

const Drive *DriveOf(char letter)
{
    for (const Drive &d : drives)
        if (d.letter == letter || (letter == '!' && d.kind == "bad"))
            return &d;
    return nullptr;
}

// Starts Vantrel.exe in a folder of its own holding its pictures but those in `missing`.
bool Launch(const std::string &missing, PROCESS_INFORMATION &info)
{
    const std::string folder = out + "/" + scenario, exe = AppFile("Vantrel.exe");
    CreateDirectoryA(Dos(folder).c_str(), nullptr);
    for (const char *picture : {"IntroFat.BMP", "KivNT.bmp", "Instruc.Bmp", "Promo.Bmp"}) {
        DeleteFileA(Dos(folder + "/" + picture).c_str());
        if (missing.find(picture) == std::string::npos)
            CopyFileA(AppFile(picture).c_str(), Dos(folder + "/" + picture).c_str(), FALSE);
    }
    std::string line = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return Check(CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, Dos(folder).c_str(),
                                &startup, &info), "start %s", exe.c_str());
}

// Waits up to 10 s for a process to end, counting at most how many windows
// of class `cls` process `pid` (0: any) showed meanwhile; its exit code, or -1.
long Ends(const PROCESS_INFORMATION &p, DWORD pid, const char *cls, int *most)
{
    DWORD code = 0;
    *most = 0;
    const bool ended = WaitUntil([&] {
        *most = std::max(*most, int(Windows(pid, cls, nullptr).size()));
        return WaitForSingleObject(p.hProcess, 0) == WAIT_OBJECT_0;
    }, 10000, 5);
    return ended && GetExitCodeProcess(p.hProcess, &code) ? long(code) : -1;
}

// A visible dialog of the program titled `title` that is not in `known`.
HWND NewDialog(const char *title, DWORD ms, const std::vector<HWND> &known = {})
{
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND d : Windows(proc.dwProcessId, "#32770", title))
            if (std::find(known.begin(), known.end(), d) == known.end())
                return (found = d) != nullptr;
        return false;
    }, ms);
    return found;
}

bool Closed(HWND window, DWORD ms)
{
    return WaitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, ms);
}

// Differences of a window's client area from a picture file drawn from its
// top-left corner, as far as the client area reaches and down to the topmost
// control over it (an OK button).
long PictureDifferences(HWND window, const char *file)
{
    const Image picture = BitmapFile(AppFile(file)), shown = Capture(window);
    Image piece;
    piece.width = std::min(picture.width, shown.width);
    piece.height = std::min(picture.height, shown.height);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&r), 2);
        piece.height = IsWindowVisible(child) ? std::max(0, std::min<int>(piece.height, r.top)) : piece.height;
    }
    for (int y = 0; y < piece.height; ++y)
        piece.pixels.insert(piece.pixels.end(), &picture.pixels[y * picture.width],
                           &picture.pixels[y * picture.width] + piece.width);
    return Differences(shown, 0, 0, piece);
}

bool ShowsPicture(HWND window, const char *file)
{
    long differ = -1;  // a window that has just opened may not be painted yet
    WaitUntil([&] { return (differ = PictureDifferences(window, file)) == 0; }, 3000, 50);
    return Check(differ == 0, "it shows %s (%ld pixels differ)", file, differ);
}

bool IntroSize()
{
    const Image intro = BitmapFile(AppFile("IntroFat.BMP"));
    const SIZE size = Size(mainWindow);
    return Check(size.cx == intro.width + 2 && size.cy == intro.height + 40, "the window is %ld x %ld for the intro "
                 "picture", size.cx, size.cy);
}

bool ShowsCurrentFile(const Image &capture, const Drive &drive)
{
    for (const std::vector<std::string> &e : drive.expect)
        if (e.size() == 2 && e[0] == "file" && !Differences(capture, 28, 485, TextImage(e[1], kCurrent, kGround)))
            return true;
    return false;
}

// Pixels of a capture of the main window unlike the results background,
// outside the given fields (x, y, name, text).
long BackgroundDifferences(const Image &capture, const std::vector<std::vector<std::string>> &fields)
{
    const Image background = BitmapFile(AppFile("KivNT.bmp"));
    std::vector<RECT> drawn;
    for (const std::vector<std::string> &f : fields) {
        const Image text = TextImage(f[4], kValue, kGround);
        drawn.push_back({stoi(f[1]), stoi(f[2]), stoi(f[1]) + text.width, stoi(f[2]) + text.height});
    }
    long differ = background.pixels.empty() || capture.pixels.empty();
    for (int y = 0; y < std::min(capture.height, background.height); ++y)
        for (int x = 0; x < std::min(capture.width, background.width); ++x) {
            const POINT at = {x, y};
            differ += capture.At(x, y) != background.At(x, y) &&
                      std::none_of(drawn.begin(), drawn.end(), [&](const RECT &r) { return PtInRect(&r, at); });
        }
    return differ;
}

// The finished panel, pixel for pixel, against its fields drawn here. A
// panel of the disk alone (an analysis that measured no file, or a drive
// whose start failed: its letter alone) shows nothing but the background
// besides its fields.
void Panel(const std::vector<std::vector<std::string>> &fields, char letter)
{
    std::vector<long> differ(fields.size());
    long elsewhere = 0;
    Image capture;
    const bool whole = fields.size() < 17;
    const bool same = WaitUntil([&] {
        long all = 0;
        capture = Capture(mainWindow);
        for (size_t i = 0; i < fields.size(); ++i) {
            const COLORREF ink = fields[i][3] == "current file" ? kCurrent : kValue;
            const Image text = TextImage(fields[i][4], ink, kGround);
            all += differ[i] = Differences(capture, stoi(fields[i][1]), stoi(fields[i][2]), text);
        }
        elsewhere = whole ? BackgroundDifferences(capture, fields) : 0;
        return all + elsewhere == 0;
    }, 20000, 100);
    Check(same && (fields.size() == 17 || fields.size() == 4 || fields.size() == 1),
          "the panel shows the values of %c: pixel for pixel%s (%s)", letter, whole ? ", nothing else" : "",
          Shot(capture, "panel" + (++panels > 1 ? "-" + std::to_string(panels) : "")).c_str());
    for (size_t i = 0; i < fields.size(); ++i)
        if (differ[i])
            printf("          %-17s \"%s\": %ld pixels off\n", fields[i][3].c_str(), fields[i][4].c_str(), differ[i]);
    if (elsewhere)
        printf("          %ld pixels elsewhere unlike the background\n", elsewhere);
}

void Panel(const Drive &drive)
{
    std::vector<std::vector<std::string>> fields;  // x, y, name, text
    std::copy_if(drive.expect.begin(), drive.expect.end(), std::back_inserter(fields),
                 [](const std::vector<std::string> &e) { return e.size() == 5 && e[0] == "panel"; });
    Panel(fields, drive.letter);
}

// Whether a window lies wholly within the screen's work area.
bool OnScreen(HWND window)
{
    RECT area = {}, r = {}, common = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window, &r);
    return IntersectRect(&common, &area, &r) && EqualRect(&common, &r);
}

// The first visible window of the program in the stacking order.
HWND Topmost()
{
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == proc.dwProcessId && IsWindowVisible(w))
            return w;
    }
    return nullptr;
}

LRESULT CALLBACK QuellixProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_COMMAND)
        notices.emplace_back(w, l);
    return DefWindowProcA(window, message, w, l);
}

// A hidden top-level window of this thread, for the program to find.
HWND TopWindow(const char *cls, const std::string &title, WNDPROC proc = DefWindowProcA)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = cls;
    RegisterClassA(&wc);  // registered before: fine
    return CreateWindowA(cls, title.c_str(), WS_OVERLAPPED, 0, 0, 9, 9, nullptr, nullptr, wc.hInstance, nullptr);
}

LRESULT Selected()
{
    DWORD_PTR line = DWORD_PTR(LB_ERR);
    SendMessageTimeoutA(GetDlgItem(driveDialog, IDC_DRIVELIST), LB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &line);
    return LRESULT(line);
}

bool Rewrite(const std::string &image, const std::string &bytes)
{
    std::ofstream file(Dos(image), std::ios::binary | std::ios::trunc);
    return bool(file.write(bytes.data(), std::streamsize(bytes.size())));
}

// Runs one step; false when the scenario cannot go on.
bool Step(const std::string &verb, const std::string &arg)
{
    const DWORD pid = proc.dwProcessId;
    const Drive *drive = DriveOf(arg.c_str()[0]), *bad = DriveOf('!');
    int most = 0;
    if ((verb == "panel" || verb == "running") && !Check(drive && !drive->expect.empty(), "%s: analysed", arg.c_str()))
        return false;
    if (verb == "start") {
        const bool shown = Launch(arg, proc) && WaitUntil([] {
            const std::vector<HWND> mains = Windows(proc.dwProcessId, "KivIFat", "Vantrel");
            return !mains.empty() && (mainWindow = mains[0]) != nullptr;
        }, 15000);
        return Check(shown, "the main window (class KivIFat, title Vantrel) appears");
    } else if (verb == "no-window") {
        const long code = Launch(arg, proc) ? Ends(proc, proc.dwProcessId, "KivIFat", &most) : -1;
        Check(code == 0 && !most, "the program ends by itself with code 0 (%ld), no window shown (%d)", code, most);
    } else if (verb == "main") {
        IntroSize();
        ShowsPicture(mainWindow, "IntroFat.BMP");
        Shot(Capture(mainWindow), "main");
    } else if (verb == "second-copy") {
        PROCESS_INFORMATION second = {};
        const long code = Launch("", second) ? Ends(second, 0, "KivIFat", &most) : -1;
        Check(code == 0 && most == 1 && WaitForSingleObject(proc.hProcess, 0) == WAIT_TIMEOUT,
              "a second copy ends by itself with code 0 (%ld), one window (%d), the first runs on", code, most);
        const bool restored = WaitUntil([] { return !IsIconic(mainWindow); }, 2000);
        Check(restored && GetForegroundWindow() == mainWindow, "it brings the first window forward (%s, %s)",
              restored ? "restored" : "still minimised", GetForegroundWindow() == mainWindow ? "in front" : "behind");
    } else if (verb == "menu") {
        const std::string states = MenuStates(mainWindow, pid, Dos(out + "/" + scenario + "-menu-" + arg + ".png"));
        Check(states == arg + "EEEE", "menu Select Disk, Pause, Continue, Reading the results, Order, About, Exit: "
              "%s (wanted %sEEEE; E enabled, g grayed)", states.c_str(), arg.c_str());
    } else if (verb == "post") {
        PostMessageA(mainWindow, WM_COMMAND, kCommands.at(arg), 0);
    } else if (verb == "dialog") {
        HWND dialog = NewDialog(arg == "about" ? "About Vantrel" : "Vantrel", 60000, open);
        if (!Check(dialog != nullptr, "a dialog opens (%s)", arg.c_str()))
            return false;
        open.push_back(dialog);
        if (driveDialog)
            Check(Closed(driveDialog, 0), "the drive dialog has closed");
        driveDialog = nullptr;
        const SIZE size = Size(dialog);
        Check(OnScreen(dialog), "it lies within the screen's work area");
        const Image picture = BitmapFile(AppFile(arg == "blank" ? "Instruc.Bmp" : arg));
        const std::string title = Text(GetDlgItem(dialog, IDC_ABOUT_TITLE));
        if (arg == "about")
            Check(title == "Vantrel for Windows NT(TM), Version 1.03", "About shows \"%s\"", title.c_str());
        if (arg == "blank") {
            Pump(300);  // time to paint whatever it would paint
            const Image shown = Capture(dialog);
            Check(size.cx < picture.width && size.cy < picture.height && !shown.pixels.empty() &&
                  std::count(shown.pixels.begin(), shown.pixels.end(), shown.pixels[0]) == long(shown.pixels.size()),
                  "it is not enlarged to the picture it lacks (%ld x %ld) and shows nothing (%s)", size.cx, size.cy,
                  Shot(shown, "blank").c_str());
        } else if (!picture.pixels.empty()) {
            Check(size.cx == picture.width + 2 && size.cy == picture.height + 43, "it is %ld x %ld for its picture",
                  size.cx, size.cy);
            ShowsPicture(dialog, arg.c_str());
        }
    } else if (verb == "close") {
        HWND dialog = open.back();
        open.pop_back();
        if (arg == "ok")
            PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        else if (arg == "enter")
            Key(dialog, VK_RETURN);
        else if (arg == "escape")
            Key(dialog, VK_ESCAPE);
        else
            PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        if (Check(Closed(dialog, 5000), "%s closes it", arg.c_str()))
            return true;
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // so that the scenario can go on
        return Closed(dialog, 5000);
    } else if (verb == "dialogs") {
        Pump(1000);
        const size_t shown = Windows(pid, "#32770", "Vantrel").size();
        Check(shown == size_t(stoi(arg)), "%zu dialogs titled Vantrel are open (wanted %s)", shown, arg.c_str());
    } else if (verb == "palettes") {
        int count = -1;  // a dialog releases its objects a moment after it disappears
        WaitUntil([&] { return (count = Palettes(proc.hProcess)) == stoi(arg); }, 2000);
        Check(count == stoi(arg), "the program holds %d palettes (wanted %s)", count, arg.c_str());
    } else if (verb == "rounds") {  // leave no palette and no picture behind
        const int palettes = Palettes(proc.hProcess);
        PROCESS_MEMORY_COUNTERS before = {}, after = {};
        GetProcessMemoryInfo(proc.hProcess, &before, sizeof before);
        for (int n = 0; n < 2 * stoi(arg); ++n)
            if (!Step("post", n % 2 ? "order" : "instruc") || !Step("dialog", "") ||
                !Step("close", n % 3 == 0 ? "ok" : n % 3 == 1 ? "enter" : "box"))
                return false;
        GetProcessMemoryInfo(proc.hProcess, &after, sizeof after);
        Step("palettes", std::to_string(palettes));
        Check(after.PagefileUsage < before.PagefileUsage + 1200 * 1024, "memory grew by %ld KB (a picture: 200 KB)",
              long(after.PagefileUsage - before.PagefileUsage) / 1024);
    } else if (verb == "exit" || verb == "closebox") {
        if (arg == "-")
            DestroyWindow(quellix);
        notices.clear();
        PostMessageA(mainWindow, verb == "exit" ? WM_COMMAND : WM_SYSCOMMAND, verb == "exit" ? KIV_EXIT : SC_CLOSE, 0);
        const long code = Ends(proc, pid, "#32770", &most);
        Check(code == 0 && !most, "the program ends with code 0 (%ld) without a message", code);
        Pump(300);
        if (verb == "closebox" || arg == "-")
            return Check(notices.empty(), "Quellix is told nothing (%zu commands)", notices.size());
        notices.resize(std::max<size_t>(notices.size(), 1));
        const LPARAM letter = arg == "0" ? 0 : arg[0];
        Check(notices.size() == 1 && notices[0].first == KIV_NOTIFY_DRIVE && notices[0].second == letter,
              "Quellix is told command 1305 with %s (%zu commands; %lu, %ld)", arg.c_str(), notices.size(),
              (unsigned long)notices[0].first, long(notices[0].second));
    } else if (verb == "pick" || verb == "no-pick") {
        if (!driveDialog) {
            PostMessageA(mainWindow, WM_COMMAND, KIV_START, 0);
            driveDialog = NewDialog("Open Volume", verb == "pick" ? 10000 : 500);
            if (verb == "no-pick" && driveDialog) {
                Check(false, "Select Disk opens nothing while an analysis runs or a dialog is open");
                PostMessageA(GetDlgItem(driveDialog, IDCANCEL), BM_CLICK, 0, 0);  // so that the scenario can go on
                return Closed(driveDialog, 5000) && !(driveDialog = nullptr);
            }
            if (verb == "no-pick")
                return Check(true, "Select Disk opens nothing while an analysis runs or a dialog is open");
            if (!Check(driveDialog != nullptr, "Select Disk opens the dialog Open Volume"))
                return false;
        }
        const std::vector<std::string> lines = ListLines(GetDlgItem(driveDialog, IDC_DRIVELIST));
        for (size_t i = 0; i < lines.size(); ++i)
            if (!arg.empty() && lines[i].c_str()[0] == arg[0])
                SendMessageTimeoutA(GetDlgItem(driveDialog, IDC_DRIVELIST), LB_SETCURSEL, i, 0, SMTO_ABORTIFHUNG, 5000,
                                    nullptr);
        pickedLine = Selected();
        return arg.empty() || Check(size_t(pickedLine) < lines.size() && lines[pickedLine][0] == arg[0],
                                    "%s: is listed and selected", arg.c_str());
    } else if (verb == "list") {
        std::vector<std::string> lines, wanted;
        std::string shown;
        for (const std::string &line : ListLines(GetDlgItem(driveDialog, IDC_DRIVELIST)))
            if (DriveOf(line.c_str()[0]))  // not the drives other tests map meanwhile
                lines.push_back(line), shown += "\n          |" + line + "|";
        for (const char letter : arg) {
            const Drive &d = *DriveOf(letter);
            const std::string head = std::string(1, letter) + ":  [" + (d.label.empty() ? "No label" : d.label) + "]";
            wanted.push_back(head + std::string(head.size() < 30 ? 30 - head.size() : 1, ' ') + "[" + d.fs + "]");
        }
        Check(lines == wanted && Selected() == 0, "the list holds %s, the first line selected (%s):%s", arg.c_str(),
              Shot(Capture(driveDialog), "list-" + arg).c_str(), shown.c_str());
    } else if (verb == "cancel") {
        PostMessageA(GetDlgItem(driveDialog, IDCANCEL), BM_CLICK, 0, 0);
        Check(Closed(driveDialog, 5000), "Cancel closes the drive dialog");
        driveDialog = nullptr;
    } else if (verb == "hide") {
        // A drive is hidden by a KIVFAT window titled KIVFAT<letter>:; one with
        // another title hides nothing, nor does that title on another class.
        for (const Drive &d : drives)
            if (d.kind == "hidden")
                lookups.push_back(TopWindow("KIVFAT", std::string("KIVFAT") + d.letter + ":"));
        TopWindow("KIVFAT", "KIVFATD"), TopWindow("KIVFAT", "KIVFAT"), TopWindow("KIVNTFS", "KIVFATE:");
    } else if (verb == "unhide") {
        for (HWND w : lookups)
            DestroyWindow(w);
    } else if (verb == "go" || verb == "go1") {
        for (int n = verb == "go" ? 2 : 1; n > 0; --n)
            PostMessageA(driveDialog, WM_COMMAND, IDC_START, LPARAM(GetDlgItem(driveDialog, IDC_START)));  // clicked
    } else if (verb == "box" || verb == "stays") {  // stays: after a start that failed
        HWND box = NewDialog("KivIFat", verb == "box" ? 60000 : 1000);
        const std::string text = Text(GetDlgItem(box, 0xFFFF));
        if (box)
            PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        if (verb == "box")
            return Check(box && text == arg && Closed(box, 5000), "the message \"%s\" shows (\"%s\")", arg.c_str(),
                         text.c_str());
        Check(!box && IsWindowVisible(driveDialog) && Selected() == pickedLine && !NewDialog("Vantrel", 0),
              "no other message (\"%s\"); the drive dialog stays, its line selected; no analysis", text.c_str());
    } else if (verb == "damage") {
        std::ifstream in(Dos(bad->image), std::ios::binary);
        original.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        auto le16 = [](size_t at) { return BYTE(original[at]) | BYTE(original[at + 1]) << 8; };
        if (arg == "boot")  // the volume cannot be prepared
            return Check(Rewrite(bad->image, std::string(512, '\0') + original.substr(512)), "wipe the boot sector");
        if (arg == "short")  // the root directory lies past the end of the image
            return Check(Rewrite(bad->image, original.substr(0, (le16(14) + BYTE(original[16]) * le16(22)) * 512)),
                         "cut the image");
        UnmapDrive(bad->letter, false);  // gone: the volume cannot be opened
    } else if (verb == "repair") {
        Check(PointDrive(bad->letter, bad->image) && Rewrite(bad->image, original), "repair %c:", bad->letter);
    } else if (verb == "running") {
        Image shown;
        const bool current = WaitUntil([&] { return ShowsCurrentFile(shown = Capture(mainWindow), *drive); }, 9000, 50);
        Check(current, "the current-file line shows a file of %c: (%s)", drive->letter, Shot(shown, "running").c_str());
    } else if (verb == "frozen") {  // perhaps not a measured file: an empty one
        Image paused, last;
        WaitUntil([&] {  // drawn out
            last = paused;
            return (paused = Capture(mainWindow)) == last;
        }, 3000, 100);
        Pump(1000);
        const bool blank = !Differences(paused, 28, 485, TextImage(std::string(41, ' '), kCurrent, kGround));
        Check((snap = Capture(mainWindow)) == paused && !blank && !NewDialog("Vantrel", 0, open),
              "paused, the panel stays as it is for 1 s, a current file shown (%s)", Shot(paused, "paused").c_str());
    } else if (verb == "changing") {
        Check(WaitUntil([] { return Capture(mainWindow) != snap; }, 5000, 50), "the panel changes again");
    } else if (verb == "aside") {  // the newest dialog, off the panel
        RECT r;
        GetWindowRect(mainWindow, &r);
        SetWindowPos(open.back(), nullptr, r.right, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (verb == "snap") {
        Pump(500);
        snap = Capture(mainWindow);
    } else if (verb == "same") {
        Check(WaitUntil([] { return Capture(mainWindow) == snap; }, 3000, 50), "the window looks as before");
    } else if (verb == "panel") {
        Panel(*drive);
    } else if (verb == "bare") {  // the letter alone: a start of it failed
        Panel({{"panel", "318", "47", "drive", arg + ":"}}, arg[0]);
    } else if (verb == "low" || verb == "home") {  // the main window near the bottom of the screen, or back
        RECT area = {};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        if (verb == "low")
            GetWindowRect(mainWindow, &home);
        const int y = verb == "low" ? area.bottom - 60 : home.top;
        SetWindowPos(mainWindow, nullptr, home.left, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT r = {};
        Check(WaitUntil([&] { return GetWindowRect(mainWindow, &r) && r.top == y; }, 2000), "the main window is "
              "moved to y %d", y);
    } else if (verb == "minimize") {
        PostMessageA(mainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        Check(WaitUntil([] { return IsIconic(mainWindow) != FALSE; }, 3000), "the main window is minimised");
    } else if (verb == "dblclick") {
        for (int n = 0; n < 2; ++n)  // two at once: the second must start nothing
            PostMessageA(driveDialog, WM_COMMAND, MAKEWPARAM(IDC_DRIVELIST, LBN_DBLCLK),
                         LPARAM(GetDlgItem(driveDialog, IDC_DRIVELIST)));
    } else if (verb == "owned") {  // the newest dialog belongs to the one before it
        HWND owner = GetWindow(open.back(), GW_OWNER);
        Check(open.size() >= 2 && owner == open[open.size() - 2] && !IsWindowEnabled(mainWindow),
              "the new dialog is owned by the one open before it, the main window disabled");
    } else if (verb == "enabled") {
        Pump(500);
        Check(bool(IsWindowEnabled(mainWindow)) == (arg == "1"), "the main window is %s",
              arg == "1" ? "enabled" : "disabled while a dialog is open");
    } else if (verb == "scan-box") {  // a box of the scan thread, left open
        scanBox = NewDialog("KivIFat", 60000);
        const std::string text = Text(GetDlgItem(scanBox, 0xFFFF));
        return Check(scanBox && text == arg, "the message \"%s\" shows (\"%s\")", arg.c_str(), text.c_str());
    } else if (verb == "answers") {  // while the box is open
        DWORD slowest = 0;
        bool answers = true;
        for (int n = 0; n < 10 && answers; ++n) {  // 2 s: ten refresh ticks
            const DWORD begin = GetTickCount();
            answers = SendMessageTimeoutA(mainWindow, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr) != 0;
            slowest = std::max(slowest, GetTickCount() - begin);
            Pump(200);
        }
        Check(answers && slowest < 500, "meanwhile the main window answers at once (slowest %lu ms)",
              (unsigned long)slowest);
    } else if (verb == "front") {  // the user clicks the main window; then OK closes the box
        SetForegroundWindow(mainWindow);
        Pump(300);
        HWND top = Topmost();
        char cls[64] = "";
        GetClassNameA(top, cls, sizeof cls);
        Check(top == scanBox, "the box stays in front of every window of the program (%s \"%s\", box ex-style %lx)",
              cls, Text(top).c_str(), GetWindowLongA(scanBox, GWL_EXSTYLE));
        PostMessageA(GetDlgItem(scanBox, IDOK), BM_CLICK, 0, 0);
        Check(Closed(scanBox, 5000), "OK closes it");
        HWND other = NewDialog("KivIFat", 1500);
        Check(!other, "no other message follows (\"%s\")", other ? Text(GetDlgItem(other, 0xFFFF)).c_str() : "");
    } else if (verb == "repaint") {  // then two messages sent: the second is handled only after the paint
        bool done = RedrawWindow(mainWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        for (int n = 0; n < 2; ++n)
            done = done && SendMessageTimeoutA(mainWindow, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
        Check(done, "the whole window is repainted");
    } else if (verb == "no-background") {
        const long differ = PictureDifferences(mainWindow, "KivNT.bmp");
        Check(IntroSize() && differ > 0, "no results background is drawn (%ld pixels differ from it)", differ);
    } else {
        return Check(false, "unknown step");
    }
    return true;
}

std::vector<std::string> Split(const std::string &line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

}  // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    const Scenario *run = nullptr;
    for (const Scenario &s : kScenarios)
        run = argc == 5 && s.name == std::string(argv[1]) ? &s : run;
    std::ifstream list(argc == 5 ? Dos(argv[4]) : "");
    if (!run || !list)
        return printf("usage: driver.exe SCENARIO APP-FOLDER OUT-FOLDER DRIVES-FILE (scenarios: see driver.cpp)\n"), 2;
    scenario = run->name, app = argv[2], out = argv[3];
    for (std::string line; std::getline(list, line);) {  // drive LETTER KIND FS LABEL IMAGE [PANEL-FILE]
        const std::vector<std::string> f = Split(line);
        drives.push_back({f.at(1)[0], f.at(2), f.at(3), f.at(4), f.at(5), {}});
        std::ifstream expect(Dos(f.size() > 6 ? f[6] : ""), std::ios::binary);
        for (std::string e; std::getline(expect, e);)
            drives.back().expect.push_back(Split(e));
    }
    const DWORD start = GetTickCount();
    quellix = TopWindow("Quellix", "Quellix Control Center", QuellixProc);
    bool ready = true;
    for (size_t i = 0; run->drives && i < drives.size(); ++i) {
        const Drive &d = drives[i];
        const std::string error = MapDrive(d.letter, d.image, d.kind == "floppy", d.fs, d.label);
        ready = Check(error.empty(), "map %c: (%s) %s", d.letter, d.kind.c_str(), error.c_str()) && ready;
    }
    for (size_t i = 0; ready && i < run->steps.size(); ++i) {
        const std::string step = run->steps[i], verb = step.substr(0, step.find(' '));
        printf("  %s\n", step.c_str());
        if (!Step(verb, step.size() > verb.size() ? step.substr(verb.size() + 1) : ""))
            break;
    }
    if (proc.hProcess)
        TerminateProcess(proc.hProcess, 99);  // when it still runs
    for (size_t i = 0; run->drives && i < drives.size(); ++i)
        UnmapDrive(drives[i].letter, true);
    printf("scenario %s: %s, %d failed checks, %.1f s\n", run->name, failures ? "FAILED" : "passed", failures,
           (GetTickCount() - start) / 1000.0);
    return failures ? 1 : 0;
}
