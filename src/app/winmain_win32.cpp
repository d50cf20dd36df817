// zelvo.exe: converts the sequences of the frames named on the command line at once, and
// opens the main dialog when there are none or one of them was unusable.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_state_win32.h"
#include "app/main_dialog_win32.h"
#include "image/frame_reader.h"
#include "resource_ids.h"
#include "platform/paths.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace zelvo;
  AppState app;
  app.instance = instance;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  bool failure = __argc <= 1;
  for (int i = 1; i < __argc; ++i) {
    const char* argument = __argv[i];
    if (argument[0] == '-' || argument[0] == '/') continue;  // no switch is recognised
    char path[kPathSize];
    if (!ResolveLongPath(path, argument, kPathSize)) {
      failure = true;
      continue;
    }
    // A name too long to take the default extension counts as unusable rather than being cut.
    const std::string named = WithDefaultExtension(path);
    if (named.empty()) {
      failure = true;
      continue;
    }
    std::snprintf(path, sizeof path, "%s", named.c_str());
    if (ProbePath(path) == 0 || !ProbeFrame(path)) {
      failure = true;
      continue;
    }
    ConvertSequence(app, path);  // the job reports its own outcome
  }
  if (!failure) return 0;
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, reinterpret_cast<LPARAM>(&app));
  return 1;
}
