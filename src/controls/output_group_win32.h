#pragma once
// The output-file group of a dialog: a path edit box and a Browse button that opens the
// Save As dialog. The group keeps no state: the edit box is the working copy, and the
// caller's path buffer takes its text only when the Run button (IDOK) arrives.
#include <windows.h>

#include "controls/file_dialogs_win32.h"
#include "controls/group_result.h"

namespace zelvo {

struct OutputGroup {
  int editId = 0;
  int browseId = 0;
  const char* filter = nullptr;                 // the Save As type list
  FileNameDialog saveDialog = GetSaveFileNameA;  // shows the Save As dialog
};

// Per-message handler; `path` is a kPathSize buffer. kNotMine when the message is not for
// the group, kHandled when handled, kChanged when the edit box changed (a user edit, seen
// once per change, or a name chosen with Browse).
GroupResult OutputGroupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, const OutputGroup& group,
                            char* path);

}  // namespace zelvo
