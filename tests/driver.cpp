// inkveil_driver: drives a running Inkveil from the command line (scripts/run.sh).
//   wait-preview  waits until the dialog is shown with both preview panes drawn, then has
//                 every control that has not painted yet paint at once (for a screenshot)
//   close         closes the dialog as the Esc key would and waits until it is gone
//   time-previews PROGRAM FOLDER RUNS
//                 starts PROGRAM in FOLDER (whose Demo.jpg it shows) and times RUNS previews
//                 as a user waits for them: from the release of a mouse click on the red
//                 slider's channel until the target pane's pixels on screen change. Prints
//                 "previews warm_ms=..." (the median).
//   time-conversion PROGRAM FOLDER RUNS
//                 starts PROGRAM in FOLDER (whose settings name the sources) and times RUNS
//                 conversions as a user waits for them: from the release of a mouse click on
//                 Start until the "完成" box shows; the box is answered No and the sources'
//                 "converted" folder removed before each run. Prints "conversion ms=... files=..."
//                 (the median, and the files the last run wrote) and the program's peak memory.
// Exit code 0 on success, 1 when the wait ran out, 2 for a wrong command line.
#include "app/resource.h"
#include "tests/program_driver.h"

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double nowMilliseconds()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds from `start` until the target pane on screen differs from `before`; -1 when it
// does not within 10 s.
double untilTargetChanges(HWND dialog, const ScreenArea& before, double start)
{
    const double giveUp = start + 10000.0;
    while (nowMilliseconds() < giveUp) {
        const ScreenArea now = targetPaneOnScreen(dialog);
        if (!now.pixels.empty() && now.pixels != before.pixels) return nowMilliseconds() - start;
        Sleep(0);
    }
    return -1.0;
}

// A left click at a point of the screen, pressed and released; returns when it was released.
double clickAt(POINT point)
{
    SetCursorPos(point.x, point.y);
    INPUT press{};
    press.type = INPUT_MOUSE;
    press.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    SendInput(1, &press, sizeof press);
    Sleep(20);
    INPUT release = press;
    release.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    const double released = nowMilliseconds();
    SendInput(1, &release, sizeof release);
    return released;
}

// Whether the slider's position differs from `position` within 200 ms of `released`.
bool movedFrom(HWND slider, LRESULT position, double released)
{
    while (SendMessageA(slider, TBM_GETPOS, 0, 0) == position)
        if (nowMilliseconds() - released > 200.0) return false;
    return true;
}

int timePreviews(const char* program, const char* folder, int runs)
{
    RunningProgram running(program, folder);
    HWND dialog = running.started() ? waitForMainDialog(running.id()) : nullptr;
    if (dialog == nullptr || !waitForPreview(dialog)) {
        std::fprintf(stderr, "inkveil_driver: the program showed no preview\n");
        return 1;
    }
    HWND red = GetDlgItem(dialog, IDC_RED);
    RECT slider{};
    GetWindowRect(red, &slider);
    std::vector<double> warm;
    for (int run = 0; run < runs; ++run) {
        // Into the channel beside the thumb, alternately left and right of the middle.
        const LONG x = run % 2 == 0 ? slider.left + (slider.right - slider.left) / 8
                                    : slider.right - (slider.right - slider.left) / 8;
        const ScreenArea before = targetPaneOnScreen(dialog);
        const LRESULT position = SendMessageA(red, TBM_GETPOS, 0, 0);
        const POINT point{x, (slider.top + slider.bottom) / 2};
        double released = clickAt(point);
        // Now and then, under Wine without a window manager, the slider never sees a click, its
        // window under the cursor though it is; the click is given again, and timed from the one
        // that moved it.
        for (int again = 0; again < 3 && !movedFrom(red, position, released); ++again) released = clickAt(point);
        warm.push_back(untilTargetChanges(dialog, before, released));
        if (warm.back() < 0.0) {
            std::fprintf(stderr, "inkveil_driver: a preview never reached the screen\n");
            return 1;
        }
        Sleep(300);
    }
    std::printf("previews warm_ms=%.1f\n", median(warm));
    return closeDialog(dialog) ? 0 : 1;
}

int timeConversions(const char* program, const char* folder, int runs)
{
    RunningProgram running(program, folder);
    HWND dialog = running.started() ? waitForMainDialog(running.id()) : nullptr;
    if (dialog == nullptr || !waitForPreview(dialog, generousWait, 0.2)) {
        std::fprintf(stderr, "inkveil_driver: the program showed no preview\n");
        return 1;
    }
    const std::string converted = itemText(dialog, IDC_SOURCE_PATH) + "\\converted";
    removeTree(converted);
    RECT start{};
    GetWindowRect(GetDlgItem(dialog, IDC_CONVERT), &start);
    const POINT startMiddle{(start.left + start.right) / 2, (start.top + start.bottom) / 2};
    std::vector<double> batches;
    int written = 0;
    for (int run = 0; run < runs; ++run) {
        // The preview that follows every conversion, and its paint, are over.
        Sleep(500);
        const double released = clickAt(startMiddle);
        HWND done = nullptr;
        while ((done = findDialog("完成", running.id())) == nullptr && nowMilliseconds() - released < generousWait)
            Sleep(1);
        if (done == nullptr) {
            std::fprintf(stderr, "inkveil_driver: no \"完成\" box came\n");
            return 1;
        }
        batches.push_back(nowMilliseconds() - released);
        if (!answerMessageBox(done, IDNO) || !waitUntil([&] { return itemText(dialog, IDC_CONVERT) == "Start"; })) {
            std::fprintf(stderr, "inkveil_driver: the conversion did not end\n");
            return 1;
        }
        written = removeTree(converted);
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(running.handle(), &memory, sizeof memory);
    std::printf("conversion ms=%.1f files=%d peak_kb=%zu\n", median(batches), written,
                static_cast<std::size_t>(memory.PeakWorkingSetSize / 1024));
    return closeDialog(dialog) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "time-previews") == 0)
        return timePreviews(argv[2], argv[3], std::max(1, std::atoi(argv[4])));
    if (argc == 5 && std::strcmp(argv[1], "time-conversion") == 0)
        return timeConversions(argv[2], argv[3], std::max(1, std::atoi(argv[4])));
    if (argc != 2 || (std::strcmp(argv[1], "wait-preview") != 0 && std::strcmp(argv[1], "close") != 0)) {
        std::fprintf(stderr, "usage: inkveil_driver wait-preview|close|time-previews|time-conversion PROGRAM FOLDER RUNS\n");
        return 2;
    }
    HWND dialog = waitForMainDialog(0);
    if (dialog == nullptr) {
        std::fprintf(stderr, "inkveil_driver: no \"%s\" dialog appeared\n", programTitle);
        return 1;
    }
    if (std::strcmp(argv[1], "wait-preview") == 0) {
        if (waitForPreview(dialog)) {
            RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            return 0;
        }
        std::fprintf(stderr, "inkveil_driver: the preview panes stayed empty\n");
        return 1;
    }
    if (closeDialog(dialog)) return 0;
    std::fprintf(stderr, "inkveil_driver: the dialog did not close\n");
    return 1;
}
