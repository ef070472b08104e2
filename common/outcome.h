#pragma once
// How the work on one file ended: done, or why not, as far as the step that stopped could tell.
// Every step that reads, decodes or writes a file returns one, and the worker names it.
enum class Outcome {
    done,
    damaged,      // its data breaks its format's rules
    incomplete,   // its data ends before its picture does
    unreadable,   // its bytes could not be read: gone, locked, or its device failed
    notPicture,   // no decoder takes it
    tooLarge,     // larger than a picture can be held
    noTargetSize, // the settings ask for a target no picture can have: a side of 0 or less
    outOfMemory,  // may succeed when less else is held
    diskFull,
    notWritten,   // the output could not be written for another reason
    noEncoder,    // no encoder for the format asked for
    nameTooLong,  // its output path would not fit
    nameTaken,    // another source of the conversion has its output name
    cancelled,    // given up at a stop or the close: no fault of the file's
};
