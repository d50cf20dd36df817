#pragma once
// The dialog tests start from a fresh process's application record, with this test
// program as the instance that dialogs and icons come from.
#include <windows.h>

#include "app/app_state_win32.h"

namespace zelvo {

inline void ResetAppState() {
  App() = AppState();
  App().instance = GetModuleHandleA(nullptr);
}

}  // namespace zelvo
