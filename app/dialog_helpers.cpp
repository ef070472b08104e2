#include "app/dialog_helpers.h"

#include "batch/dialog_link.h"
#include "common/win32/text.h"

#include <atomic>

namespace {

std::atomic<HWND> storedDialog{nullptr};
std::atomic<int32_t> running{0};

// Centres one extent over the reference's and keeps it inside [areaStart, areaEnd).
LONG placeAlong(LONG referenceStart, LONG referenceExtent, LONG extent, LONG areaStart, LONG areaEnd)
{
    const LONG start = referenceStart + (referenceExtent - extent) / 2;
    if (start < areaStart) return areaStart;
    if (start + extent > areaEnd) return areaEnd - extent;
    return start;
}

}  // namespace

HWND dialogWindow() { return storedDialog.load(); }

void setDialogWindow(HWND window)
{
    storedDialog.store(window);
    linkDialog({dialogWindow, static_cast<void (*)(const wchar_t*)>(setStatusText), invalidateDialog,
                announceConversionEnded, showConversionEnd});
}

void setStatusText(const wchar_t* text) { SetDlgItemTextW(dialogWindow(), statusLineId, text); }

void setStatusText(const char* text) { setStatusText(wideText(text).c_str()); }

void invalidateDialog() { RedrawWindow(dialogWindow(), nullptr, nullptr, RDW_INVALIDATE | RDW_NOCHILDREN); }

void announceConversionEnded() { PostMessageA(dialogWindow(), conversionEndedMessage, 0, 0); }

void showConversionEnd()
{
    MSG ended;
    bool announced = false;
    while (PeekMessageA(&ended, dialogWindow(), conversionEndedMessage, conversionEndedMessage, PM_REMOVE))
        announced = true;
    if (announced) restoreStartCaption();
}

void restoreStartCaption()
{
    // The flag first: whoever sees "Start" sees the conversion ended.
    setRunning(0);
    SetDlgItemTextA(dialogWindow(), conversionButtonId, "Start");
}

void showStopCaption()
{
    SetDlgItemTextA(dialogWindow(), conversionButtonId, "Stop");
    setRunning(1);
}

int32_t isRunning() { return running.load(); }

void setRunning(int32_t value) { running.store(value); }

POINT centredPosition(const RECT& window, const RECT& reference, std::optional<RECT> workArea,
                      int screenWidth, int screenHeight)
{
    const RECT area = workArea.value_or(RECT{0, 0, screenWidth, screenHeight});
    return {placeAlong(reference.left, reference.right - reference.left, window.right - window.left,
                       area.left, area.right),
            placeAlong(reference.top, reference.bottom - reference.top, window.bottom - window.top,
                       area.top, area.bottom)};
}

void centreWindow(HWND window, HWND reference)
{
    RECT own{};
    RECT over{};
    GetWindowRect(window, &own);
    GetWindowRect(reference, &over);
    RECT area{};
    std::optional<RECT> workArea;
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) workArea = area;
    const POINT at = centredPosition(own, over, workArea, GetSystemMetrics(SM_CXSCREEN),
                                     GetSystemMetrics(SM_CYSCREEN));
    SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
