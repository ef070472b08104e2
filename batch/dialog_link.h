#pragma once
// How the worker reaches the dialog without knowing its controls: the operations the dialog fills
// in as the first step of its initialisation. Callable from any thread; until the dialog has
// filled them in they do nothing (and the worker's message boxes have no owner).
#include <windows.h>

struct DialogLink {
    HWND (*window)() = nullptr;
    // From another thread, handed to the dialog's thread: returns once the line shows the text.
    void (*setStatusText)(const wchar_t* text) = nullptr;
    // Marks the whole client area for painting.
    void (*invalidate)() = nullptr;
    // Tells the dialog's thread that a conversion ended, and returns at once.
    void (*announceConversionEnded)() = nullptr;
    // On the dialog's thread, once the worker has ended: an end it announced is shown now, and
    // nothing of it arrives later.
    void (*showAnnouncedEnd)() = nullptr;
};

void linkDialog(const DialogLink& link);

// The worker's side.
HWND dialogOwner();
void showStatus(const wchar_t* text);
// An ANSI text, shown in UTF-16.
void showStatus(const char* text);
void repaintDialog();
void tellConversionEnded();
void showAnnouncedEnd();
