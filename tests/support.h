#pragma once
// What the tests share: a temporary directory per test, the imaging library started once
// per test program, and small bitmaps read back pixel by pixel.
#include "common/win32/handles.h"
#include "common/win32/imaging.h"
#include "common/outcome.h"

#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

// Outcomes by name in the tests' messages.
void PrintTo(Outcome outcome, std::ostream* out);

// A new empty directory under the system's temporary folder, removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Makes `directory` the current one for its lifetime.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& directory);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::string previous_;
};

std::vector<unsigned char> readFile(const std::string& path);
std::vector<unsigned char> readFile(const std::wstring& path);
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);
void writeFile(const std::wstring& path, const std::vector<unsigned char>& bytes);
bool fileExists(const std::string& path);
bool fileExists(const std::wstring& path);

// Cuts the file at `path` to `size` bytes from the host system's side, past Windows' sharing
// rules, as a drive pulled or a share gone leaves a file that is being read. False where the
// tests do not run under Wine, or the cut fails. The path must hold no space.
bool cutOnHost(const std::string& path, std::size_t size);

// A 32-bit ARGB bitmap of one colour.
void makeSolidBitmap(imaging::GdiBitmap& bitmap, int width, int height, imaging::ARGB colour);
imaging::ARGB pixelAt(imaging::GpBitmap* bitmap, int x, int y);

struct Channels {
    int alpha, red, green, blue;
};
Channels channels(imaging::ARGB colour);

// Whether every channel of `actual` lies within `tolerance` of `expected`.
bool nearColour(imaging::ARGB actual, imaging::ARGB expected, int tolerance);

// A visible top-level window standing in for the main dialog, stored as dialogWindow()
// while it lives: a status line (edit 1027) that records every text set into it, a
// conversion button (1005) that shows "Start" when told a conversion ended, and a count of the
// background erases it was asked for.
class TestDialog {
public:
    explicit TestDialog(int width = 776, int height = 540);
    ~TestDialog();
    TestDialog(const TestDialog&) = delete;
    TestDialog& operator=(const TestDialog&) = delete;

    HWND window() const { return window_; }
    std::string itemText(int id) const;
    const std::vector<std::string>& statusTexts() const { return statusTexts_; }
    int erases() const { return erases_; }

    // Called with every status text as it arrives.
    std::function<void(const std::string&)> onStatusText;

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK statusProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    WNDPROC editProcedure_ = nullptr;
    std::vector<std::string> statusTexts_;
    int erases_ = 0;
};

// Dispatches this thread's messages until `event` is signalled (at most a minute).
bool pumpMessagesUntil(HANDLE event);

// The names of the entries of a directory, sorted.
std::vector<std::string> filesIn(const std::string& directory);

// Holds the canvas lock on a thread of its own, as a long job would, from construction
// until release() or its end.
class CanvasHolder {
public:
    CanvasHolder();
    ~CanvasHolder();
    CanvasHolder(const CanvasHolder&) = delete;
    CanvasHolder& operator=(const CanvasHolder&) = delete;

    void release();

private:
    KernelHandle released_;
    std::thread thread_;
};
