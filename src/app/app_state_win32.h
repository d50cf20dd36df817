#pragma once
// The record the main dialog keeps between jobs, and the job the program's entry and the
// dialog's Run start on it. One per process: the batch of the command line fills it, so
// that a main dialog opened afterwards shows the last sequence that was started.
#include <windows.h>

#include "platform/path_buffer.h"

namespace zelvo {

struct AppState {
  int foundFirst = -1;    // first number of the run found on disk; -1: none
  int foundLast = -1;     // last number of that run; -1: none
  int firstNumber = -1;   // chosen first frame of the job; -1: unset
  int lastNumber = -1;    // chosen last frame of the job; -1: unset
  int frameRate = 15000;  // thousandths of a frame per second
  int dialogFirst = 0;    // the main dialog's working copy of foundFirst
  int dialogLast = 0;     // the main dialog's working copy of foundLast
  HINSTANCE instance = nullptr;
  HWND mainWindow = nullptr;  // the main dialog; null during a batch (boxes have no owner)
  int frameCount = 0;
  char outputPath[kPathSize] = {};
  char inputPath[kPathSize] = {};
};

AppState& App();

// One conversion with message boxes, the progress dialog and the Video for Windows
// writer. With a frame path (the command line): the whole run on disk around it into the
// default output, after a confirmation. With null (the main dialog's Run): the input,
// range, output and rate the dialog stored in App(), without confirmation. Afterwards
// App() holds the job's names, numbers and count; inputPath names the frame the job
// ended at. Returns 0 written, 1 failed or aborted, 2 declined.
int ConvertSequence(const char* framePath);

}  // namespace zelvo
