#pragma once
// The main dialog (resource 135): the input-sequence group, the output-file group and the
// frame-rate pair, each served by its own per-message handler, plus Run and Exit. Its
// model is the AppState handed to DialogBoxParam (or CreateDialogParam) as the creation
// parameter; the procedure keeps it in the dialog's DWLP_USER.
#include <windows.h>

#include "app/app_state_win32.h"
#include "controls/input_group_win32.h"
#include "controls/numeric_pair_win32.h"
#include "controls/output_group_win32.h"

namespace zelvo {

// The dialog procedure. Hands every message to the input group, derives the output name
// whenever the input changed, then to the output group and the frame-rate pair; keeps the
// system menu in step with the minimised state; on Run checks the input and starts one
// conversion job (never a second while one is under way).
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Finishes every drop and ends the dialog on Exit (command 2) or WM_DESTROY. True when it
// handled the message.
bool CommonDialogHandler(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Gives `window` the big icon `iconId` of `instance`.
void SetDialogIcon(HWND window, HINSTANCE instance, int iconId);

// The main dialog's groups as its procedure describes them, with the file dialogs of `app`.
InputGroup MainInputGroup(const AppState& app);
OutputGroup MainOutputGroup(const AppState& app);
const NumericPair& MainRatePair();

}  // namespace zelvo
