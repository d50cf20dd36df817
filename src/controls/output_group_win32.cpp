#include "controls/output_group_win32.h"

#include "controls/file_dialogs_win32.h"
#include "controls/numeric_pair_win32.h"
#include "platform/path_buffer.h"

namespace zelvo {

int OutputGroupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, int editId,
                    int browseId, char* path, const char* filter) {
  (void)lParam;
  if (message == WM_INITDIALOG) {
    SetDlgItemTextA(dialog, editId, path);
    return 1;
  }
  if (message != WM_COMMAND) return 0;
  const int id = LOWORD(wParam);
  if (id == editId) return TakeEditModified(dialog, editId) ? 2 : 1;
  if (id == browseId) {
    // A buffer of its own: a cancelled dialog leaves the box and the caller's path alone.
    char chosen[kPathSize] = {};
    GetDlgItemTextA(dialog, editId, chosen, kPathSize);
    if (ChooseSaveFile(chosen, filter, dialog, 0) == 0) return 1;
    SetDlgItemTextA(dialog, editId, chosen);
    return 2;
  }
  if (id == IDOK) {
    GetDlgItemTextA(dialog, editId, path, kPathSize);
    return 1;
  }
  return 0;
}

}  // namespace zelvo
