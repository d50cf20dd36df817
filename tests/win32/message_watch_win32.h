#pragma once
// Message boxes shown by the code under test on this thread: recorded and dismissed with
// OK as they open, so that a test never blocks on one.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zelvo {
namespace test {

struct ShownMessage {
  std::string caption;
  std::string text;
};

inline std::vector<ShownMessage> gMessages;
inline std::vector<HWND> gMessageBoxes;
inline HHOOK gMessageHook = nullptr;

inline LRESULT CALLBACK MessageHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    char className[64] = {};
    GetClassNameA(box, className, sizeof className);
    // A message box is a dialog with a text control 0xffff; recorded once however often
    // it is activated.
    if (std::string(className) == "#32770" && GetDlgItem(box, 0xffff) != nullptr &&
        std::find(gMessageBoxes.begin(), gMessageBoxes.end(), box) == gMessageBoxes.end()) {
      gMessageBoxes.push_back(box);
      char caption[256] = {}, text[3000] = {};
      GetWindowTextA(box, caption, sizeof caption);
      GetDlgItemTextA(box, 0xffff, text, sizeof text);  // the message box's text control
      gMessages.push_back({caption, text});
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(gMessageHook, code, wParam, lParam);
}

// While one lives, boxes are recorded in gMessages (cleared when it starts).
struct MessageWatch {
  MessageWatch() {
    gMessages.clear();
    gMessageBoxes.clear();
    gMessageHook = SetWindowsHookExA(WH_CBT, MessageHook, nullptr, GetCurrentThreadId());
  }
  ~MessageWatch() { UnhookWindowsHookEx(gMessageHook); }
  MessageWatch(const MessageWatch&) = delete;
  MessageWatch& operator=(const MessageWatch&) = delete;
};

}  // namespace test
}  // namespace zelvo
