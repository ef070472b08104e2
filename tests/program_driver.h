#pragma once
// Drives the real Inkveil.exe from another process, as a user would: starts it in a folder,
// finds its dialog and message boxes, reads and sets controls, watches the preview panes on
// screen and closes it. Shared by the end-to-end tests and the inkveil_driver tool.
#include "common/win32/handles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

constexpr const char* programTitle = "Inkveil V1.1";
constexpr const char* dialogClass = "#32770";
// Long enough for a slow machine under Wine; nothing waits this long when all goes well.
constexpr DWORD generousWait = 60000;

// A Linux path as Wine shows it (the root is drive Z:); any other path is returned unchanged.
std::string windowsPath(const std::string& path);

// Removes a directory with all it holds, read-only files too; returns how many files it held.
int removeTree(const std::string& directory);

// Polls `done` every 50 ms until it holds or `milliseconds` have passed.
bool waitUntil(const std::function<bool()>& done, DWORD milliseconds = generousWait);

// The program started with `folder` as its current directory. Should it outlive its owner,
// its dialog is closed and, if it does not end, the process is ended: a failed test leaves
// nothing running in its folder.
class RunningProgram {
public:
    RunningProgram(const std::string& program, const std::string& folder);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool started() const { return static_cast<bool>(process_); }
    DWORD id() const { return id_; }
    HANDLE handle() const { return process_.get(); }
    bool running() const;
    // The exit code, once the process has ended within `milliseconds`.
    std::optional<DWORD> waitForExit(DWORD milliseconds = generousWait) const;

private:
    KernelHandle process_;
    DWORD id_ = 0;
};

// A top-level dialog window of that title belonging to the process (0: to any process).
HWND findDialog(const char* title, DWORD processId);
// The visible main dialog, once it exists.
HWND waitForMainDialog(DWORD processId, DWORD milliseconds = generousWait);
// A message box of that title, once it exists.
HWND waitForMessageBox(const char* title, DWORD processId, DWORD milliseconds = generousWait);
// Answers a message box (IDYES, IDNO, IDOK) and waits until it is gone.
bool answerMessageBox(HWND box, int answer, DWORD milliseconds = generousWait);

std::string itemText(HWND dialog, int id);
// The edit then tells the dialog of the change, as typing would.
void setItemText(HWND dialog, int id, const std::string& text);
// A button press as the button reports it to the dialog.
void pressButton(HWND dialog, int id);

// Colours as shown on screen, 0x00RRGGBB, row by row.
struct ScreenArea {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
// A rectangle of the dialog's client area read back from the screen; empty when it cannot be.
ScreenArea readClientArea(HWND dialog, int x, int y, int width, int height);

// Whether every channel of `a` lies within `tolerance` of that of `b`.
bool closeColours(uint32_t a, uint32_t b, int tolerance);
// Whether more than `share` of the area shows a picture rather than white or the dialog's own
// face colour; a panorama fills a third of its pane.
bool showsPicture(const ScreenArea& area, double share = 0.5);
ScreenArea sourcePaneOnScreen(HWND dialog);
ScreenArea targetPaneOnScreen(HWND dialog);
// Both preview panes show a picture.
bool previewShown(HWND dialog, double share = 0.5);
bool waitForPreview(HWND dialog, DWORD milliseconds = generousWait, double share = 0.5);

// Posts Cancel, as Esc or the close box would, and waits until the window is gone.
bool closeDialog(HWND dialog, DWORD milliseconds = generousWait);
