#pragma once
// The process-wide application state that the entry point, the main dialog, its control
// groups, the conversion job and its worker share. One instance, alive for the process.
#include <atomic>
#include <memory>

#include "convert/frame_writer.h"
#include "platform/path_buffer.h"

namespace zelvo {

struct AppState {
  int foundFirst = -1;   // first number of the run found on disk; -1: none
  int foundLast = -1;    // last number of that run; -1: none
  int firstNumber = -1;  // chosen first frame of the job; -1: unset
  int lastNumber = -1;   // chosen last frame of the job; -1: unset
  int frameRate = 15000; // frames per frameScale seconds: thousandths by default
  int frameScale = 1000; // the stream's dwScale; the Linux program sets it for exact fractions
  int dialogFirst = 0;   // the main dialog's working copy of foundFirst
  int dialogLast = 0;    // the main dialog's working copy of foundLast
  void* instance = nullptr;    // HINSTANCE on Windows
  void* mainWindow = nullptr;  // HWND of the main dialog; null during a batch
  int frameCount = 0;
  char outputPath[kPathSize] = {};
  char inputPath[kPathSize] = {};
  std::unique_ptr<FrameWriter> writer;  // the job's writer; null between jobs
  // True while a job runs, so the main dialog never starts a second one.
  std::atomic<bool> jobRunning{false};
};

AppState& App();

}  // namespace zelvo
