#include "convert/progress_dialog_win32.h"

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/window_win32.h"

namespace zelvo {

namespace {

const char kProgressFormat[] = "%d/%d 終了";

// One posted text. The worker allocates it, the dialog shows and frees it, so no buffer is
// ever written by one thread while the other reads it.
struct PostedText {
  int firstId;   // status control; or the bar of a step
  int secondId;  // the progress text of a step
  char text[520];
};

// Values set before the worker starts (thread creation orders them) or exchanged between the
// two threads while it runs; atomic either way, so no access is a data race.
// Set before the worker starts and read only by it: thread creation orders the two.
ProgressRoutine gRoutine;
std::atomic<HWND> gDialog{nullptr};
std::atomic<int> gResult{0};
std::atomic<int> gAbortRequested{0};
std::atomic<int> gFramesDone{0};
std::atomic<int> gTotal{0};
std::atomic<int> gStatusId{0};
std::atomic<int> gTextId{0};
std::atomic<int> gBarId{0};
// Dialog thread only.
bool gStarted = false;
// Set by the worker after it stored the result and before it posts its WM_CLOSE: a
// WM_CLOSE arriving while this is clear came from someone else.
std::atomic<bool> gWorkerDone{false};
std::atomic<ProgressThreadStarter> gThreadStarter{nullptr};

HANDLE StartThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId) {
  ProgressThreadStarter starter = gThreadStarter.load();
  if (starter != nullptr) return starter(start, parameter, threadId);
  return CreateThread(nullptr, 0, start, parameter, 0, threadId);
}

void PostText(WPARAM code, int firstId, int secondId, const char* text) {
  PostedText* block = new (std::nothrow) PostedText;
  if (block == nullptr) return;
  block->firstId = firstId;
  block->secondId = secondId;
  std::snprintf(block->text, sizeof(block->text), "%s", text != nullptr ? text : "");
  HWND dialog = gDialog.load();
  if (dialog == nullptr || !PostMessageA(dialog, WM_USER, code, reinterpret_cast<LPARAM>(block))) {
    delete block;
  }
}

void ShowPosted(HWND dialog, WPARAM code, PostedText* block) {
  switch (code) {
    case kProgressStatusText:
      SetDlgItemTextA(dialog, block->firstId, block->text);
      break;
    case kProgressCaptionText:
      SetWindowTextA(dialog, block->text);
      break;
    case kProgressStep:
      StepProgress(dialog, block->firstId);
      SetDlgItemTextA(dialog, block->secondId, block->text);
      break;
  }
}

bool IsOwnText(WPARAM code) {
  return code == kProgressStatusText || code == kProgressCaptionText || code == kProgressStep;
}

// Posts still queued when the window goes would be dropped with their blocks: free them.
void DiscardPending(HWND dialog) {
  MSG message;
  while (PeekMessageA(&message, dialog, WM_USER, WM_USER, PM_REMOVE)) {
    if (IsOwnText(message.wParam)) delete reinterpret_cast<PostedText*>(message.lParam);
  }
}

void ClearState() {
  gDialog = nullptr;
  gStarted = false;
  gFramesDone = 0;
  gTotal = 0;
  gStatusId = 0;
  gTextId = 0;
  gBarId = 0;
}

}  // namespace

void SetProgressThreadStarter(ProgressThreadStarter starter) { gThreadStarter = starter; }

int RunProgressDialog(HWND owner, HINSTANCE instance, int templateId, const ProgressRoutine& routine,
                      int barId, int textId, int total) {
  gRoutine = routine;
  gBarId = barId;
  gTextId = textId;
  gTotal = total;
  gAbortRequested = 0;
  gFramesDone = 0;
  gWorkerDone = false;
  // Stays 1 unless a worker runs the routine: a dialog that could not be shown or a thread
  // that could not start must not pass for success.
  gResult = 1;
  if (DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, ProgressDialogProc, 0) == -1) {
    ClearState();
    return 1;
  }
  return gResult.load();
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      if (gStarted) return TRUE;
      gDialog = dialog;
      CenterWindow(dialog, GetParent(dialog));
      const int barId = gBarId, textId = gTextId, total = gTotal;
      if (barId != 0 || textId != 0 || total != 0) {
        InitProgressBar(dialog, barId, 1, 0, total, 0);
        char text[100];
        std::snprintf(text, sizeof(text), kProgressFormat, 0, total);
        SetDlgItemTextA(dialog, textId, text);
      }
      DWORD threadId = 0;
      HANDLE thread = StartThread(ProgressWorkerMain, dialog, &threadId);
      if (thread == nullptr) {
        // No worker will ever ask the dialog to close: end it now, as a failure.
        gResult = 1;
        ClearState();
        EndDialog(dialog, 0);
        return TRUE;
      }
      CloseHandle(thread);  // nobody waits for the worker; its end is its WM_CLOSE
      gStarted = true;
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {  // the abort button, and Esc
        gAbortRequested = 1;
        return TRUE;
      }
      return FALSE;
    case WM_USER:
      if (IsOwnText(wParam) && lParam != 0) {
        PostedText* block = reinterpret_cast<PostedText*>(lParam);
        ShowPosted(dialog, wParam, block);
        delete block;
      }
      return TRUE;
    case WM_CLOSE:
      if (gStarted && !gWorkerDone) {
        // Not the worker's: ending now would hand the caller a result the routine has not
        // stored while it still uses the job's state. Take it as the abort button.
        gAbortRequested = 1;
        return TRUE;
      }
      ClearState();
      EndDialog(dialog, 0);
      return TRUE;
    case WM_DESTROY:
      DiscardPending(dialog);
      ClearState();
      return TRUE;
    default:
      return FALSE;
  }
}

DWORD WINAPI ProgressWorkerMain(LPVOID parameter) {
  // The dialog that started this worker. Read from the shared state after the routine, it
  // could already be the next job's dialog, which would take this close for an abort.
  HWND dialog = static_cast<HWND>(parameter);
  gResult = gRoutine ? gRoutine() : 1;
  gWorkerDone = true;
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  return 0;
}

void PostStatusText(int controlId, const char* text) {
  gStatusId = controlId;
  if (gAbortRequested) return;
  PostText(kProgressStatusText, controlId, 0, text);
}

void PostCaptionText(const char* text) {
  if (gAbortRequested) return;
  PostText(kProgressCaptionText, 0, 0, text);
}

void PostProgressStep(int barId, int textId) {
  gBarId = barId;
  gTextId = textId;
  if (gAbortRequested) return;
  const int done = ++gFramesDone;
  char text[100];
  std::snprintf(text, sizeof(text), kProgressFormat, done, gTotal.load());
  PostText(kProgressStep, barId, textId, text);
}

bool IsProgressAbortRequested() { return gAbortRequested.load() != 0; }

void SetProgressStep(HWND dialog, int id, int step) {
  SendDlgItemMessageA(dialog, id, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void SetProgressRange(HWND dialog, int id, int low, int high) {
  SendDlgItemMessageA(dialog, id, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void SetProgressPos(HWND dialog, int id, int position) {
  SendDlgItemMessageA(dialog, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void StepProgress(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, PBM_STEPIT, 0, 0); }

void InitProgressBar(HWND dialog, int id, int step, int low, int high, int position) {
  SetProgressStep(dialog, id, step);
  if (low < 0 || high < 0 || low > 0xffff || high > 0xffff) {
    SendDlgItemMessageA(dialog, id, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
  } else {
    SetProgressRange(dialog, id, low, high);
  }
  SetProgressPos(dialog, id, position);
}

}  // namespace zelvo
