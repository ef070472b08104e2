#include "tests/support.h"

#include "app/dialog_helpers.h"
#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "preview/canvas.h"
#include "tests/program_driver.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

using namespace imaging;

namespace {

class ImagingEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
    }
    void TearDown() override { GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};

const auto* const imagingEnvironment = ::testing::AddGlobalTestEnvironment(new ImagingEnvironment);

}  // namespace

TempDir::TempDir()
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%sinkveil-%lu-%u", base, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            return;
        }
    }
}

TempDir::~TempDir() { removeTree(path_); }

CurrentDirectory::CurrentDirectory(const std::string& directory)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    previous_ = previous;
    SetCurrentDirectoryA(directory.c_str());
}

CurrentDirectory::~CurrentDirectory() { SetCurrentDirectoryA(previous_.c_str()); }

std::vector<unsigned char> readFile(const std::wstring& path)
{
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<unsigned char> bytes;
    if (!file) return bytes;
    bytes.resize(GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

std::vector<unsigned char> readFile(const std::string& path) { return readFile(wideText(path)); }

void writeFile(const std::wstring& path, const std::vector<unsigned char>& bytes)
{
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << ansiText(path);
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ASSERT_EQ(written, bytes.size());
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) { writeFile(wideText(path), bytes); }

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool fileExists(const std::string& path) { return fileExists(wideText(path)); }

void PrintTo(Outcome outcome, std::ostream* out)
{
    static const char* const names[] = {"done", "damaged", "incomplete", "unreadable", "notPicture",
                                        "tooLarge", "noTargetSize", "outOfMemory", "diskFull", "notWritten",
                                        "noEncoder", "nameTooLong", "nameTaken", "cancelled"};
    static_assert(std::size(names) == static_cast<std::size_t>(Outcome::cancelled) + 1);
    *out << names[static_cast<std::size_t>(outcome)];
}

bool cutOnHost(const std::string& path, std::size_t size)
{
    using UnixName = char*(CDECL*)(const WCHAR*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) return false;
    char* name = unixName(toWide(path));
    if (name == nullptr) return false;
    // Wine hands a Unix program its command line split at spaces, quotes and all.
    std::string command = "/usr/bin/truncate -s " + std::to_string(size) + " " + name;
    HeapFree(GetProcessHeap(), 0, name);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    const KernelHandle processHandle(process.hProcess), thread(process.hThread);
    // Wine's handle on a Unix process may be done before the process is.
    return waitUntil([&] {
        WIN32_FILE_ATTRIBUTE_DATA attributes{};
        return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes) &&
               attributes.nFileSizeHigh == 0 && attributes.nFileSizeLow == size;
    }, 10000);
}

void makeSolidBitmap(GdiBitmap& bitmap, int width, int height, ARGB colour)
{
    ASSERT_EQ(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, bitmap.receive()), Ok);
    GdiGraphics graphics;
    ASSERT_EQ(GdipGetImageGraphicsContext(bitmap.get(), graphics.receive()), Ok);
    ASSERT_EQ(GdipGraphicsClear(graphics.get(), colour), Ok);
}

ARGB pixelAt(GpBitmap* bitmap, int x, int y)
{
    ARGB colour = 0;
    EXPECT_EQ(GdipBitmapGetPixel(bitmap, x, y, &colour), Ok) << x << "," << y;
    return colour;
}

Channels channels(ARGB colour)
{
    return {static_cast<int>(colour >> 24), static_cast<int>(colour >> 16 & 0xFF),
            static_cast<int>(colour >> 8 & 0xFF), static_cast<int>(colour & 0xFF)};
}

bool nearColour(ARGB actual, ARGB expected, int tolerance)
{
    const Channels a = channels(actual);
    const Channels e = channels(expected);
    return std::abs(a.alpha - e.alpha) <= tolerance && std::abs(a.red - e.red) <= tolerance &&
           std::abs(a.green - e.green) <= tolerance && std::abs(a.blue - e.blue) <= tolerance;
}

namespace {
constexpr const char* testDialogClass = "InkveilTestDialog";
}

TestDialog::TestDialog(int width, int height)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = testDialogClass;
    RegisterClassA(&windowClass);  // fails harmlessly once the class exists

    window_ = CreateWindowExA(0, testDialogClass, "Inkveil", WS_OVERLAPPED | WS_CAPTION, 0, 0, width,
                              height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    HWND status = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_READONLY, 10, 10, 300, 20,
                                  window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(1027)),
                                  GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(status, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    editProcedure_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(statusProcedure)));
    CreateWindowExA(0, "BUTTON", "Start", WS_CHILD | WS_VISIBLE, 10, 40, 80, 24, window_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(1005)), GetModuleHandleA(nullptr), nullptr);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    UpdateWindow(window_);
    setDialogWindow(window_);
}

TestDialog::~TestDialog()
{
    setDialogWindow(nullptr);
    DestroyWindow(window_);
}

std::string TestDialog::itemText(int id) const
{
    HWND item = GetDlgItem(window_, id);
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(item)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(item, &text[0], static_cast<int>(text.size()))));
    return text;
}

LRESULT CALLBACK TestDialog::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* dialog = reinterpret_cast<TestDialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_ERASEBKGND && dialog != nullptr) ++dialog->erases_;
    if (message == conversionEndedMessage) restoreStartCaption();
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TestDialog::statusProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* dialog = reinterpret_cast<TestDialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_SETTEXT) {
        dialog->statusTexts_.emplace_back(reinterpret_cast<const char*>(lParam));
        // Runs while a worker that set the text waits for it to be taken.
        if (dialog->onStatusText) dialog->onStatusText(dialog->statusTexts_.back());
    }
    return CallWindowProcA(dialog->editProcedure_, window, message, wParam, lParam);
}

bool pumpMessagesUntil(HANDLE event)
{
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &event, FALSE, 60000, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

std::vector<std::string> filesIn(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    SearchHandle search(FindFirstFileA((directory + "\\*").c_str(), &entry));
    if (!search) return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search.get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

CanvasHolder::CanvasHolder() : released_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    KernelHandle held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this, &held] {
        CanvasLock lock(INFINITE);
        SetEvent(held.get());
        WaitForSingleObject(released_.get(), INFINITE);
    });
    WaitForSingleObject(held.get(), INFINITE);
}

CanvasHolder::~CanvasHolder() { release(); }

void CanvasHolder::release()
{
    SetEvent(released_.get());
    if (thread_.joinable()) thread_.join();
}
