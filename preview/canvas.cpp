#include "preview/canvas.h"

#include "common/win32/handles.h"

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <vector>

using namespace imaging;

namespace {

constexpr ARGB frameColour = 0xFFFF0000;
constexpr ARGB paneColour = 0xFFFFFFFF;

GdiBitmap canvas;
std::atomic<bool> started{false};  // changed under canvasLock
// previewArea of the canvas as drawPaneFrames first drew it, which later jobs copy back: the
// imaging library takes longer to draw the frames than a job takes to draw its pictures.
std::vector<uint8_t> blankPanes;  // under canvasLock

const Rect previewRect(previewArea.x, previewArea.y, previewArea.width, previewArea.height);

// Made on first use, by startImaging at the latest, and never remade.
HANDLE canvasLock()
{
    static const KernelHandle mutex(CreateMutexA(nullptr, FALSE, nullptr));
    return mutex.get();
}

}  // namespace

CanvasLock::CanvasLock(DWORD waitMilliseconds)
{
    if (canvasLock() == nullptr) return;
    const DWORD result = WaitForSingleObject(canvasLock(), waitMilliseconds);
    // An owner that ended without releasing leaves the lock to the next waiter.
    held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    timedOut_ = result == WAIT_TIMEOUT;
}

CanvasLock::~CanvasLock()
{
    if (held_) ReleaseMutex(canvasLock());
}

void startImaging(HWND dialog)
{
    startImagingLibrary();
    RECT window{};
    GetWindowRect(dialog, &window);
    CanvasLock lock(INFINITE);
    createBitmap(window.right - window.left, window.bottom - window.top, PixelFormat32bppARGB, canvas);
    blankPanes.clear();
    started = true;
}

void stopImaging()
{
    // Without a time limit: the job in hand finishes its file (and its save) first.
    CanvasLock lock(INFINITE);
    if (!lock || !started) return;
    canvas.reset();
    blankPanes.clear();
    stopImagingLibrary();
    started = false;
}

bool imagingStarted() { return started; }

GpBitmap* previewCanvas() { return canvas.get(); }

void drawPaneFrames(GpGraphics* surface)
{
    GdiPen pen;
    GdipCreatePen1(frameColour, 1.0f, UnitWorld, pen.receive());
    for (const PixelPoint pane : {sourcePane, targetPane}) {
        GdipDrawRectangleI(surface, pen.get(), pane.x - 1, pane.y - 1, paneWidth + 1, paneHeight + 1);
        GdiBrush white;
        GdipCreateSolidFill(paneColour, reinterpret_cast<GpSolidFill**>(white.receive()));
        GdipFillRectangleI(surface, white.get(), pane.x, pane.y, paneWidth, paneHeight);
    }
}

PixelRect fittedPlacement(ImageSize image, int32_t x, int32_t y, int32_t boxWidth, int32_t boxHeight)
{
    const int32_t imageWidth = image.width;
    const int32_t imageHeight = image.height;
    if (imageWidth <= boxWidth && imageHeight <= boxHeight)
        return {x + (boxWidth - imageWidth) / 2, y + (boxHeight - imageHeight) / 2, imageWidth, imageHeight};

    // Two divisions in this order, never a product and one division: a 155 x 248 picture
    // must come out 149 wide, as it always has.
    const double paneRatio = static_cast<double>(paneWidth) / static_cast<double>(paneHeight);
    if (paneRatio >= static_cast<double>(imageWidth) / static_cast<double>(imageHeight)) {
        const auto fittedWidth = static_cast<int32_t>(imageWidth / (static_cast<double>(imageHeight) / boxHeight));
        return {x + (boxWidth - fittedWidth) / 2, y, fittedWidth, boxHeight};
    }
    const auto fittedHeight = static_cast<int32_t>(imageHeight / (static_cast<double>(imageWidth) / boxWidth));
    return {x, y + (boxHeight - fittedHeight) / 2, boxWidth, fittedHeight};
}

void fitIntoPane(GpGraphics* surface, GpImage* image, int32_t x, int32_t y, int32_t boxWidth,
                 int32_t boxHeight)
{
    const PixelRect placed = fittedPlacement(imageSize(image), x, y, boxWidth, boxHeight);
    GdipDrawImageRectI(surface, image, placed.x, placed.y, placed.width, placed.height);
}

namespace {

// Row `y` of what `lock` holds, in either direction of its stride.
uint8_t* lockedRow(const BitmapLock& lock, int y)
{
    return static_cast<uint8_t*>(lock.data().Scan0) + static_cast<std::ptrdiff_t>(lock.data().Stride) * y;
}

// Copies previewArea of the canvas into `pixels` (4 bytes each, rows one after another), or
// `pixels` into it; false when the canvas cannot be locked.
bool copyPreviewArea(uint8_t* pixels, bool intoCanvas)
{
    const BitmapLock canvasPixels(canvas.get(), previewRect, intoCanvas ? ImageLockModeWrite : ImageLockModeRead,
                                  PixelFormat32bppARGB);
    if (!canvasPixels) return false;
    const std::size_t row = static_cast<std::size_t>(previewArea.width) * 4;
    for (int y = 0; y < previewArea.height; ++y) {
        uint8_t* canvasRow = lockedRow(canvasPixels, y);
        uint8_t* copyRow = pixels + row * y;
        std::memcpy(intoCanvas ? canvasRow : copyRow, intoCanvas ? copyRow : canvasRow, row);
    }
    return true;
}

// The frames and white panes onto the canvas, under canvasLock.
void blankCanvasPanes()
{
    if (!blankPanes.empty() && copyPreviewArea(blankPanes.data(), true)) return;
    {
        GdiGraphics surface;
        GdipGetImageGraphicsContext(canvas.get(), surface.receive());
        drawPaneFrames(surface.get());
    }
    blankPanes.resize(static_cast<std::size_t>(previewArea.width) * 4 * previewArea.height);
    if (!copyPreviewArea(blankPanes.data(), false)) blankPanes.clear();
}

// Once the canvas holds the frames and panes they are opaque, and a plain copy of each framed
// pane shows what blending the canvas over the window would, at a fraction of its cost; the
// transparent gap between them is the window's own. False when the canvas cannot be read.
bool copyFramedPanes(HDC deviceContext)
{
    for (const PixelPoint pane : {sourcePane, targetPane}) {
        const Rect framed(pane.x - 1, pane.y - 1, paneWidth + 2, paneHeight + 2);
        const BitmapLock pixels(canvas.get(), framed, ImageLockModeRead, PixelFormat32bppARGB);
        // A bottom-up lock would need its rows the other way round.
        if (!pixels || pixels.data().Stride <= 0) return false;
        BITMAPINFO layout{};
        layout.bmiHeader.biSize = sizeof(layout.bmiHeader);
        layout.bmiHeader.biWidth = pixels.data().Stride / 4;
        layout.bmiHeader.biHeight = -framed.Height;
        layout.bmiHeader.biPlanes = 1;
        layout.bmiHeader.biBitCount = 32;
        layout.bmiHeader.biCompression = BI_RGB;
        StretchDIBits(deviceContext, framed.X, framed.Y, framed.Width, framed.Height, 0, 0, framed.Width,
                      framed.Height, pixels.data().Scan0, &layout, DIB_RGB_COLORS, SRCCOPY);
    }
    return true;
}

// An opaque bitmap that fits its pane at its own size, copied into the canvas under canvasLock:
// blended over the pane it would only replace each pixel, which GDI+ does one call per pixel.
// False, and nothing changed, for any other picture.
bool copiedIntoPane(GpImage* picture, PixelPoint pane)
{
    const ImageSize size = imageSize(picture);
    const PixelRect placed = fittedPlacement(size, pane.x, pane.y, paneWidth, paneHeight);
    ImageType type = ImageTypeUnknown;
    if (size.width <= 0 || size.height <= 0 || placed.width != size.width || placed.height != size.height ||
        GdipGetImageType(picture, &type) != Ok || type != ImageTypeBitmap)
        return false;
    const BitmapLock pixels(static_cast<GpBitmap*>(picture), Rect(0, 0, size.width, size.height), ImageLockModeRead,
                            PixelFormat32bppARGB);
    if (!pixels) return false;
    for (int y = 0; y < size.height; ++y) {
        const uint8_t* row = lockedRow(pixels, y);
        for (int x = 0; x < size.width; ++x)
            if (row[4 * x + 3] != 0xFF) return false;
    }
    const BitmapLock into(canvas.get(), Rect(placed.x, placed.y, placed.width, placed.height), ImageLockModeWrite,
                          PixelFormat32bppARGB);
    if (!into) return false;
    for (int y = 0; y < size.height; ++y)
        std::memcpy(lockedRow(into, y), lockedRow(pixels, y), static_cast<std::size_t>(size.width) * 4);
    return true;
}

}  // namespace

void drawPanesUnderLock(GpImage* sourcePicture, GpImage* targetPicture)
{
    CanvasLock lock;
    if (!lock || !started || !canvas) return;
    blankCanvasPanes();
    const bool sourceCopied = copiedIntoPane(sourcePicture, sourcePane);
    const bool targetCopied = copiedIntoPane(targetPicture, targetPane);
    if (sourceCopied && targetCopied) return;
    // Declared after the lock, so released before it.
    GdiGraphics surface;
    GdipGetImageGraphicsContext(canvas.get(), surface.receive());
    if (!sourceCopied) fitIntoPane(surface.get(), sourcePicture, sourcePane.x, sourcePane.y, paneWidth, paneHeight);
    if (!targetCopied) fitIntoPane(surface.get(), targetPicture, targetPane.x, targetPane.y, paneWidth, paneHeight);
}

void paintPreview(HWND dialog, HDC deviceContext, DWORD waitMilliseconds)
{
    CanvasLock lock(waitMilliseconds);
    if (!lock) {
        // The job holding the canvas invalidates when it is done; this covers a paint that
        // came for another reason (uncovering, say) and would otherwise leave the area blank.
        if (lock.timedOut()) {
            const RECT area{previewArea.x, previewArea.y, previewArea.x + previewArea.width,
                            previewArea.y + previewArea.height};
            InvalidateRect(dialog, &area, FALSE);
        }
        return;
    }
    // A paint that comes after the imaging library was shut down draws nothing.
    if (!started) return;
    if (!blankPanes.empty() && copyFramedPanes(deviceContext)) return;
    GdiGraphics window;
    GdipCreateFromHDC(deviceContext, window.receive());
    drawPaneFrames(window.get());
    if (!canvas) return;
    GdipDrawImageRectRectI(window.get(), canvas.get(), previewArea.x, previewArea.y,
                                        previewArea.width, previewArea.height, previewArea.x,
                                        previewArea.y, previewArea.width, previewArea.height,
                                        UnitPixel, nullptr, nullptr, nullptr);
}
