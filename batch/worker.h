#pragma once
// The background thread that decodes, renders and writes every picture: previews of the
// first source and conversions of the whole list, one job per wake-up.
#include "batch/conversion.h"
#include "settings/settings.h"

// Starts the worker; its first job is a preview of sourcePath with a rescan.
void startWorker();

// Rebuilds the source list, reporting on the status line where it searches and what it found.
// Only on the worker thread, or before it starts.
void rescanSources();

// Asks for a job: mode 1 a preview, 0 a conversion; rescan 1 rebuilds the source list
// first (a pending rescan is never withdrawn). Requests made before the worker wakes
// collapse into one job, of the kind the last one asked for.
void requestJob(int mode, int rescan);

// How many jobs have been asked for since the process started.
int requestedJobs();

// Stops the conversion asked for last, and any still running, before their next file.
void requestStop();

// Stops a running conversion after its current file and waits for the worker to end,
// answering the worker's synchronous status updates meanwhile; a conversion that has not
// reached its first file does not start, and a question already up is answered No.
// Call on the dialog thread.
void stopWorker();
