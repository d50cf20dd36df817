#pragma once
// The record the main dialog keeps between jobs, and the job that the program's entry and
// the dialog's Run start on it. WinMain owns the one record of the process: the batch of
// the command line fills it, so that a main dialog opened afterwards shows the last
// sequence that was started, and the dialog receives it as its creation parameter.
#include <windows.h>

#include <string>

#include "controls/file_dialogs_win32.h"
#include "controls/input_group_win32.h"
#include "platform/path_buffer.h"

namespace zelvo {

struct AppState;

// One conversion with message boxes owned by app.mainWindow, the compressor dialog, the
// progress dialog and the Video for Windows writer. With a frame path (the command line):
// the whole run on disk around it into the default output, after a confirmation. With null
// (the main dialog's Run): the input, range, output and rate the dialog stored in `app`,
// without confirmation. Afterwards `app` holds the job's names, numbers and count;
// inputPath names the frame the job ended at. Returns 0 written, 1 failed or aborted, 2
// declined.
int ConvertSequence(AppState& app, const char* framePath);

// What the main dialog's Run starts, and how it tells the user that a Run cannot start.
using StartJobFunction = int (*)(AppState& app, const char* framePath);
using ReportFunction = void (*)(const char* text);

// The input group's selection (path, run on disk, chosen range) and the rest.
struct AppState : InputSelection {
  int frameRate = 15000;  // thousandths of a frame per second
  HINSTANCE instance = nullptr;
  HWND mainWindow = nullptr;  // the main dialog; null during a batch (boxes have no owner)
  int frameCount = 0;
  char outputPath[kPathSize] = {};
  // The main dialog's own working state.
  bool runUnderWay = false;  // Run started a job that has not returned yet
  // The name derived from the input that did not fit in the output buffer, while the
  // output box still shows an older name: Run reports it instead of writing to that older
  // name. Cleared by a name that fits and by any change the user makes to the output box.
  std::string unfitOutputName;
  // What the main dialog reaches beyond itself, handed in by whoever builds the record:
  // WinMain keeps the real ones, tests put fakes here. A null report is a "Zelvo" message
  // box owned by the dialog.
  StartJobFunction startJob = ConvertSequence;
  ReportFunction report = nullptr;
  FileNameDialog openDialog = GetOpenFileNameA;  // the input group's Browse
  FileNameDialog saveDialog = GetSaveFileNameA;  // the output group's Browse
};

}  // namespace zelvo
