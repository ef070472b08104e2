#pragma once
// What happens around the main dialog: the sample picture, and the program's entry.

// Writes "Demo.jpg" into the current directory from the program's resources whenever it
// cannot be opened for reading; an existing file is never rewritten. Silent on failure.
void extractSampleImage();
