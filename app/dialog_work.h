// dialog_work.h - the work the main window runs on worker threads: a Save
// or an Extract player, and the reading of the open movie (its facts and
// whether it is damaged). A worker owns no control: it posts its progress
// and its end to the window, and only the window's thread touches
// controls. Cancel is one atomic flag that the core reads between pieces.
#pragma once

#include <windows.h>

#include <string>

#include "common/failure.h"
#include "rebuild/rebuild.h"
#include "app/info_text.h"

// What the workers post to the window. wParam is the number of the job;
// a message of a job that is no longer the window's is ignored.
const UINT workProgressMessage = WM_APP + 1;  // lParam: the percentage done
const UINT workEndedMessage = WM_APP + 2;
const UINT readingEndedMessage = WM_APP + 3;

// One Save (IDC_SAVE) or Extract player (IDC_EXTRACT), as the window asked
// for it.
struct WorkRequest {
    int command;
    std::string moviePath;
    std::string outPath;
    std::string playerPath;
    RebuildMode mode;  // with IDC_SAVE
    bool salvage;      // with IDC_SAVE: write what decodes of a damaged movie
};

// How a Save or Extract ended.
struct WorkOutcome {
    WorkRequest request;
    Failure result;
    RebuildDetails details;  // with IDC_SAVE
};

// The window's work record, made on WM_INITDIALOG and released on
// WM_DESTROY; every function below is called on the window's thread.
void BeginWindowWork(HWND dialog);
// Cancels what runs, waits for the workers to end, and releases the
// record.
void EndWindowWork(HWND dialog);

// Starts `request` on a worker; false (nothing started) when the system
// refuses the thread. At most one runs at a time.
bool StartWork(HWND dialog, const WorkRequest& request);
bool WorkRunning(HWND dialog);
void CancelWork(HWND dialog);
// On workEndedMessage `number`: true, with `*outcome` filled and the worker
// gone, when it was the window's running job.
bool TakeEndedWork(HWND dialog, WPARAM number, WorkOutcome* outcome);
// Whether a workProgressMessage `number` is the running job's.
bool IsRunningWork(HWND dialog, WPARAM number);

// Starts reading the movie of `path` (stopping a reading still running);
// the findings are Reading until it ends.
void StartReading(HWND dialog, const char* path);
// On readingEndedMessage `number`: true, with the findings updated and the
// worker gone, when it was the window's running reading.
bool TakeEndedReading(HWND dialog, WPARAM number);
// What the reading of the open movie found; null before any was started.
const MovieFindings* FindingsOf(HWND dialog);

// Closing the window while work runs cancels the work first: the window
// closes once the work has ended.
void RequestClose(HWND dialog);
bool CloseRequested(HWND dialog);

// The line that ends the information text (0: none), kept until the next
// file is opened or work starts.
void SetLastInfoLine(HWND dialog, UINT line);
UINT LastInfoLineOf(HWND dialog);
