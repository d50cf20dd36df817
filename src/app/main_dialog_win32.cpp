#include "app/main_dialog_win32.h"

#include <cstdio>
#include <string>

#include "app/app_state_win32.h"
#include "controls/input_group_win32.h"
#include "controls/numeric_pair_win32.h"
#include "controls/output_group_win32.h"
#include "convert/conversion_job.h"
#include "convert/job_texts.h"
#include "image/bmp_reader.h"
#include "image/png_reader.h"
#include "platform/path_buffer.h"
#include "platform/paths.h"
#include "platform/window_win32.h"
#include "../../resources/resource_ids.h"  // shared with the resource script
#include "sequence/sequence.h"

namespace zelvo {

namespace {

const char kOutputFilter[] = "AVI (*.AVI)\n*.avi";
const char kUnreadableInput[] =
    "入力ファイルを読み込めません。\n入力ファイルを正しくセットしてください。";
// Thousandths of a frame per second: 0.001 to 120, a frame per second per arrow, ten
// per page.
constexpr int kRateMinimum = 1;
constexpr int kRateMaximum = 120000;
constexpr int kRateScale = 1000;
constexpr int kRateLineStep = 1000;
constexpr int kRatePageStep = 10000;
constexpr int kInputFilterIndex = 2;

StartJobFunction startJobOverride = nullptr;
ReportFunction reportOverride = nullptr;
// Set while this dialog is inside a job it started: the compressor dialog and the
// writer's message boxes run their own message loops, and a Run arriving through them
// must not start a second job.
bool runInProgress = false;
// The name derived from the input that did not fit in the output buffer, while the
// output box still shows an older name: Run reports it instead of writing to that older
// name. Cleared by a name that fits and by any change the user makes to the output box.
std::string unfitOutputName;

int StartJob(const char* framePath) {
  return startJobOverride != nullptr ? startJobOverride(framePath) : ConvertSequence(framePath);
}

void Report(const char* text) {
  if (reportOverride != nullptr) {
    reportOverride(text);
  } else {
    MessageBoxA(App().mainWindow, text, "Zelvo", MB_OK);
  }
}

void SetMenuItem(HMENU menu, UINT command, bool enabled) {
  EnableMenuItem(menu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void InitDialog(HWND dialog) {
  AppState& app = App();
  CenterWindow(dialog, nullptr);
  app.mainWindow = dialog;
  SetDialogIcon(dialog, app.instance, IDI_ZELVO);
  const HMENU menu = GetSystemMenu(dialog, FALSE);
  SetMenuItem(menu, SC_MAXIMIZE, false);
  SetMenuItem(menu, SC_RESTORE, false);
  SetMenuItem(menu, SC_SIZE, false);
}

// The default output: the input's folder and name without its number, with ".avi".
// A name that would not fit in the output buffer leaves the box and the buffer as they
// were.
void DeriveOutputName(HWND dialog) {
  char input[kPathSize] = {};
  GetDlgItemTextA(dialog, IDC_INPUT_PATH, input, kPathSize);
  const std::string output = DefaultOutputName(input);
  if (output.size() >= static_cast<size_t>(kPathSize)) {
    unfitOutputName = output;
    return;
  }
  unfitOutputName.clear();
  AppState& app = App();
  std::snprintf(app.outputPath, kPathSize, "%s", output.c_str());
  SetDlgItemTextA(dialog, IDC_OUTPUT_PATH, app.outputPath);
}

bool InputReadable(const char* path) {
  if (ProbePath(path) == 0) return false;
  return IsBmpFile(path) || IsPngFile(path);
}

bool RunUnderWay() { return runInProgress || JobUnderWay(); }

void Run(HWND dialog) {
  AppState& app = App();
  if (!InputReadable(app.inputPath)) {
    Report(kUnreadableInput);
    return;
  }
  if (!unfitOutputName.empty()) {
    char text[3000];
    std::snprintf(text, sizeof text, JapaneseJobText(JobText::kUnwritableOutput), unfitOutputName.c_str());
    Report(text);
    return;
  }
  // The compressor dialog and the writer's message boxes have no owner: the dialog is
  // disabled while the job runs, so none of its controls can start another one.
  runInProgress = true;
  EnableWindow(dialog, FALSE);
  StartJob(nullptr);
  EnableWindow(dialog, TRUE);
  runInProgress = false;
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  AppState& app = App();
  if (message == WM_INITDIALOG) InitDialog(dialog);
  // A Run while a job is under way is dropped before the groups see it: their hand-over
  // would rewrite the paths, numbers and rate that the job is working with.
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK && RunUnderWay()) return 1;

  const int input = InputGroupProc(
      dialog, message, wParam, lParam, IDC_INPUT_PATH, IDC_INPUT_BROWSE, IDC_FIRST_SCROLL,
      IDC_FIRST_EDIT, IDC_LAST_SCROLL, IDC_LAST_EDIT, IDC_FRAME_COUNT, IDC_INPUT_GROUP,
      &app.dialogFirst, &app.dialogLast, app.inputPath, &app.foundFirst, &app.foundLast,
      &app.firstNumber, &app.lastNumber, nullptr, kInputFilterIndex);
  if (input == 2) {
    DeriveOutputName(dialog);
    if (message == WM_DROPFILES) SetForegroundWindow(dialog);
  }
  const int output = OutputGroupProc(dialog, message, wParam, lParam, IDC_OUTPUT_PATH,
                                     IDC_OUTPUT_BROWSE, app.outputPath, kOutputFilter);
  if (output == 2) unfitOutputName.clear();  // the user chose or typed an output name
  const int rate = NumericPairProc(dialog, message, wParam, lParam, IDC_RATE_SCROLL,
                                   IDC_RATE_EDIT, &app.frameRate, kRateMinimum,
                                   kRateMaximum, false, kRateScale, kRateLineStep,
                                   kRatePageStep);

  if (message == WM_SYSCOMMAND) {
    const HMENU menu = GetSystemMenu(dialog, FALSE);
    if (wParam == SC_MINIMIZE) {
      SetMenuItem(menu, SC_RESTORE, true);
      SetMenuItem(menu, SC_MINIMIZE, false);
      return 0;
    }
    if (wParam == SC_RESTORE) {
      SetMenuItem(menu, SC_RESTORE, false);
      SetMenuItem(menu, SC_MINIMIZE, true);
      return 0;
    }
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    Run(dialog);
    return 1;
  }
  return input + output + rate + CommonDialogHandler(dialog, message, wParam, lParam);
}

int CommonDialogHandler(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  if (message == WM_DROPFILES) {
    DragFinish(reinterpret_cast<HDROP>(wParam));
    return 1;
  }
  if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_DESTROY) {
    EndDialog(dialog, 0);
    return 1;
  }
  return 0;
}

void SetDialogIcon(HWND window, HINSTANCE instance, int iconId) {
  const HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(iconId));
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void SetMainDialogActions(StartJobFunction startJob, ReportFunction report) {
  startJobOverride = startJob;
  reportOverride = report;
}

}  // namespace zelvo
