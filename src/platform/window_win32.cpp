#include "platform/window_win32.h"

namespace zelvo {

namespace {

RECT ScreenRect() {
  RECT screen;
  screen.left = 0;
  screen.top = 0;
  screen.right = GetSystemMetrics(SM_CXSCREEN);
  screen.bottom = GetSystemMetrics(SM_CYSCREEN);
  return screen;
}

// Centres a span of `size` over [low, high) and keeps it within [areaLow, areaHigh).
// Division rounds toward zero, as C's signed division does.
int Place(int low, int high, int size, int areaLow, int areaHigh) {
  int at = low + ((high - low) - size) / 2;
  if (at < areaLow) {
    at = areaLow;
  } else if (at + size > areaHigh) {
    at = areaHigh - size;
  }
  return at;
}

}  // namespace

void CenterWindow(HWND window, HWND parent) {
  RECT own;
  if (!GetWindowRect(window, &own)) return;
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;

  RECT reference;
  if (parent == nullptr || !GetWindowRect(parent, &reference)) reference = ScreenRect();
  RECT work;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, sizeof work, &work, 0)) work = ScreenRect();

  const int x = Place(reference.left, reference.right, width, work.left, work.right);
  const int y = Place(reference.top, reference.bottom, height, work.top, work.bottom);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

int OwnedMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  KeepOwnerDisabled keep(owner);
  return MessageBoxA(owner, text, caption, type);
}

void ReturnFocus(HWND dialog, HWND focus) {
  if (!IsWindowVisible(dialog) || !IsWindowEnabled(dialog)) return;
  SetForegroundWindow(dialog);
  SetActiveWindow(dialog);
  if (focus != nullptr && IsChild(dialog, focus) && IsWindowVisible(focus) && IsWindowEnabled(focus)) {
    // As the dialog manager moves the focus: a push button taking it becomes the default.
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
  }
}

}  // namespace zelvo
