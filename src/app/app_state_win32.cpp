#include "app/app_state_win32.h"

#include <cstdio>

#include "app/windows_host_win32.h"
#include "convert/conversion_job.h"

namespace zelvo {

int ConvertSequence(AppState& app, const char* framePath) {
  WindowsHost host(app.mainWindow, app.instance);
  JobSettings settings;
  if (framePath != nullptr) {
    FrameRun run;
    const RunProblem problem = FindFrameRun(framePath, &run);
    if (problem != RunProblem::kNone) {
      ReportRunProblem(host, problem, framePath);
      return static_cast<int>(JobOutcome::kFailed);
    }
    settings = run.settings;
    app.foundFirst = run.foundFirst;
    app.foundLast = run.foundLast;
  } else {
    settings.input = app.inputPath;
    settings.output = app.outputPath;
    settings.first = app.firstNumber;
    settings.last = app.lastNumber;
  }
  settings.rate = app.frameRate;
  ConversionJob job(host, settings);
  const JobOutcome outcome = job.ConvertSequence(/*confirm=*/framePath != nullptr);
  std::snprintf(app.inputPath, sizeof app.inputPath, "%s", job.framePath());
  std::snprintf(app.outputPath, sizeof app.outputPath, "%s", settings.output.c_str());
  app.firstNumber = settings.first;
  app.lastNumber = settings.last;
  app.frameCount = job.frameCount();
  return static_cast<int>(outcome);
}

}  // namespace zelvo
