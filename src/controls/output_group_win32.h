#pragma once
// The output-file group of a dialog: a path edit box and a Browse button that opens the
// Save As dialog. The group keeps no state: the edit box is the working copy, and the
// caller's path buffer takes its text only when the Run button (IDOK) arrives.
#include <windows.h>

namespace zelvo {

// Per-message handler. `path` is a kPathSize buffer; `filter` the Save As type list.
// Returns 0 when the message is not for the group, 1 when handled, 2 when the edit box
// changed (a user edit, seen once per change, or a name chosen with Browse).
int OutputGroupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, int editId,
                    int browseId, char* path, const char* filter);

}  // namespace zelvo
