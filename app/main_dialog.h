#pragma once
// The program's only window: the settings controls on the left, the preview panes on the
// right. Its procedure turns every user action into a settings change and a job request.
#include <windows.h>

INT_PTR CALLBACK mainDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the whole settings record in the controls.
void settingsToControls(HWND dialog);

// What a size edit's text stores: the number it reads as (`signedValue`), except that a
// stored negative value, shown as the unsigned decimal of its bits, keeps its value.
int sizeFromEdit(int stored, const char* text, int signedValue);
