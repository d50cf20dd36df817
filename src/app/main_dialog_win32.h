#pragma once
// The main dialog (resource 135): the input-sequence group, the output-file group and the
// frame-rate pair, each served by its own per-message handler, plus Run and Exit. The
// dialog keeps no state of its own; it works on App().
#include <windows.h>

namespace zelvo {

// The dialog procedure. Hands every message to the input group, derives the output name
// whenever the input changed, then to the output group and the frame-rate pair; keeps the
// system menu in step with the minimised state; on Run checks the input and starts one
// conversion job (never a second while one is under way).
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Finishes every drop and ends the dialog on Exit (command 2) or WM_DESTROY. Returns 1
// when it handled the message, else 0.
int CommonDialogHandler(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Gives `window` the big icon `iconId` of `instance`.
void SetDialogIcon(HWND window, HINSTANCE instance, int iconId);

// Test seam for Run: the job that starts a conversion (ConvertSequence by default) and
// the report of an unreadable input (a "Zelvo" message box by default). Null restores
// the default.
using StartJobFunction = int (*)(const char* framePath);
using ReportFunction = void (*)(const char* text);
void SetMainDialogActions(StartJobFunction startJob, ReportFunction report);

}  // namespace zelvo
