#include "tests/program_driver.h"

#include "preview/canvas.h"

#include <algorithm>
#include <cstdlib>

namespace {

// Owners of the GDI objects that reading the screen needs.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC()
    {
        if (dc_ != nullptr) ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// A memory device context or a GDI object, deleted at scope end.
template <typename Handle, BOOL(WINAPI* release)(Handle)>
class GdiOwner {
public:
    explicit GdiOwner(Handle handle) : handle_(handle) {}
    ~GdiOwner()
    {
        if (handle_ != nullptr) release(handle_);
    }
    GdiOwner(const GdiOwner&) = delete;
    GdiOwner& operator=(const GdiOwner&) = delete;
    Handle get() const { return handle_; }

private:
    Handle handle_;
};
using MemoryDC = GdiOwner<HDC, DeleteDC>;
using GdiObject = GdiOwner<HGDIOBJ, DeleteObject>;

// Keeps `object` selected into `dc` for its lifetime.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selection()
    {
        if (previous_ != nullptr) SelectObject(dc_, previous_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

uint32_t rgbOf(COLORREF colour)
{
    return static_cast<uint32_t>(GetRValue(colour)) << 16 | static_cast<uint32_t>(GetGValue(colour)) << 8 |
           GetBValue(colour);
}

}  // namespace

int removeTree(const std::string& directory)
{
    int files = 0;
    WIN32_FIND_DATAA entry;
    if (const SearchHandle search{FindFirstFileA((directory + "\\*").c_str(), &entry)}) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = directory + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                files += removeTree(path);
                continue;
            }
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
            ++files;
        } while (FindNextFileA(search.get(), &entry));
    }
    SetFileAttributesA(directory.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(directory.c_str());
    return files;
}

std::string windowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/') return path;
    std::string converted = "Z:" + path;
    std::replace(converted.begin(), converted.end(), '/', '\\');
    return converted;
}

bool waitUntil(const std::function<bool()>& done, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds) return done();
        Sleep(50);
    }
    return true;
}

RunningProgram::RunningProgram(const std::string& program, const std::string& folder)
{
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &info))
        return;
    KernelHandle thread(info.hThread);
    process_.reset(info.hProcess);
    id_ = info.dwProcessId;
}

RunningProgram::~RunningProgram()
{
    if (!running()) return;
    if (HWND dialog = findDialog(programTitle, id_)) closeDialog(dialog, 20000);
    if (waitForExit(20000)) return;
    TerminateProcess(process_.get(), 1);
    waitForExit();
}

bool RunningProgram::running() const
{
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> RunningProgram::waitForExit(DWORD milliseconds) const
{
    if (!process_ || WaitForSingleObject(process_.get(), milliseconds) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
    return code;
}

HWND findDialog(const char* title, DWORD processId)
{
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, dialogClass, title)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (processId == 0 || owner == processId) return window;
    }
    return nullptr;
}

HWND waitForMainDialog(DWORD processId, DWORD milliseconds)
{
    HWND dialog = nullptr;
    waitUntil([&] { return (dialog = findDialog(programTitle, processId)) != nullptr && IsWindowVisible(dialog); },
              milliseconds);
    return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

HWND waitForMessageBox(const char* title, DWORD processId, DWORD milliseconds)
{
    HWND box = nullptr;
    waitUntil([&] { return (box = findDialog(title, processId)) != nullptr; }, milliseconds);
    return box;
}

bool answerMessageBox(HWND box, int answer, DWORD milliseconds)
{
    PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
    return waitUntil([&] { return !IsWindow(box); }, milliseconds);
}

std::string itemText(HWND dialog, int id)
{
    char text[1100] = "";
    SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

void setItemText(HWND dialog, int id, const std::string& text)
{
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void pressButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

ScreenArea readClientArea(HWND dialog, int x, int y, int width, int height)
{
    ScreenArea area;
    const WindowDC window(dialog);
    if (window.get() == nullptr) return area;
    const MemoryDC memory(CreateCompatibleDC(window.get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const GdiObject bitmap(CreateDIBSection(window.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (memory.get() == nullptr || bitmap.get() == nullptr) return area;
    {
        const Selection selected(memory.get(), bitmap.get());
        if (!BitBlt(memory.get(), 0, 0, width, height, window.get(), x, y, SRCCOPY)) return area;
    }
    GdiFlush();
    const auto* rows = static_cast<const uint32_t*>(bits);
    area.width = width;
    area.height = height;
    area.pixels.reserve(static_cast<std::size_t>(width) * height);
    for (std::size_t index = 0; index < static_cast<std::size_t>(width) * height; ++index)
        area.pixels.push_back(rows[index] & 0xFFFFFF);
    return area;
}

bool closeColours(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift <= 16; shift += 8) {
        const int difference = static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF);
        if (std::abs(difference) > tolerance) return false;
    }
    return true;
}

bool showsPicture(const ScreenArea& area, double share)
{
    if (area.pixels.empty()) return false;
    const uint32_t face = rgbOf(GetSysColor(COLOR_BTNFACE));
    const auto plain = std::count_if(area.pixels.begin(), area.pixels.end(), [&](uint32_t colour) {
        return closeColours(colour, 0xFFFFFF, 8) || closeColours(colour, face, 8);
    });
    return static_cast<double>(area.pixels.size() - static_cast<std::size_t>(plain)) > share * area.pixels.size();
}

ScreenArea sourcePaneOnScreen(HWND dialog)
{
    return readClientArea(dialog, sourcePane.x, sourcePane.y, paneWidth, paneHeight);
}

ScreenArea targetPaneOnScreen(HWND dialog)
{
    return readClientArea(dialog, targetPane.x, targetPane.y, paneWidth, paneHeight);
}

bool previewShown(HWND dialog, double share)
{
    return showsPicture(sourcePaneOnScreen(dialog), share) && showsPicture(targetPaneOnScreen(dialog), share);
}

bool waitForPreview(HWND dialog, DWORD milliseconds, double share)
{
    return waitUntil([&] { return previewShown(dialog, share); }, milliseconds);
}

bool closeDialog(HWND dialog, DWORD milliseconds)
{
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return waitUntil([&] { return !IsWindow(dialog); }, milliseconds);
}
