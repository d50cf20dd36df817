#pragma once
// One long task on a worker thread behind a small modal dialog: the item under way, a
// count of finished items on a bar and in a text, and an abort button. A ProgressState is
// the whole state of one such dialog: DialogBoxParam hands it to the dialog procedure as
// lParam and CreateThread to the worker as its parameter. The worker talks to the dialog
// only by posted messages and sees the rest through atomics; the dialog never calls into
// the worker.
//
// The posted messages are WM_USER with wParam 1 (the status text), 2 (the dialog's new
// caption) or 3 (one item more done: the bar steps and the count text changes); lParam
// is a text block the dialog takes over.
#include <windows.h>

#include <atomic>
#include <functional>

namespace zelvo {

using ProgressRoutine = std::function<int()>;

// The dialog template and its controls; an id of 0 leaves that control alone.
struct ProgressLayout {
  int templateId = 0;
  int barId = 0;     // a progress bar counting 0 to the total
  int textId = 0;    // "%d/%d 終了"
  int statusId = 0;  // the item under way
};

// Stands in for CreateThread when starting the worker.
using ProgressThreadStarter = HANDLE (*)(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId);

class ProgressState {
 public:
  ProgressState(HINSTANCE instance, const ProgressLayout& layout);
  ProgressState(const ProgressState&) = delete;
  ProgressState& operator=(const ProgressState&) = delete;

  // Shows the dialog modally over `owner` (may be null), runs `routine` on a new thread
  // and returns its result once the dialog has ended: the routine's own result, or 1
  // when the dialog could not be shown or no worker thread started (the routine never
  // ran). The bar counts 0 to `total`.
  int RunProgressDialog(HWND owner, int total, const ProgressRoutine& routine);

  // For the routine, on the worker thread. Nothing is shown any more once abort was asked.
  void PostStatusText(const char* text);
  void PostCaptionText(const char* text);
  void PostProgressStep();
  // True once the abort button, Esc, or a WM_CLOSE that the worker did not send asked the
  // routine to stop; stays so after Run until the next Run.
  bool IsAbortRequested() const { return abortRequested_.load(); }

  // Test seam: how the worker is started (null: CreateThread), so that the path where no
  // thread can be started can be exercised.
  void SetThreadStarter(ProgressThreadStarter starter) { threadStarter_ = starter; }

 private:
  static INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static DWORD WINAPI ProgressWorkerMain(LPVOID parameter);
  INT_PTR Start(HWND dialog);
  void PostText(WPARAM code, const char* text);
  void ShowPosted(HWND dialog, WPARAM code, const char* text) const;

  // Set before the dialog starts; read by both threads (thread creation orders them).
  const HINSTANCE instance_;
  const ProgressLayout layout_;
  int total_ = 0;
  const ProgressRoutine* routine_ = nullptr;
  ProgressThreadStarter threadStarter_ = nullptr;
  // Exchanged between the two threads while the worker runs.
  std::atomic<HWND> dialog_{nullptr};
  std::atomic<int> result_{1};
  std::atomic<bool> abortRequested_{false};
  std::atomic<int> framesDone_{0};
  // Set by the worker after it stored the result and before it posts its WM_CLOSE: a
  // WM_CLOSE arriving while this is clear came from someone else.
  std::atomic<bool> workerDone_{false};
  // Dialog thread only.
  bool started_ = false;
};

}  // namespace zelvo
