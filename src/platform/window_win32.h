#pragma once
// Window placement and ownership shared by the main dialog, the progress dialog, the job's
// message boxes and the writer's compressor dialog.
#include <windows.h>

namespace zelvo {

// Centres `window` over `parent` (over the screen when parent is null), keeping its size
// and Z order, and pulls it back inside the work area: the left and top edges win when the
// window is larger than the work area.
void CenterWindow(HWND window, HWND parent);

// A modal dialog or message box enables its owner when it closes, also an owner that was
// disabled before it opened (the main dialog, all through a job). Held across one, this
// disables such an owner again at once, before any input reaches it.
class KeepOwnerDisabled {
 public:
  explicit KeepOwnerDisabled(HWND owner) : owner_(owner), disabled_(owner != nullptr && !IsWindowEnabled(owner)) {}
  ~KeepOwnerDisabled() {
    if (disabled_) EnableWindow(owner_, FALSE);
  }
  KeepOwnerDisabled(const KeepOwnerDisabled&) = delete;
  KeepOwnerDisabled& operator=(const KeepOwnerDisabled&) = delete;

 private:
  const HWND owner_;
  const bool disabled_;
};

// MessageBoxA owned by `owner` (null: none); a disabled owner stays disabled.
int OwnedMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// Gives `dialog`, enabled again after a task that disabled it, the activation and puts the
// focus back on `focus`, the control that had it before (null or gone: the dialog's own
// choice). A modal window that closes while its owner is disabled hands the activation to
// no one, which would leave the dialog deaf to the keyboard until it is clicked.
void ReturnFocus(HWND dialog, HWND focus);

}  // namespace zelvo
