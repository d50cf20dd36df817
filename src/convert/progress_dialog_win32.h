#pragma once
// One long task on a worker thread behind a small modal dialog: the item under way, a
// count of finished items on a bar and in a text, and an abort button. One progress
// dialog at a time. The worker talks to the dialog only by posted messages and reads one
// atomic abort flag; the dialog never calls into the worker.
#include <windows.h>

#include <functional>

namespace zelvo {

using ProgressRoutine = std::function<int()>;

// Message codes of the worker's WM_USER posts (wParam). lParam carries a heap block that
// the dialog frees after showing it.
constexpr WPARAM kProgressStatusText = 1;
constexpr WPARAM kProgressCaptionText = 2;
constexpr WPARAM kProgressStep = 3;

// Shows dialog `templateId` modally over `owner` (may be null), runs `routine` on a new
// thread and returns its result once the dialog has ended: the routine's own result, or 1
// when no worker thread could be started (the routine never ran). Bar `barId` counts 0 to
// `total`; text `textId` shows "%d/%d 終了".
int RunProgressDialog(HWND owner, HINSTANCE instance, int templateId, const ProgressRoutine& routine,
                      int barId, int textId, int total);

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI ProgressWorkerMain(LPVOID parameter);

// For the routine, on the worker thread. Nothing is shown any more once abort was asked.
void PostStatusText(int controlId, const char* text);
void PostCaptionText(const char* text);
void PostProgressStep(int barId, int textId);
bool IsProgressAbortRequested();

// Progress bar operations on control `id` of `dialog`.
void SetProgressStep(HWND dialog, int id, int step);
// 16-bit range, as PBM_SETRANGE takes it.
void SetProgressRange(HWND dialog, int id, int low, int high);
void SetProgressPos(HWND dialog, int id, int position);
void StepProgress(HWND dialog, int id);
// Step, range and position in that order; a bound above 65535 uses the 32-bit range, so the
// bar of a long job tracks the count instead of wrapping.
void InitProgressBar(HWND dialog, int id, int step, int low, int high, int position);

// Replaces CreateThread for the dialog's worker (null restores CreateThread), so the path
// where no thread can be started can be exercised.
using ProgressThreadStarter = HANDLE (*)(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId);
void SetProgressThreadStarter(ProgressThreadStarter starter);

}  // namespace zelvo
