// Times the program's own work under the real imaging library and prints one line that
// scripts/bench.sh reads:
//   bench convert keep|fixed DIRECTORY  converts every *.jpg of DIRECTORY to JPEG into
//                                       DIRECTORY\converted (which must not exist) as the Start
//                                       button does: from the request to the completion question
//   bench floor keep|fixed DIRECTORY    the JPEG codec's own decoding of every *.jpg of DIRECTORY
//                                       and encoding of a picture of the output's size
//   bench settings keep|fixed DIRECTORY writes the settings file of the current directory that
//                                       has the program itself convert DIRECTORY as `convert` does
//   bench preview FILE                  previews of FILE, from the request to the paint: cold
//                                       (FILE changed on disk and rescanned, so it is decoded
//                                       again) and warm (a slider
//                                       changed, same source); and the JPEG codec's own
//                                       decoding of FILE
#include "app/dialog_helpers.h"
#include "batch/worker.h"
#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "pipeline/geometry.h"
#include "pipeline/jpeg.h"
#include "pipeline/source_file.h"
#include "pipeline/output.h"
#include "pipeline/render.h"
#include "preview/canvas.h"
#include "settings/settings.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The main dialog's client area under the project's Wine prefix (380 x 271 dialog units).
constexpr int dialogClientWidth = 760;
constexpr int dialogClientHeight = 542;
constexpr DWORD dialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr const char* standInClass = "InkveilBenchStandIn";
constexpr UINT_PTR giveUpTimer = 1;
constexpr UINT giveUpMilliseconds = 120000;
// Long enough for the paints that showing a window brings (Wine maps it asynchronously).
constexpr double settleMilliseconds = 300.0;
constexpr const char* doneTitle = "完成";
constexpr int fixedWidth = 1600;
constexpr int fixedHeight = 1200;

double nowMilliseconds()
{
    static const double ticksPerMillisecond = [] {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticksPerMillisecond;
}

// Touched only on the thread that owns the stand-in window.
int paintCount = 0;
double lastPaintMilliseconds = 0.0;
bool gaveUp = false;

LRESULT CALLBACK standInProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        lastPaintMilliseconds = nowMilliseconds();
        ++paintCount;
        PAINTSTRUCT paint;
        const HDC deviceContext = BeginPaint(window, &paint);
        paintPreview(window, deviceContext);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        gaveUp = true;
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

class StandInWindow {
public:
    StandInWindow()
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = standInProcedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.lpszClassName = standInClass;
        RegisterClassA(&windowClass);
        RECT frame{0, 0, dialogClientWidth, dialogClientHeight};
        AdjustWindowRect(&frame, dialogStyle, FALSE);
        window_ = CreateWindowExA(0, standInClass, "Inkveil V1.1", dialogStyle, 0, 0,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    }
    ~StandInWindow()
    {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    StandInWindow(const StandInWindow&) = delete;
    StandInWindow& operator=(const StandInWindow&) = delete;

    HWND get() const { return window_; }

private:
    HWND window_ = nullptr;
};

// The dialog's own order: the window is known before the imaging library and the canvas.
class ImagingSession {
public:
    explicit ImagingSession(HWND window)
    {
        setDialogWindow(window);
        startImaging(window);
    }
    ~ImagingSession() { stopImaging(); }
    ImagingSession(const ImagingSession&) = delete;
    ImagingSession& operator=(const ImagingSession&) = delete;
};

class WorkerSession {
public:
    WorkerSession() { startWorker(); }
    ~WorkerSession() { stopWorker(); }
    WorkerSession(const WorkerSession&) = delete;
    WorkerSession& operator=(const WorkerSession&) = delete;
};

void dispatchWaiting()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void pumpFor(double milliseconds)
{
    const double end = nowMilliseconds() + milliseconds;
    for (double left = milliseconds; left > 0.0; left = end - nowMilliseconds()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
        dispatchWaiting();
    }
}

void showAndSettle(HWND window)
{
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    pumpFor(settleMilliseconds);
}

// Pumps messages until a paint after the first `paintsSeen`; false when none came in time.
bool pumpUntilPaint(HWND window, int paintsSeen)
{
    gaveUp = false;
    SetTimer(window, giveUpTimer, giveUpMilliseconds, nullptr);
    MSG message;
    while (paintCount <= paintsSeen && !gaveUp && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    KillTimer(window, giveUpTimer);
    return paintCount > paintsSeen;
}

void applyBenchSettings(bool keepSize)
{
    resetDefaults();
    setKeepSourceSize(keepSize ? 1 : 0);
    setTargetWidth(fixedWidth);
    setTargetHeight(fixedHeight);
    setOutputFormat("jpg");
    setWatermarkText("Inkveil");
}

std::vector<std::string> jpegFilesIn(const std::string& directory)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    SearchHandle search(FindFirstFileA((directory + "\\*.jpg").c_str(), &found));
    if (!search) return files;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back(directory + "\\" + found.cFileName);
    } while (FindNextFileA(search.get(), &found));
    std::sort(files.begin(), files.end());
    return files;
}

// Pumps messages until a message box of that title shows; null when none came in time.
HWND pumpUntilMessageBox(const char* title)
{
    const double giveUp = nowMilliseconds() + giveUpMilliseconds;
    for (;;) {
        if (HWND box = FindWindowA("#32770", title)) return box;
        if (nowMilliseconds() > giveUp) return nullptr;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
        dispatchWaiting();
    }
}

int countFilesIn(const std::string& directory)
{
    int count = 0;
    WIN32_FIND_DATAA found;
    SearchHandle search(FindFirstFileA((directory + "\\*").c_str(), &found));
    if (!search) return 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) ++count;
    } while (FindNextFileA(search.get(), &found));
    return count;
}

// The codec's own decoding of a JPEG, reading the file included; -1 when it fails.
double decodeMilliseconds(const std::string& file, imaging::GdiBitmap& decoded)
{
    const double start = nowMilliseconds();
    const SourceFile source = openSource(wideText(file).c_str());
    return decodeJpeg(source.bytes, source.facts.header, decoded) == Outcome::done ? nowMilliseconds() - start : -1.0;
}

int benchConversion(const char* sizeMode, const std::string& directory)
{
    const bool keepSize = std::strcmp(sizeMode, "keep") == 0;
    applyBenchSettings(keepSize);
    setSourcePath(directory.c_str());
    const std::vector<std::string> files = jpegFilesIn(directory);
    if (files.empty()) {
        std::fprintf(stderr, "no *.jpg in %s\n", directory.c_str());
        return 1;
    }

    StandInWindow window;
    ImagingSession imaging(window.get());
    showAndSettle(window.get());
    WorkerSession worker;
    // The worker's first job previews the first file: it loads the codecs.
    if (!pumpUntilPaint(window.get(), paintCount)) {
        std::fprintf(stderr, "the first preview never painted\n");
        return 1;
    }
    const double start = nowMilliseconds();
    requestJob(0, 1);
    const HWND done = pumpUntilMessageBox(doneTitle);
    const double elapsed = nowMilliseconds() - start;
    if (done == nullptr) {
        std::fprintf(stderr, "the conversion never asked its closing question\n");
        return 1;
    }
    PostMessageA(done, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(done, IDNO)));
    const int written = countFilesIn(directory + "\\converted");
    std::printf("convert %s files=%zu written=%d ms_per_file=%.1f\n", keepSize ? "keep" : "fixed",
                files.size(), written, elapsed / static_cast<double>(files.size()));
    return written == static_cast<int>(files.size()) ? 0 : 1;
}

int writeBenchSettings(const char* sizeMode, const std::string& directory)
{
    applyBenchSettings(std::strcmp(sizeMode, "keep") == 0);
    setSourcePath(directory.c_str());
    return saveSettings() ? 0 : 1;
}

int benchFloor(const char* sizeMode, const std::string& directory)
{
    const bool keepSize = std::strcmp(sizeMode, "keep") == 0;
    applyBenchSettings(keepSize);
    const std::vector<std::string> files = jpegFilesIn(directory);
    StandInWindow window;
    ImagingSession imaging(window.get());
    const std::string output = directory + "\\floor-output.tmp";
    double total = 0.0;
    for (const std::string& file : files) {
        imaging::GdiBitmap decoded;
        const double decoding = decodeMilliseconds(file, decoded);
        // Made by our own pass, outside the timing: the floor is the codec's share alone.
        imaging::GdiBitmap fixedSize;
        if (!keepSize) {
            const imaging::ImageSize size = imaging::imageSize(decoded.get());
            const WatermarkSettings settings = copySettings();
            const TargetGeometry geometry = targetGeometryFor(size.width, size.height, settings);
            imaging::createBitmap(fixedWidth, fixedHeight, PixelFormat24bppRGB, fixedSize);
            drawAdjustedSource(decoded.get(), geometry.cropWidth, geometry.cropHeight, fixedSize.get(), settings);
        }
        const double start = nowMilliseconds();
        const bool saved = writeJpeg(keepSize ? decoded.get() : fixedSize.get(), wideText(output).c_str()) == Outcome::done;
        total += decoding + nowMilliseconds() - start;
        if (decoding < 0.0 || !saved) {
            std::fprintf(stderr, "%s did not decode and encode\n", file.c_str());
            return 1;
        }
    }
    DeleteFileA(output.c_str());
    std::printf("floor files=%zu ms_per_file=%.1f\n", files.size(), total / static_cast<double>(files.size()));
    return files.empty() ? 1 : 0;
}

// Moves the file's last write time on by a second: a preview takes it for another file.
bool markChanged(const char* file)
{
    const KernelHandle opened(CreateFileA(file, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME written{};
    if (!opened || !GetFileTime(opened.get(), nullptr, nullptr, &written)) return false;
    ULARGE_INTEGER time{};
    time.LowPart = written.dwLowDateTime;
    time.HighPart = written.dwHighDateTime;
    time.QuadPart += 10000000;
    written.dwLowDateTime = time.LowPart;
    written.dwHighDateTime = time.HighPart;
    return SetFileTime(opened.get(), nullptr, nullptr, &written) != FALSE;
}

// Waits for the paint after a request; -1 when none came.
double timedPreview(HWND window, int mode, int rescan)
{
    const int paintsSeen = paintCount;
    const double start = nowMilliseconds();
    requestJob(mode, rescan);
    if (!pumpUntilPaint(window, paintsSeen)) return -1.0;
    return lastPaintMilliseconds - start;
}


int benchPreview(const char* file)
{
    applyBenchSettings(true);
    setSourcePath(file);

    StandInWindow window;
    ImagingSession imaging(window.get());
    showAndSettle(window.get());
    WorkerSession worker;
    // The worker's first job previews the same file: it loads the codecs and warms the file cache.
    if (!pumpUntilPaint(window.get(), paintCount)) {
        std::fprintf(stderr, "the first preview never painted\n");
        return 1;
    }
    pumpFor(settleMilliseconds);

    if (!markChanged(file)) {
        std::fprintf(stderr, "the file's time cannot be set\n");
        return 1;
    }
    const double cold = timedPreview(window.get(), 1, 1);
    pumpFor(settleMilliseconds);
    setRedAdjust(redAdjust() + 10);
    const double warm = timedPreview(window.get(), 1, 0);
    imaging::GdiBitmap decoded;
    const double decode = decodeMilliseconds(file, decoded);
    if (cold < 0.0 || warm < 0.0 || decode < 0.0) {
        std::fprintf(stderr, "a timed preview never painted, or the file did not decode\n");
        return 1;
    }
    std::printf("preview cold_ms=%.1f warm_ms=%.1f decode_ms=%.1f\n", cold, warm, decode);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool sizeMode = argc == 4 && (std::strcmp(argv[2], "keep") == 0 || std::strcmp(argv[2], "fixed") == 0);
    if (sizeMode && std::strcmp(argv[1], "convert") == 0) return benchConversion(argv[2], argv[3]);
    if (sizeMode && std::strcmp(argv[1], "floor") == 0) return benchFloor(argv[2], argv[3]);
    if (sizeMode && std::strcmp(argv[1], "settings") == 0) return writeBenchSettings(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "preview") == 0) return benchPreview(argv[2]);
    std::fprintf(stderr, "usage: bench convert|floor|settings keep|fixed DIRECTORY\n       bench preview FILE\n");
    return 2;
}
