#include "convert/progress_dialog_win32.h"

#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <new>

#include "platform/window_win32.h"

namespace zelvo {

namespace {

const char kProgressFormat[] = "%d/%d 終了";

// What the worker's WM_USER posts carry (wParam).
constexpr WPARAM kStatusText = 1;
constexpr WPARAM kCaptionText = 2;
constexpr WPARAM kStep = 3;

// One posted text. The worker makes it and releases it into PostMessage; the dialog
// adopts it from lParam, shows it and lets it go. No buffer is ever written by one thread
// while the other reads it.
struct PostedText {
  char text[520];
};

std::unique_ptr<PostedText> MakePostedText(const char* text) {
  std::unique_ptr<PostedText> block;
  try {
    block = std::make_unique<PostedText>();
  } catch (const std::bad_alloc&) {
    return block;  // the text is not shown; the job goes on
  }
  std::snprintf(block->text, sizeof block->text, "%s", text != nullptr ? text : "");
  return block;
}

std::unique_ptr<PostedText> AdoptPostedText(LPARAM lParam) {
  return std::unique_ptr<PostedText>(reinterpret_cast<PostedText*>(lParam));
}

bool IsOwnText(WPARAM code) { return code == kStatusText || code == kCaptionText || code == kStep; }

// Posts still queued when the window goes would be dropped with their blocks: adopt them.
void DiscardPending(HWND dialog) {
  MSG message;
  while (PeekMessageA(&message, dialog, WM_USER, WM_USER, PM_REMOVE)) {
    if (IsOwnText(message.wParam)) AdoptPostedText(message.lParam);
  }
}

// The progress bar `id` of `dialog`.
void SetProgressStep(HWND dialog, int id, int step) { SendDlgItemMessageA(dialog, id, PBM_SETSTEP, step, 0); }

// A bound outside 0..65535 takes the 32-bit range, so the bar of a long job tracks the
// count instead of wrapping.
void SetProgressRange(HWND dialog, int id, int low, int high) {
  if (low < 0 || high < 0 || low > 0xffff || high > 0xffff) {
    SendDlgItemMessageA(dialog, id, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
  } else {
    SendDlgItemMessageA(dialog, id, PBM_SETRANGE, 0, MAKELPARAM(low, high));
  }
}

void SetProgressPos(HWND dialog, int id, int position) {
  SendDlgItemMessageA(dialog, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void StepProgress(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, PBM_STEPIT, 0, 0); }

// Step, range and position, in that order.
void InitProgressBar(HWND dialog, int id, int step, int low, int high, int position) {
  SetProgressStep(dialog, id, step);
  SetProgressRange(dialog, id, low, high);
  SetProgressPos(dialog, id, position);
}

void ShowCount(HWND dialog, int textId, int done, int total) {
  char text[100];
  std::snprintf(text, sizeof text, kProgressFormat, done, total);
  SetDlgItemTextA(dialog, textId, text);
}

}  // namespace

ProgressState::ProgressState(HINSTANCE instance, const ProgressLayout& layout)
    : instance_(instance), layout_(layout) {}

int ProgressState::RunProgressDialog(HWND owner, int total, const ProgressRoutine& routine) {
  total_ = total;
  routine_ = &routine;
  started_ = false;
  dialog_ = nullptr;
  abortRequested_ = false;
  framesDone_ = 0;
  workerDone_ = false;
  // Stays 1 unless a worker runs the routine: a dialog that could not be shown or a thread
  // that could not start must not pass for success.
  result_ = 1;
  INT_PTR shown = -1;
  {
    KeepOwnerDisabled keep(owner);
    shown = DialogBoxParamA(instance_, MAKEINTRESOURCEA(layout_.templateId), owner, ProgressDialogProc,
                            reinterpret_cast<LPARAM>(this));
  }
  dialog_ = nullptr;
  routine_ = nullptr;
  return shown == -1 ? 1 : result_.load();
}

INT_PTR ProgressState::Start(HWND dialog) {
  if (started_) return TRUE;
  dialog_ = dialog;
  CenterWindow(dialog, GetParent(dialog));
  if (layout_.barId != 0 || layout_.textId != 0 || total_ != 0) {
    InitProgressBar(dialog, layout_.barId, 1, 0, total_, 0);
    ShowCount(dialog, layout_.textId, 0, total_);
  }
  DWORD threadId = 0;
  const HANDLE thread = threadStarter_ != nullptr ? threadStarter_(ProgressWorkerMain, this, &threadId)
                                                  : CreateThread(nullptr, 0, ProgressWorkerMain, this, 0, &threadId);
  if (thread == nullptr) {
    // No worker will ever ask the dialog to close: end it now, as a failure.
    dialog_ = nullptr;
    EndDialog(dialog, 0);
    return TRUE;
  }
  CloseHandle(thread);  // nobody waits for the worker; its end is its WM_CLOSE
  started_ = true;
  return TRUE;
}

INT_PTR CALLBACK ProgressState::ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  auto* self = reinterpret_cast<ProgressState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (self == nullptr) return FALSE;  // the messages before WM_INITDIALOG
  switch (message) {
    case WM_INITDIALOG:
      return self->Start(dialog);
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {  // the abort button, and Esc
        self->abortRequested_ = true;
        return TRUE;
      }
      return FALSE;
    case WM_USER:
      if (IsOwnText(wParam) && lParam != 0) {
        const std::unique_ptr<PostedText> block = AdoptPostedText(lParam);
        self->ShowPosted(dialog, wParam, block->text);
      }
      return TRUE;
    case WM_CLOSE:
      if (self->started_ && !self->workerDone_) {
        // Not the worker's: ending now would hand the caller a result the routine has not
        // stored while it still uses the job's state. Take it as the abort button.
        self->abortRequested_ = true;
        return TRUE;
      }
      self->dialog_ = nullptr;
      EndDialog(dialog, 0);
      return TRUE;
    case WM_DESTROY:
      self->dialog_ = nullptr;
      DiscardPending(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

DWORD WINAPI ProgressState::ProgressWorkerMain(LPVOID parameter) {
  auto* self = static_cast<ProgressState*>(parameter);
  // Taken before the routine: once workerDone_ is set, RunProgressDialog may return and
  // this object go.
  const HWND dialog = self->dialog_;
  self->result_ = *self->routine_ ? (*self->routine_)() : 1;
  self->workerDone_ = true;
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  return 0;
}

void ProgressState::PostText(WPARAM code, const char* text) {
  std::unique_ptr<PostedText> block = MakePostedText(text);
  const HWND dialog = dialog_;
  if (block == nullptr || dialog == nullptr) return;
  if (PostMessageA(dialog, WM_USER, code, reinterpret_cast<LPARAM>(block.get()))) block.release();
}

void ProgressState::ShowPosted(HWND dialog, WPARAM code, const char* text) const {
  if (code == kStatusText) {
    SetDlgItemTextA(dialog, layout_.statusId, text);
  } else if (code == kCaptionText) {
    SetWindowTextA(dialog, text);
  } else {
    StepProgress(dialog, layout_.barId);
    SetDlgItemTextA(dialog, layout_.textId, text);
  }
}

void ProgressState::PostStatusText(const char* text) {
  if (abortRequested_) return;
  PostText(kStatusText, text);
}

void ProgressState::PostCaptionText(const char* text) {
  if (abortRequested_) return;
  PostText(kCaptionText, text);
}

void ProgressState::PostProgressStep() {
  if (abortRequested_) return;
  const int done = ++framesDone_;
  char text[100];
  std::snprintf(text, sizeof text, kProgressFormat, done, total_);
  PostText(kStep, text);
}

}  // namespace zelvo
