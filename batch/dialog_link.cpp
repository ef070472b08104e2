#include "batch/dialog_link.h"

#include "common/win32/text.h"

namespace {

// Filled in before the worker starts, and read by it after.
DialogLink linked;

}  // namespace

void linkDialog(const DialogLink& link) { linked = link; }

HWND dialogOwner() { return linked.window != nullptr ? linked.window() : nullptr; }

void showStatus(const wchar_t* text)
{
    if (linked.setStatusText != nullptr) linked.setStatusText(text);
}

void showStatus(const char* text) { showStatus(wideText(text).c_str()); }

void repaintDialog()
{
    if (linked.invalidate != nullptr) linked.invalidate();
}

void tellConversionEnded()
{
    if (linked.announceConversionEnded != nullptr) linked.announceConversionEnded();
}

void showAnnouncedEnd()
{
    if (linked.showAnnouncedEnd != nullptr) linked.showAnnouncedEnd();
}
