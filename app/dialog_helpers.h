#pragma once
// The few operations through which the worker, the source scan and the preview reach the
// main dialog without knowing its controls. Callable from any thread.
#include "app/resource.h"

#include <windows.h>

#include <cstdint>
#include <optional>

constexpr int statusLineId = IDC_STATUS;
constexpr int conversionButtonId = IDC_CONVERT;

// Posted to the dialog when a conversion has ended; its thread answers with restoreStartCaption.
constexpr UINT conversionEndedMessage = WM_APP + 1;

// Stored once, as the dialog's first step of initialisation, and never cleared; storing it links
// the worker to the dialog (linkDialog).
HWND dialogWindow();
void setDialogWindow(HWND window);

// From another thread the text is handed to the dialog's thread, and the call returns once
// the control holds it: never call it while holding the canvas lock.
void setStatusText(const wchar_t* text);
// An ANSI text, as setStatusText shows it in UTF-16.
void setStatusText(const char* text);

// Marks the whole client area for painting without erasing the background. The controls are
// left out: they have not changed, and repainting all of them costs as much as drawing the panes.
void invalidateDialog();

// From the worker: tells the dialog's thread that the conversion ended, and returns at once.
void announceConversionEnded();

// On the dialog's thread once the worker has ended: an end it announced (a conversionEndedMessage
// still queued) is shown now with restoreStartCaption.
void showConversionEnd();

// On the dialog's thread, which alone sets the conversion button and isRunning: isRunning 0,
// then "Start" on the button; isRunning 1 with "Stop".
void restoreStartCaption();
void showStopCaption();

// 1 while the conversion button offers "Stop".
int32_t isRunning();
void setRunning(int32_t value);

// Top-left corner that centres `window` over `reference` and keeps it inside the work
// area, or inside the screen's 0, 0, screenWidth, screenHeight when there is no work area.
// The near edge wins over the far one when the window is larger than the area.
POINT centredPosition(const RECT& window, const RECT& reference, std::optional<RECT> workArea,
                      int screenWidth, int screenHeight);

// Moves `window` (keeping its size and Z order) to its centred position over `reference`.
void centreWindow(HWND window, HWND reference);
