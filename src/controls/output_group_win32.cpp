#include "controls/output_group_win32.h"

#include "controls/file_dialogs_win32.h"
#include "controls/numeric_pair_win32.h"
#include "platform/path_buffer.h"

namespace zelvo {

GroupResult OutputGroupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/, const OutputGroup& group,
                            char* path) {
  if (message == WM_INITDIALOG) {
    SetDlgItemTextA(dialog, group.editId, path);
    return GroupResult::kHandled;
  }
  if (message != WM_COMMAND) return GroupResult::kNotMine;
  const int id = LOWORD(wParam);
  if (id == group.editId) return TakeEditModified(dialog, group.editId) ? GroupResult::kChanged : GroupResult::kHandled;
  if (id == group.browseId) {
    // A buffer of its own: a cancelled dialog leaves the box and the caller's path alone.
    char chosen[kPathSize] = {};
    GetDlgItemTextA(dialog, group.editId, chosen, kPathSize);
    if (ChooseSaveFile(chosen, group.filter, dialog, 0, group.saveDialog) == 0) return GroupResult::kHandled;
    SetDlgItemTextA(dialog, group.editId, chosen);
    return GroupResult::kChanged;
  }
  if (id == IDOK) {
    GetDlgItemTextA(dialog, group.editId, path, kPathSize);
    return GroupResult::kHandled;
  }
  return GroupResult::kNotMine;
}

}  // namespace zelvo
