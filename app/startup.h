#pragma once
// What happens around the main dialog: the program's module, and the sample picture.
#include <windows.h>

// The module whose resources (dialog template, icon, sample picture) the program uses, stored
// by the entry point before anything else.
HINSTANCE programInstance();
void setProgramInstance(HINSTANCE instance);

// Writes "Demo.jpg" into the current directory from the program's resources whenever it
// cannot be opened for reading; an existing file is never rewritten. Silent on failure.
void extractSampleImage();
