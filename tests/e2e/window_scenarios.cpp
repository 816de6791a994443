// Scenarios of the main window and the information dialogs: start-up with and
// without pictures, a second copy, the menu's initial states, the About,
// instructions and promotion dialogs, their pictures and palettes, and the
// exit notification to the Quellix control window.
#include "scenarios.h"

#include <psapi.h>

#include "drives.h"

namespace {

INT_PTR CALLBACK ReferenceDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// Window size of a dialog made by the driver from Vantrel.exe's own template
// `name`, with nothing done to it at initialisation.
SIZE TemplateDialogSize(const Config &config, const char *name)
{
    SIZE size = {0, 0};
    HMODULE module = LoadLibraryExA(config.AppFile("Vantrel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return size;
    HWND dialog = CreateDialogParamA(module, name, nullptr, ReferenceDialogProc, 0);
    if (dialog) {
        size = WindowSize(dialog);
        DestroyWindow(dialog);
    }
    FreeLibrary(module);
    return size;
}

bool VisibleMainWindowOf(DWORD pid)
{
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "KivIFat", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == pid && IsWindowVisible(window))
            return true;
    }
    return false;
}

SIZE PictureSize(const Config &config, const char *file)
{
    const Image picture = LoadBitmapFile(config.AppFile(file));
    return SIZE{picture.width, picture.height};
}

SIZE_T PagefileUsage(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return 0;
    return counters.PagefileUsage;
}

// Opens a picture dialog from the menu and closes it again with `how`.
bool PictureDialogRound(const App &app, int command, const std::string &how, int *palettesWhileOpen)
{
    app.Post(command);
    HWND dialog = app.WaitDialog("Vantrel");
    if (!dialog)
        return false;
    if (palettesWhileOpen)
        *palettesWhileOpen = CountPalettes(app.Process());  // handed over before the dialog shows
    return CloseDialog(dialog, how);
}

}  // namespace

int ScenarioWindow(const Config &config)
{
    App app;
    const std::string folder = RunFolder(config, "window", {});
    if (!StartApp(app, config, folder))
        return 1;
    HWND main = app.Main();
    char className[64] = "";
    GetClassNameA(main, className, sizeof className);
    Check(std::string(className) == "KivIFat" && WindowText(main) == "Vantrel",
          "window class \"%s\", title \"%s\"", className, WindowText(main).c_str());
    const SIZE picture = PictureSize(config, "IntroFat.BMP");
    const SIZE window = WindowSize(main);
    Check(window.cx == picture.cx + 2 && window.cy == picture.cy + 40,
          "window %ld x %ld for the %ld x %ld intro picture (wanted %ld x %ld)", window.cx, window.cy, picture.cx,
          picture.cy, picture.cx + 2, picture.cy + 40);
    CheckPicture(main, config, "IntroFat.BMP", "the client area");
    Note("screenshot %s", SaveShot(config, CaptureClient(main), "window-intro").c_str());
    CheckMenu(app, config, true, false, false, "window-menu");

    // A second copy ends at once, silently, and leaves the first alone.
    App second;
    if (second.Start(config, folder)) {
        int mostWindows = 0;
        DWORD code = 1;
        const bool ended = WaitUntil(
            [&] {
                const int windows = CountWindows("KivIFat");
                mostWindows = windows > mostWindows ? windows : mostWindows;
                return WaitForSingleObject(second.Process(), 0) == WAIT_OBJECT_0;
            },
            10000, 5);
        second.WaitExit(0, &code);
        Check(ended && code == 0, "a second copy ends by itself with exit code 0 (ended %d, code %lu)", ended,
              code);
        Check(mostWindows == 1, "only one KivIFat window exists meanwhile (%d seen)", mostWindows);
        Check(app.WaitExit(0) == false && IsWindowVisible(main), "the first copy keeps running");
    }

    // The close box ends the program without telling Quellix.
    QuellixNotifications().clear();
    PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 1;
    const bool ended = app.WaitExit(10000, &code);
    Check(ended && code == 0, "the close box ends the program (exit code %lu)", code);
    Pump(300);
    Check(QuellixNotifications().empty(), "closing through the close box sends Quellix nothing");
    return 0;
}

int ScenarioNoIntro(const Config &config)
{
    App app;
    if (!app.Start(config, RunFolder(config, "no-intro", {"IntroFat.BMP"})))
        return 1;
    bool shown = false;
    const bool ended = WaitUntil(
        [&] {
            shown = shown || VisibleMainWindowOf(app.Pid());
            return WaitForSingleObject(app.Process(), 0) == WAIT_OBJECT_0;
        },
        15000, 5);
    DWORD code = 1;
    app.WaitExit(0, &code);
    Check(ended, "without IntroFat.BMP the program ends by itself");
    Check(!shown, "no window was shown");
    Check(code == 0, "exit code 0 (%lu)", code);
    return 0;
}

int ScenarioDialogs(const Config &config)
{
    App app;
    if (!StartApp(app, config, RunFolder(config, "dialogs", {})))
        return 1;
    const char *closers[] = {"ok", "enter", "close"};
    const char *closerNames[] = {"OK", "Enter", "the close box"};

    for (int round = 0; round < 3; ++round) {
        app.Post(kAbout);
        HWND about = app.WaitDialog("About Vantrel");
        if (!Check(about != nullptr, "About opens the dialog \"About Vantrel\""))
            break;
        if (round == 0) {
            const std::string shot = SaveShot(config, StableCapture(about, 3000, true), "dialog-about");
            Check(WindowText(GetDlgItem(about, 300)) == "Vantrel for Windows NT(TM), Version 1.03",
                  "About shows \"%s\" (%s)", WindowText(GetDlgItem(about, 300)).c_str(), shot.c_str());
        }
        CheckEscapeKeepsOpen(about, "About");
        Check(CloseDialog(about, closers[round]), "%s closes About", closerNames[round]);
    }

    struct PictureDialog {
        int command;
        const char *file;
        const char *name;
        const char *shot;
    } dialogs[] = {{kInstruc, "Instruc.Bmp", "the instructions dialog", "dialog-instructions"},
                   {kOrder, "Promo.Bmp", "the promotion dialog", "dialog-promotion"}};
    for (const PictureDialog &kind : dialogs) {
        const SIZE picture = PictureSize(config, kind.file);
        for (int round = 0; round < 3; ++round) {
            app.Post(kind.command);
            HWND dialog = app.WaitDialog("Vantrel");
            if (!Check(dialog != nullptr, "the menu opens %s (a dialog titled Vantrel)", kind.name))
                break;
            if (round == 0) {
                const SIZE size = WindowSize(dialog);
                Check(size.cx == picture.cx + 2 && size.cy == picture.cy + 43,
                      "%s is %ld x %ld for its %ld x %ld picture (wanted %ld x %ld)", kind.name, size.cx, size.cy,
                      picture.cx, picture.cy, picture.cx + 2, picture.cy + 43);
                CheckPicture(dialog, config, kind.file, kind.name);
                Note("screenshot %s", SaveShot(config, CaptureClient(dialog), kind.shot).c_str());
            }
            CheckEscapeKeepsOpen(dialog, kind.name);
            Check(CloseDialog(dialog, closers[round]), "%s closes %s", closerNames[round], kind.name);
        }
    }
    CheckPicture(app.Main(), config, "IntroFat.BMP", "the main window still");
    app.Post(kExit);
    Check(app.WaitExit(10000), "Exit ends the program");
    return 0;
}

int ScenarioNoInstruc(const Config &config)
{
    App app;
    if (!StartApp(app, config, RunFolder(config, "no-instruc", {"Instruc.Bmp"})))
        return 1;
    const int palettes = CountPalettes(app.Process());
    app.Post(kInstruc);
    HWND dialog = app.WaitDialog("Vantrel");
    if (Check(dialog != nullptr, "Reading the results opens a dialog without Instruc.Bmp")) {
        const SIZE size = WindowSize(dialog), wanted = TemplateDialogSize(config, "Instruc");
        Check(wanted.cx > 0 && size.cx == wanted.cx && size.cy == wanted.cy,
              "it keeps its template size, 144 x 75 dialog units (%ld x %ld, template %ld x %ld)", size.cx, size.cy,
              wanted.cx, wanted.cy);
        Pump(300);  // time to paint whatever it would paint
        const Image shown = StableCapture(dialog);
        const std::string shot = SaveShot(config, shown, "no-instruc-dialog");
        bool blank = !shown.Empty();
        for (uint32_t pixel : shown.pixels)
            blank = blank && pixel == shown.pixels[0];
        Check(blank, "it shows nothing, its OK button out of view (%s)", shot.c_str());
        CheckEscapeKeepsOpen(dialog, "the empty dialog");
        Check(CloseDialog(dialog, "close"), "the close box closes it");
    }
    CheckPicture(app.Main(), config, "IntroFat.BMP", "the main window still");
    // The other picture dialog is not affected.
    app.Post(kOrder);
    HWND promotion = app.WaitDialog("Vantrel");
    if (Check(promotion != nullptr, "Order Quellix still opens its dialog")) {
        CheckPicture(promotion, config, "Promo.Bmp", "the promotion dialog");
        CloseDialog(promotion, "ok");
    }
    if (palettes >= 0) {
        const int left = SettledCount([&app] { return CountPalettes(app.Process()); }, palettes);
        Check(left == palettes, "no palette left behind (%d, %d at start)", left, palettes);
    }
    app.Post(kExit);
    Check(app.WaitExit(10000), "Exit ends the program");
    return 0;
}

int ScenarioPalettes(const Config &config)
{
    App app;
    if (!StartApp(app, config, RunFolder(config, "palettes", {})))
        return 1;
    StableCapture(app.Main());
    const int base = CountPalettes(app.Process());
    if (base < 0) {
        // Outside Wine the process's GDI object count stands in.
        Note("palettes cannot be counted here; counting all GDI objects");
    } else {
        Check(base == 1, "at start the program holds one palette, the intro picture's (%d)", base);
    }
    auto objects = [&app, base] {
        return base >= 0 ? CountPalettes(app.Process())
                         : static_cast<int>(GetGuiResources(app.Process(), GR_GDIOBJECTS));
    };
    const int before = objects();
    const char *closers[] = {"ok", "enter", "close"};
    // Two rounds to settle whatever the first opening allocates once.
    for (int round = 0; round < 2; ++round) {
        PictureDialogRound(app, kInstruc, "ok", nullptr);
        PictureDialogRound(app, kOrder, "ok", nullptr);
    }
    const SIZE_T memoryBefore = PagefileUsage(app.Process());
    const int rounds = 12;
    bool all = true;
    int whileOpen = -1;
    for (int round = 0; round < rounds && all; ++round) {
        all = PictureDialogRound(app, kInstruc, closers[round % 3], round == 0 ? &whileOpen : nullptr) &&
              PictureDialogRound(app, kOrder, closers[(round + 1) % 3], nullptr);
    }
    Check(all, "the picture dialogs opened and closed %d times each", rounds);
    if (base >= 0)
        Check(whileOpen == base + 1, "an open picture dialog holds one palette more (%d)", whileOpen);
    const int after = SettledCount(objects, before);
    Check(after == before, "no palette (or other GDI object) left behind: %d before, %d after", before, after);
    const SIZE_T memoryAfter = PagefileUsage(app.Process());
    // Each picture is about 200 KB; 24 pictures not released would add ~4.8 MB.
    const long long growth = static_cast<long long>(memoryAfter) - static_cast<long long>(memoryBefore);
    Check(memoryBefore != 0 && growth < 1200 * 1024, "no picture left behind: memory grew by %lld KB over %d openings",
          growth / 1024, 2 * rounds);
    CheckPicture(app.Main(), config, "IntroFat.BMP", "the main window still");
    app.Post(kExit);
    Check(app.WaitExit(10000), "Exit ends the program");
    return 0;
}

int ScenarioExit(const Config &config)
{
    const std::string folder = RunFolder(config, "exit", {});
    {
        // Without a Quellix control window the notification goes nowhere.
        DestroyQuellixWindow();
        App app;
        if (!StartApp(app, config, folder))
            return 1;
        app.Post(kExit);
        bool boxShown = false;
        const bool ended = WaitUntil(
            [&] {
                boxShown = boxShown || app.FindDialog("KivIFat") != nullptr;
                return WaitForSingleObject(app.Process(), 0) == WAIT_OBJECT_0;
            },
            10000);
        Check(ended && !boxShown, "without a Quellix window, Exit ends the program without a message");
    }
    {
        MakeQuellixWindow();
        App app;
        if (!StartApp(app, config, folder))
            return 1;
        app.Post(kExit);
        Check(app.WaitExit(10000), "Exit ends the program");
        WaitUntil([] { return !QuellixNotifications().empty(); }, 3000);
        Pump(200);
        const std::vector<Notification> &received = QuellixNotifications();
        Check(received.size() == 1 && received[0].command == kNotifyDrive && received[0].parameter == 0,
              "Quellix receives command 1305 with parameter 0 before any analysis (%zu commands; first %lu, %ld)",
              received.size(), received.empty() ? 0ul : static_cast<unsigned long>(received[0].command),
              received.empty() ? 0l : static_cast<long>(received[0].parameter));
    }
    return 0;
}
