#pragma once
// Where the worker's jobs stand, for the conversion it runs: whether a stop covers a conversion,
// whether the dialog is closing, and whose turn it is.
#include <functional>

// Whether a stop was asked for since the conversion `ticket` was.
bool stopRequestedFor(int ticket);

// When work on file `index` of the conversion `ticket` is given up: at the close, and at a stop
// while it is ahead of its turn (the file whose turn it is ends as it would have).
std::function<bool()> givenUpFor(int ticket, int index);

// Whether the dialog is closing: nothing more is shown, and every question counts as answered No.
bool closing();

// File `index` of the running conversion has its turn; those after it are worked on ahead.
void setTurn(int index);
