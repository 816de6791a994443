// The end-to-end driver's toolkit (see harness.h). Everything here talks to
// the program under test from outside: process creation, window lookup,
// posted and sent messages, screen captures and reads of its memory.
#include "harness.h"

#include <winternl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "drives.h"

namespace {

int failures;

std::vector<std::string> SplitTabs(const std::string &line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    return fields;
}

bool ReadExpected(const std::string &hostPath, Expected &expected)
{
    std::ifstream in(DosPath(hostPath), std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            expected.values[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return !expected.values.empty();
}

DWORD WindowPid(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct DialogSearch {
    DWORD pid;
    const char *className;
    const char *title;  // nullptr: any
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    DialogSearch &search = *reinterpret_cast<DialogSearch *>(parameter);
    if (!IsWindowVisible(window) || (search.pid && WindowPid(window) != search.pid) ||
        ClassOf(window) != search.className)
        return TRUE;
    if (search.title && WindowText(window) != search.title)
        return TRUE;
    search.found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleWindows(DWORD pid, const char *className, const char *title)
{
    DialogSearch search = {pid, className, title, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CountClass(HWND window, LPARAM parameter)
{
    auto &search = *reinterpret_cast<std::pair<const char *, int> *>(parameter);
    if (ClassOf(window) == search.first)
        ++search.second;
    return TRUE;
}

bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

const std::string &Expected::Text(const std::string &key) const
{
    static const std::string none;
    const auto found = values.find(key);
    if (found == values.end()) {
        Check(false, "expected value '%s' missing", key.c_str());
        return none;
    }
    return found->second;
}

unsigned long long Expected::Number(const std::string &key) const
{
    return strtoull(Text(key).c_str(), nullptr, 10);
}

const DriveSpec *Config::Drive(char letter) const
{
    for (const DriveSpec &drive : drives)
        if (drive.letter == letter)
            return &drive;
    return nullptr;
}

std::string Config::AppFile(const char *name) const
{
    return DosPath(app + "/" + name);
}

bool LoadConfig(const std::string &path, Config &config, std::string &error)
{
    std::ifstream in(DosPath(path));
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = SplitTabs(line);
        if (fields.empty() || fields[0].empty() || fields[0][0] == '#')
            continue;
        const std::string &key = fields[0];
        if (key == "app" && fields.size() == 2) {
            config.app = fields[1];
        } else if (key == "scratch" && fields.size() == 2) {
            config.scratch = fields[1];
        } else if (key == "shots" && fields.size() == 2) {
            config.shots = fields[1];
        } else if (key == "map" && fields.size() == 2) {
            config.mapDrives = fields[1] == "yes";
        } else if (key == "drive" && (fields.size() == 6 || fields.size() == 7) && fields[1].size() == 1) {
            DriveSpec drive;
            drive.letter = fields[1][0];
            drive.kind = fields[2];
            drive.fileSystem = fields[3];
            drive.label = fields[4];
            drive.image = fields[5];
            if (fields.size() == 7 && !ReadExpected(fields[6], drive.expected)) {
                error = "cannot read " + fields[6];
                return false;
            }
            config.drives.push_back(drive);
        } else {
            error = "bad settings line: " + line;
            return false;
        }
    }
    if (config.app.empty() || config.scratch.empty() || config.shots.empty()) {
        error = "settings need app, scratch and shots";
        return false;
    }
    return true;
}

void Note(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    printf("  ");
    vprintf(format, arguments);
    printf("\n");
    va_end(arguments);
    fflush(stdout);
}

bool Check(bool condition, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    printf(condition ? "  ok    " : "  FAIL  ");
    vprintf(format, arguments);
    printf("\n");
    va_end(arguments);
    fflush(stdout);
    if (!condition)
        ++failures;
    return condition;
}

int Failures()
{
    return failures;
}

void Pump(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const DWORD waited = GetTickCount() - start;
        if (waited >= milliseconds)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - waited, QS_ALLINPUT);
    }
}

bool WaitUntil(const std::function<bool()> &done, DWORD milliseconds, DWORD pollMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start >= milliseconds)
            return done();
        Pump(pollMs);
    }
}

App::~App()
{
    Kill();
}

bool App::Start(const Config &config, const std::string &folder)
{
    Kill();
    std::string exe = config.AppFile("Vantrel.exe");
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        DosPath(folder).c_str(), &startup, &info)) {
        Check(false, "start %s in %s (error %lu)", exe.c_str(), folder.c_str(), GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    main_ = nullptr;
    return true;
}

HWND App::WaitMainWindow(DWORD milliseconds)
{
    WaitUntil(
        [this] {
            HWND window = FindWindowA("KivIFat", "Vantrel");
            if (window && WindowPid(window) == pid_ && IsWindowVisible(window))
                main_ = window;
            return main_ != nullptr;
        },
        milliseconds);
    return main_;
}

bool App::WaitExit(DWORD milliseconds, DWORD *code)
{
    if (!process_)
        return true;
    const bool ended = WaitUntil([this] { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; },
                                 milliseconds);
    if (ended && code)
        GetExitCodeProcess(process_, code);
    return ended;
}

void App::Kill()
{
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
    main_ = nullptr;
}

HWND App::FindDialog(const char *title, const std::vector<HWND> &skip) const
{
    for (HWND window : VisibleWindows(pid_, "#32770", title)) {
        bool skipped = false;
        for (HWND other : skip)
            skipped = skipped || other == window;
        if (!skipped)
            return window;
    }
    return nullptr;
}

std::vector<HWND> App::Dialogs(const char *title) const
{
    return VisibleWindows(pid_, "#32770", title);
}

HWND App::WaitDialog(const char *title, DWORD milliseconds, const std::vector<HWND> &skip) const
{
    HWND dialog = nullptr;
    WaitUntil([&] { return (dialog = FindDialog(title, skip)) != nullptr; }, milliseconds);
    return dialog;
}

void App::Post(int command) const
{
    PostMessageA(main_, WM_COMMAND, static_cast<WPARAM>(command), 0);
}

void NoteWindows(const App &app)
{
    struct Listing {
        DWORD pid;
        std::string text;
    } listing = {app.Pid(), ""};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            Listing &list = *reinterpret_cast<Listing *>(parameter);
            if (WindowPid(window) != list.pid)
                return TRUE;
            list.text += "\n      " + ClassOf(window) + " \"" + WindowText(window) + "\"" +
                         (IsWindowVisible(window) ? " visible" : " hidden");
            const std::string message = WindowText(GetDlgItem(window, 0xFFFF));
            if (!message.empty())
                list.text += ": \"" + message + "\"";
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&listing));
    Note("windows of the program:%s", listing.text.empty() ? " none" : listing.text.c_str());
}

int CountWindows(const char *className)
{
    std::pair<const char *, int> search(className, 0);
    EnumWindows(CountClass, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

std::string WindowText(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

SIZE WindowSize(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void ClickButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressKey(HWND window, UINT key)
{
    const UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
    PostMessageA(window, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageA(window, WM_KEYUP, key, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

HWND WaitMessageBox(const App &app, DWORD milliseconds, std::string *text)
{
    HWND box = app.WaitDialog("KivIFat", milliseconds);
    if (box && text)
        *text = WindowText(GetDlgItem(box, 0xFFFF));
    return box;
}

std::vector<std::string> ListLines(HWND dialog)
{
    // Read as Unicode and converted here: under Wine an ANSI LB_GETTEXT sent
    // to another process comes back as the list box's Unicode text.
    std::vector<std::string> lines;
    HWND list = GetDlgItem(dialog, kDriveList);
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count) ||
        count == static_cast<DWORD_PTR>(LB_ERR))
        return lines;
    for (DWORD_PTR index = 0; index < count; ++index) {
        WCHAR line[512] = L"";
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, LB_GETTEXTLEN, index, 0, SMTO_ABORTIFHUNG, 5000, &length);
        if (length >= sizeof line / sizeof line[0]) {
            lines.push_back("(line too long)");
            continue;
        }
        SendMessageTimeoutW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(line), SMTO_ABORTIFHUNG, 5000,
                            &length);
        char narrow[1024] = "";
        WideCharToMultiByte(CP_ACP, 0, line, -1, narrow, sizeof narrow, nullptr, nullptr);
        lines.push_back(narrow);
    }
    return lines;
}

std::string SaveShot(const Config &config, const Image &image, const std::string &name)
{
    const std::string path = config.shots + "/" + name + ".png";
    if (!WritePng(image, DosPath(path)))
        Check(false, "write screenshot %s", path.c_str());
    return path;
}

int SettledCount(const std::function<int()> &count, int expected)
{
    int last = count();
    WaitUntil([&] { return (last = count()) == expected; }, 2000);
    return last;
}

int CountPalettes(HANDLE process)
{
    // Wine keeps each process's GDI handle table (the one the PEB points to)
    // in that process's memory; an entry of a live object has its type in
    // byte 14 (palettes: 8) and a stock flag in bit 7 of byte 12.
    if (!UnderWine())
        return -1;
    typedef NTSTATUS(NTAPI * QueryFn)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG length = 0;
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, &length) != 0)
        return -1;
    ULONGLONG table = 0;
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<BYTE *>(basic.PebBaseAddress) + 0xF8, &table, sizeof table,
                           &read) ||
        !table)
        return -1;
    const size_t entries = 0x10000, entrySize = 24;
    std::vector<BYTE> copy(entries * entrySize);
    if (!ReadProcessMemory(process, reinterpret_cast<void *>(table), copy.data(), copy.size(), &read) ||
        read != copy.size())
        return -1;
    int palettes = 0;
    for (size_t index = 0; index < entries; ++index) {
        const BYTE *entry = &copy[index * entrySize];
        if ((entry[14] & 0x1F) == 0x08 && !(entry[12] & 0x80))
            ++palettes;
    }
    return palettes;
}

std::vector<bool> ReadMenuStates(const App &app, const Config &config, const std::string &shotName)
{
    std::vector<bool> states;
    // Alt+A: the Analysis menu opens with its first item selected.
    PostMessageA(app.Main(), WM_SYSCOMMAND, SC_KEYMENU, 'a');
    HWND popup = nullptr;
    WaitUntil(
        [&] {
            const std::vector<HWND> popups = VisibleWindows(app.Pid(), "#32768", nullptr);
            popup = popups.empty() ? nullptr : popups[0];
            return popup != nullptr;
        },
        5000);
    if (!Check(popup != nullptr, "the Analysis menu opens"))
        return states;
    // Drawn once it shows more than its background and stops changing.
    Image menu, previous;
    WaitUntil(
        [&] {
            previous = menu;
            menu = CaptureClient(popup);
            bool drawn = false;
            for (size_t index = 1; index < menu.pixels.size() && !drawn; ++index)
                drawn = menu.pixels[index] != menu.pixels[0];
            return drawn && SameImage(menu, previous);
        },
        3000, 100);
    SaveShot(config, menu, shotName);
    PostMessageA(app.Main(), WM_CANCELMODE, 0, 0);
    if (!WaitUntil([&] { return !IsWindowVisible(popup); }, 3000)) {
        PressKey(app.Main(), VK_ESCAPE);
        PressKey(app.Main(), VK_ESCAPE);
        WaitUntil([&] { return !IsWindowVisible(popup); }, 3000);
    }
    Check(!IsWindowVisible(popup), "the Analysis menu closes again");

    // Rows of text: runs of at least 5 rows that differ from the menu's
    // background (separators and underlines are thinner).
    std::map<uint32_t, long> census;
    for (uint32_t pixel : menu.pixels)
        ++census[pixel];
    uint32_t ground = 0;
    long most = -1;
    for (const auto &entry : census)
        if (entry.second > most) {
            most = entry.second;
            ground = entry.first;
        }
    const uint32_t text = GetSysColor(COLOR_MENUTEXT), highlight = GetSysColor(COLOR_HIGHLIGHT),
                   highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    const int margin = 4;
    int bandStart = -1;
    for (int y = margin; y <= menu.height - margin; ++y) {
        bool inked = false;
        if (y < menu.height - margin)
            for (int x = margin; x < menu.width - margin && !inked; ++x)
                inked = menu.At(x, y) != ground;
        if (inked && bandStart < 0)
            bandStart = y;
        if (!inked && bandStart >= 0) {
            if (y - bandStart >= 5) {
                // A selected item is drawn on the highlight colour; an
                // enabled item's text is in the (highlight) text colour,
                // a grayed item's is not.
                const Image band = menu.Crop(margin, bandStart, menu.width - 2 * margin, y - bandStart);
                bool selected = false, enabled = false;
                for (uint32_t pixel : band.pixels)
                    selected = selected || pixel == highlight;
                for (uint32_t pixel : band.pixels)
                    enabled = enabled || pixel == (selected ? highlightText : text);
                states.push_back(enabled);
            }
            bandStart = -1;
        }
    }
    return states;
}
