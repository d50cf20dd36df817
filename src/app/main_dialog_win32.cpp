#include "app/main_dialog_win32.h"

#include <cstdio>
#include <string>

#include "convert/conversion_job.h"
#include "convert/job_texts.h"
#include "image/frame_reader.h"
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

void Report(const AppState& app, const char* text) {
  if (app.report != nullptr) {
    app.report(text);
  } else {
    OwnedMessageBox(app.mainWindow, text, "Zelvo", MB_OK);
  }
}

void SetMenuItem(HMENU menu, UINT command, bool enabled) {
  EnableMenuItem(menu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void InitDialog(HWND dialog, AppState& app) {
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
void DeriveOutputName(HWND dialog, AppState& app) {
  char input[kPathSize] = {};
  GetDlgItemTextA(dialog, IDC_INPUT_PATH, input, kPathSize);
  const std::string output = DefaultOutputName(input);
  if (output.size() >= static_cast<size_t>(kPathSize)) {
    app.unfitOutputName = output;
    return;
  }
  app.unfitOutputName.clear();
  std::snprintf(app.outputPath, kPathSize, "%s", output.c_str());
  SetDlgItemTextA(dialog, IDC_OUTPUT_PATH, app.outputPath);
}

bool InputReadable(const char* path) {
  if (ProbePath(path) == 0) return false;
  return static_cast<bool>(ProbeFrame(path));
}

// The compressor dialog and the writer's message boxes run their own message loops, and
// a Run arriving through them must not start a second job.
bool RunUnderWay(const AppState& app) { return app.runUnderWay || JobUnderWay(); }

void Run(HWND dialog, AppState& app) {
  if (!InputReadable(app.inputPath)) {
    Report(app, kUnreadableInput);
    return;
  }
  if (!app.unfitOutputName.empty()) {
    char text[3000];
    std::snprintf(text, sizeof text, JapaneseJobText(JobText::kUnwritableOutput), app.unfitOutputName.c_str());
    Report(app, text);
    return;
  }
  // The dialog stays disabled while the job runs, so none of its controls can start
  // another one or end the program under it; the job's questions, the compressor dialog,
  // the progress dialog and the messages it owns keep it so. Afterwards it takes the
  // keyboard back where the user left it.
  const HWND focus = GetFocus();
  app.runUnderWay = true;
  EnableWindow(dialog, FALSE);
  app.startJob(app, nullptr);
  EnableWindow(dialog, TRUE);
  app.runUnderWay = false;
  ReturnFocus(dialog, focus);
}

// The system menu follows the minimised state: Restore only while minimised.
bool SystemCommand(HWND dialog, WPARAM command) {
  if (command != SC_MINIMIZE && command != SC_RESTORE) return false;
  const HMENU menu = GetSystemMenu(dialog, FALSE);
  SetMenuItem(menu, SC_RESTORE, command == SC_MINIMIZE);
  SetMenuItem(menu, SC_MINIMIZE, command == SC_RESTORE);
  return true;
}

// The model kept in the dialog; null before WM_INITDIALOG has stored it.
AppState* ModelOf(HWND dialog, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  return reinterpret_cast<AppState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

}  // namespace

InputGroup MainInputGroup(const AppState& app) {
  InputGroup g;
  g.pathEditId = IDC_INPUT_PATH;
  g.browseId = IDC_INPUT_BROWSE;
  g.firstScrollId = IDC_FIRST_SCROLL;
  g.firstEditId = IDC_FIRST_EDIT;
  g.lastScrollId = IDC_LAST_SCROLL;
  g.lastEditId = IDC_LAST_EDIT;
  g.countId = IDC_FRAME_COUNT;
  g.groupId = IDC_INPUT_GROUP;
  g.filterIndex = 2;  // RLE first: the type the Open dialog preselects
  g.openDialog = app.openDialog;
  return g;
}

OutputGroup MainOutputGroup(const AppState& app) {
  return {IDC_OUTPUT_PATH, IDC_OUTPUT_BROWSE, kOutputFilter, app.saveDialog};
}

const NumericPair& MainRatePair() {
  // Thousandths of a frame per second: 0.001 to 120, a frame per second per arrow, ten
  // per page.
  static const NumericPair pair = {IDC_RATE_SCROLL, IDC_RATE_EDIT, 1, 120000, 1000, false, 1000, 10000};
  return pair;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  AppState* const model = ModelOf(dialog, message, lParam);
  if (model == nullptr) return FALSE;
  AppState& app = *model;
  if (message == WM_INITDIALOG) InitDialog(dialog, app);
  // A Run while a job is under way is dropped before the groups see it: their hand-over
  // would rewrite the paths, numbers and rate that the job is working with. So is Exit
  // (also the close box and Alt+F4): ending the dialog would leave the job running on
  // without a window. The dialog is disabled then, but a message box that the job shows
  // from its worker thread enables it for a moment as it closes.
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) && RunUnderWay(app)) {
    return 1;
  }

  const GroupResult input = InputGroupProc(dialog, message, wParam, lParam, MainInputGroup(app), &app);
  if (input == GroupResult::kChanged) {
    DeriveOutputName(dialog, app);
    if (message == WM_DROPFILES) SetForegroundWindow(dialog);
  }
  const GroupResult output = OutputGroupProc(dialog, message, wParam, lParam, MainOutputGroup(app), app.outputPath);
  if (output == GroupResult::kChanged) app.unfitOutputName.clear();  // the user chose or typed a name
  const GroupResult rate = NumericPairProc(dialog, message, wParam, lParam, MainRatePair(), &app.frameRate);

  if (message == WM_SYSCOMMAND && SystemCommand(dialog, wParam)) return 0;
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    Run(dialog, app);
    return 1;
  }
  if (message == WM_DESTROY) app.mainWindow = nullptr;
  const bool common = CommonDialogHandler(dialog, message, wParam, lParam);
  const bool groups = input != GroupResult::kNotMine || output != GroupResult::kNotMine || rate != GroupResult::kNotMine;
  return common || groups ? TRUE : FALSE;
}

bool CommonDialogHandler(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  if (message == WM_DROPFILES) {
    DragFinish(reinterpret_cast<HDROP>(wParam));
    return true;
  }
  if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_DESTROY) {
    EndDialog(dialog, 0);
    return true;
  }
  return false;
}

void SetDialogIcon(HWND window, HINSTANCE instance, int iconId) {
  const HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(iconId));
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

}  // namespace zelvo
