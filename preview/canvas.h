#pragma once
// The imaging library started and ended with the off-screen canvas with the two preview panes
// (in the dialog's client coordinates), and its copy into the window.
#include "common/win32/imaging.h"

#include <windows.h>

#include <cstdint>

struct PixelPoint {
    int32_t x;
    int32_t y;
};

struct PixelRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

constexpr int32_t paneWidth = 320;
constexpr int32_t paneHeight = 240;
constexpr int32_t paneGap = 10;
constexpr PixelPoint sourcePane{400, 10};
constexpr PixelPoint targetPane{400, 260};
// Both frames exactly: the only part of the canvas ever drawn, read or copied.
constexpr PixelRect previewArea{sourcePane.x - 1, sourcePane.y - 1, paneWidth + 2,
                                2 * paneHeight + paneGap + 2};

constexpr DWORD canvasWaitMilliseconds = 5000;

// Starts the imaging library and makes the transparent canvas, as large as `dialog`'s window,
// and its lock.
void startImaging(HWND dialog);

// Waits for any drawing into the canvas to end, then releases the canvas and shuts the
// imaging library down. Jobs decode and render outside canvasLock: stop the worker first.
void stopImaging();

// Whether the imaging library is up: a job checks it before it decodes.
bool imagingStarted();

// Holds canvasLock for its lifetime once the wait succeeded.
class CanvasLock {
public:
    explicit CanvasLock(DWORD waitMilliseconds = canvasWaitMilliseconds);
    ~CanvasLock();
    CanvasLock(const CanvasLock&) = delete;
    CanvasLock& operator=(const CanvasLock&) = delete;

    explicit operator bool() const { return held_; }
    // The wait ran out while another thread held the lock.
    bool timedOut() const { return timedOut_; }

private:
    bool held_ = false;
    bool timedOut_ = false;
};

// The canvas, or null when it could not be made or imaging is stopped. Only under CanvasLock.
imaging::GpBitmap* previewCanvas();

// Red frames around both panes and the panes filled white.
void drawPaneFrames(imaging::GpGraphics* surface);

// Where an image of the given size goes in the box: its own size, centred, when it fits;
// otherwise shrunk to fill the box's height or width (chosen by the fixed pane ratio) and
// centred along the other.
PixelRect fittedPlacement(imaging::ImageSize image, int32_t x, int32_t y, int32_t boxWidth,
                          int32_t boxHeight);

// Draws `image` at its fittedPlacement on `surface`; the caller holds canvasLock when the
// surface is the canvas.
void fitIntoPane(imaging::GpGraphics* surface, imaging::GpImage* image, int32_t x, int32_t y,
                 int32_t boxWidth, int32_t boxHeight);

// Clears both panes on the canvas and fits the two pictures into them, holding canvasLock
// only for that drawing; draws nothing when the lock cannot be had in time.
void drawPanesUnderLock(imaging::GpImage* sourcePicture, imaging::GpImage* targetPicture);

// The paint handler's part: frames, and previewArea of the canvas blended over them (copied once
// the canvas holds the panes). When the lock cannot be had in time nothing is drawn and
// previewArea is marked for another paint.
void paintPreview(HWND dialog, HDC deviceContext, DWORD waitMilliseconds = canvasWaitMilliseconds);
