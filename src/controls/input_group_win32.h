#pragma once
// The input-sequence group of a dialog: the path of one frame (typed, browsed for or
// dropped on the group box), the first and last numbers of the chosen range as two
// number pairs limited to the run found on disk, and the frame count. The controls and
// the selection's dialogFirst / dialogLast are the working copy; the rest of the
// selection is written only when the Run button (IDOK) arrives.
#include <windows.h>

#include "controls/file_dialogs_win32.h"
#include "controls/group_result.h"
#include "platform/path_buffer.h"

namespace zelvo {

struct InputGroup {
  int pathEditId = 0;
  int browseId = 0;
  int firstScrollId = 0;
  int firstEditId = 0;
  int lastScrollId = 0;
  int lastEditId = 0;
  int countId = 0;
  int groupId = 0;               // the group box that takes dropped files
  const char* filter = nullptr;  // the Open dialog's type list; null: the table of formats'
  int filterIndex = 0;           // its preselected type
  FileNameDialog openDialog = GetOpenFileNameA;  // shows the Open dialog
};

// What the group shows at WM_INITDIALOG and hands over at Run.
struct InputSelection {
  char inputPath[kPathSize] = {};
  int foundFirst = -1;   // first number of the run found on disk; -1: none
  int foundLast = -1;    // last number of that run; -1: none
  int firstNumber = -1;  // chosen first frame of the job; -1: unset (an empty box)
  int lastNumber = -1;   // chosen last frame of the job; -1: unset
  int dialogFirst = 0;   // the working copy of foundFirst while the dialog is used
  int dialogLast = 0;    // the working copy of foundLast
};

// Per-message handler. kNotMine when the message is not for the group, kHandled when
// handled without a change of the input, kChanged when the path was replaced or rescanned
// or the range edited (the caller then re-derives whatever it builds from the path).
GroupResult InputGroupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, const InputGroup& group,
                           InputSelection* selection);

}  // namespace zelvo
