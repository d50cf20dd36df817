#pragma once
// Window placement shared by the main dialog and the progress dialog.
#include <windows.h>

namespace zelvo {

// Centres `window` over `parent` (over the screen when parent is null), keeping its size
// and Z order, and pulls it back inside the work area: the left and top edges win when the
// window is larger than the work area.
void CenterWindow(HWND window, HWND parent);

}  // namespace zelvo
