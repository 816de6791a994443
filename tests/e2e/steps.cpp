// Steps shared by the end-to-end scenarios: the program's folder, start,
// captures, dialogs, the menu, starting an analysis, and the comparison of
// the results panel with the values vantrel-scan found on the same image.
#include <cstdio>

#include "drives.h"
#include "scenarios.h"

namespace {

const COLORREF kValueColour = RGB(0, 0, 0x60);
const COLORREF kCurrentFileColour = RGB(0, 0, 0xBE);
const COLORREF kFieldGround = RGB(0xC0, 0xC0, 0xC0);
const int kPathField = 41;
const char kCompletionLine[] = "    FRAGMENTATION ANALYSIS COMPLETED    ";

HWND quellixWindow;

LRESULT CALLBACK QuellixProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        QuellixNotifications().push_back(Notification{wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

// "%7d" of the low 32 bits of a value, read as signed: the panel's numbers.
std::string Number7(unsigned long long value)
{
    char text[32];
    snprintf(text, sizeof text, "%7d", static_cast<int>(static_cast<uint32_t>(value)));
    return text;
}

// The 41-character path field: the end of a long path, a short one padded.
std::string PathField(const std::string &path)
{
    if (path.size() > static_cast<size_t>(kPathField))
        return path.substr(path.size() - kPathField);
    return path + std::string(kPathField - path.size(), ' ');
}

// Average extents per measured file, two decimals, in 32-bit arithmetic.
std::string Average(unsigned long long extents, unsigned long long files)
{
    const int hundredths = static_cast<int>(static_cast<uint32_t>(extents * 100)) / static_cast<int>(files);
    char text[32];
    snprintf(text, sizeof text, "%4d.%02d", hundredths / 100, hundredths % 100);
    return text;
}

struct Field {
    const char *name;
    int x, y;
    std::string text;
    COLORREF colour;
};

std::vector<Field> PanelFields(const Expected &e)
{
    const unsigned long long total = e.Number("total_space");
    const unsigned long long allocated = e.Number("allocated_bytes");
    return {
        {"drive", 318, 47, e.Text("drive"), kValueColour},
        {"total space", 234, 106, Number7(total / 1000), kValueColour},
        {"free space", 234, 126, Number7(e.Number("free_space_kb")), kValueColour},
        {"cluster size", 234, 146, Number7(e.Number("cluster_size")), kValueColour},
        {"files", 234, 186, Number7(e.Number("files")), kValueColour},
        {"allocated", 234, 206, Number7(allocated / 1000), kValueColour},
        {"allocated per cent", 234, 226, Number7(total ? allocated * 100 / total : 0), kValueColour},
        {"fragmented files", 234, 264, Number7(e.Number("fragmented_files")), kValueColour},
        {"total extents", 234, 284, Number7(e.Number("total_extents")), kValueColour},
        {"average extents", 234, 304, Average(e.Number("total_extents"), e.Number("measured_files")),
         kValueColour},
        {"largest size", 234, 342, Number7(e.Number("largest_size") / 1000), kValueColour},
        {"largest path", 28, 364, PathField(e.Text("largest_path")), kValueColour},
        {"smallest size", 234, 386, Number7(e.Number("smallest_size")), kValueColour},
        {"smallest path", 28, 407, PathField(e.Text("smallest_path")), kValueColour},
        {"most extents", 234, 428, Number7(e.Number("max_extents")), kValueColour},
        {"most extents path", 28, 450, PathField(e.Text("max_extents_path")), kValueColour},
        {"current file", 28, 485, PathField(kCompletionLine), kCurrentFileColour},
    };
}

}  // namespace

std::vector<Notification> &QuellixNotifications()
{
    static std::vector<Notification> received;
    return received;
}

bool MakeQuellixWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = QuellixProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "Quellix";
    RegisterClassA(&windowClass);
    quellixWindow = CreateWindowExA(0, "Quellix", "Quellix Control Center", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                    nullptr, GetModuleHandleA(nullptr), nullptr);
    QuellixNotifications().clear();
    return quellixWindow != nullptr;
}

void DestroyQuellixWindow()
{
    if (quellixWindow)
        DestroyWindow(quellixWindow);
    quellixWindow = nullptr;
}

std::string RunFolder(const Config &config, const std::string &name, const std::vector<std::string> &missing)
{
    const std::string folder = config.scratch + "/" + name;
    CreateDirectoryA(DosPath(folder).c_str(), nullptr);
    for (const char *picture : {"IntroFat.BMP", "KivNT.bmp", "Instruc.Bmp", "Promo.Bmp"}) {
        const std::string target = DosPath(folder + "/" + picture);
        bool wanted = true;
        for (const std::string &left : missing)
            wanted = wanted && left != picture;
        if (wanted)
            CopyFileA(config.AppFile(picture).c_str(), target.c_str(), FALSE);
        else
            DeleteFileA(target.c_str());
    }
    return folder;
}

bool StartApp(App &app, const Config &config, const std::string &folder)
{
    if (!app.Start(config, folder))
        return false;
    return Check(app.WaitMainWindow() != nullptr, "the main window (class KivIFat, title Vantrel) appears");
}

Image StableCapture(HWND window, DWORD milliseconds, bool painted)
{
    Image current, previous;
    WaitUntil(
        [&] {
            previous = current;
            current = CaptureClient(window);
            bool coloured = !painted;
            for (size_t index = 1; index < current.pixels.size() && !coloured; ++index)
                coloured = current.pixels[index] != current.pixels[0];
            return !current.Empty() && coloured && SameImage(current, previous);
        },
        milliseconds, 100);
    return current;
}

long PictureDifferences(HWND window, const Config &config, const char *file)
{
    const Image picture = LoadBitmapFile(config.AppFile(file));
    Image shown = CaptureClient(window);
    if (picture.Empty() || shown.Empty())
        return -1;
    // Controls drawn over the picture (the picture dialogs' OK button) are
    // left out: where they lie, the picture is taken as shown.
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        if (!IsWindowVisible(child) || !GetWindowRect(child, &rect))
            continue;
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&rect), 2);
        for (int y = rect.top < 0 ? 0 : rect.top; y < rect.bottom && y < shown.height && y < picture.height; ++y)
            for (int x = rect.left < 0 ? 0 : rect.left; x < rect.right && x < shown.width && x < picture.width; ++x)
                shown.pixels[static_cast<size_t>(y) * shown.width + x] = picture.At(x, y);
    }
    const int width = picture.width < shown.width ? picture.width : shown.width;
    const int height = picture.height < shown.height ? picture.height : shown.height;
    return CountDifferences(shown, 0, 0, picture.Crop(0, 0, width, height));
}

void CheckPicture(HWND window, const Config &config, const char *file, const char *what)
{
    // A window that has just opened may not be painted yet.
    long differences = -1;
    WaitUntil([&] { return (differences = PictureDifferences(window, config, file)) == 0; }, 3000, 50);
    Check(differences == 0, "%s shows %s from its top-left corner (%ld pixels differ)", what, file, differences);
}

bool CloseDialog(HWND dialog, const std::string &how)
{
    if (how == "ok")
        PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    else if (how == "enter")
        PressKey(dialog, VK_RETURN);
    else
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    return WaitUntil([dialog] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 5000);
}

void CheckEscapeKeepsOpen(HWND dialog, const char *what)
{
    PressKey(dialog, VK_ESCAPE);
    // A posted key is handled within a few milliseconds; 400 ms without the
    // dialog closing is taken as "Escape does nothing".
    const bool closed = WaitUntil([dialog] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 400);
    Check(!closed, "Escape leaves %s open", what);
}

void CheckMenu(const App &app, const Config &config, bool start, bool pause, bool resume, const std::string &shot)
{
    const std::vector<bool> states = ReadMenuStates(app, config, shot);
    const std::vector<bool> wanted = {start, pause, resume, true, true, true, true};
    auto describe = [](const std::vector<bool> &items) {
        std::string text;
        for (bool enabled : items)
            text += enabled ? "E" : "g";
        return text;
    };
    Check(states == wanted,
          "menu Select Disk, Pause, Continue, Reading the results, Order, About, Exit: %s (wanted %s; E enabled, "
          "g grayed)",
          describe(states).c_str(), describe(wanted).c_str());
}

HWND OpenDriveDialog(const App &app)
{
    app.Post(kStart);
    HWND dialog = app.WaitDialog("Open Volume");
    Check(dialog != nullptr, "Analysis > Select Disk opens the dialog \"Open Volume\"");
    // The list is filled while the dialog is created; it is read once shown.
    return dialog;
}

bool SelectDrive(HWND dialog, char letter)
{
    const std::vector<std::string> lines = ListLines(dialog);
    for (size_t index = 0; index < lines.size(); ++index)
        if (!lines[index].empty() && lines[index][0] == letter) {
            DWORD_PTR result = 0;
            SendMessageTimeoutA(GetDlgItem(dialog, kDriveList), LB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, 5000,
                                &result);
            return result == index;
        }
    return false;
}

HWND StartAnalysis(const App &app, char letter)
{
    HWND dialog = OpenDriveDialog(app);
    if (!dialog)
        return nullptr;
    if (!Check(SelectDrive(dialog, letter), "drive %c: is listed and selected", letter))
        return nullptr;
    // Start twice, as a double click does: the second command reaches the
    // dialog inside the first start's nested message loops and must start
    // nothing (a second scan would show in the panel and in a second
    // promotion dialog).
    const WPARAM start = MAKEWPARAM(kStartButton, BN_CLICKED);
    PostMessageA(dialog, WM_COMMAND, start, (LPARAM)GetDlgItem(dialog, kStartButton));
    PostMessageA(dialog, WM_COMMAND, start, (LPARAM)GetDlgItem(dialog, kStartButton));
    HWND instructions = app.WaitDialog("Vantrel", 10000);
    if (!Check(instructions != nullptr, "Start opens the instructions dialog"))
        NoteWindows(app);
    Check(!IsWindow(dialog) || !IsWindowVisible(dialog), "the drive dialog is gone after Start");
    return instructions;
}

DWORD AnalysisMilliseconds(const DriveSpec &drive)
{
    // 50 ms per file by design, twice over, plus start and end.
    return static_cast<DWORD>(drive.expected.Number("files") * 100 + 15000);
}

HWND WaitNewPictureDialog(const App &app, const std::vector<HWND> &known, DWORD milliseconds)
{
    return app.WaitDialog("Vantrel", milliseconds, known);
}

bool ShowsCurrentFile(const Image &capture, const DriveSpec &drive)
{
    for (const auto &entry : drive.expected.values) {
        if (entry.first.compare(0, 5, "file.") != 0)
            continue;
        const Image drawn = RenderText(PathField(entry.second), kCurrentFileColour, kFieldGround);
        if (CountDifferences(capture, 28, 485, drawn) == 0)
            return true;
    }
    return false;
}

bool CheckPanel(const App &app, const Config &config, const DriveSpec &drive, DWORD milliseconds,
                const std::string &shot)
{
    const std::vector<Field> fields = PanelFields(drive.expected);
    std::vector<Image> drawn;
    for (const Field &field : fields)
        drawn.push_back(RenderText(field.text, field.colour, kFieldGround));
    Image capture;
    std::vector<long> differences(fields.size());
    const bool matched = WaitUntil(
        [&] {
            capture = CaptureClient(app.Main());
            bool all = !capture.Empty();
            for (size_t index = 0; index < fields.size(); ++index) {
                differences[index] = CountDifferences(capture, fields[index].x, fields[index].y, drawn[index]);
                all = all && differences[index] == 0;
            }
            return all;
        },
        milliseconds, 100);
    const std::string path = SaveShot(config, capture, shot);
    Check(matched, "panel of drive %c: matches vantrel-scan's values pixel for pixel (%s)", drive.letter,
          path.c_str());
    if (!matched)
        for (size_t index = 0; index < fields.size(); ++index)
            if (differences[index] != 0)
                Note("field %-18s at (%3d,%3d) \"%s\": %ld pixels differ", fields[index].name, fields[index].x,
                     fields[index].y, fields[index].text.c_str(), differences[index]);
    return matched;
}
