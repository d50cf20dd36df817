#include "controls/numeric_pair_win32.h"

#include <climits>
#include <string>

#include "controls/numeric_rules.h"

namespace zelvo {

namespace {

constexpr int kNumberTextSize = 100;

enum class ThumbSource { kScrollBar, kMessage };

// The scroll bar's 32-bit position while the thumb is dragged (its position otherwise).
int TrackPosition(HWND dialog, int scrollId) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
  if (!GetScrollInfo(GetDlgItem(dialog, scrollId), SB_CTL, &info)) return 0;
  return info.nTrackPos;
}

bool RangeFitsSixteenBits(HWND dialog, int scrollId) {
  int low = 0;
  int high = 0;
  if (!GetScrollRange(GetDlgItem(dialog, scrollId), SB_CTL, &low, &high)) return true;
  return low >= SHRT_MIN && high <= SHRT_MAX;
}

// value - step, not below minimum; value + step, not above maximum. In 64 bits, so a
// step never wraps around the int range.
int StepDown(int value, int step, int minimum) {
  const long long next = static_cast<long long>(value) - step;
  return next < minimum ? minimum : static_cast<int>(next);
}

int StepUp(int value, int step, int maximum) {
  const long long next = static_cast<long long>(value) + step;
  return next > maximum ? maximum : static_cast<int>(next);
}

int ScrollPair(HWND dialog, WPARAM wParam, LPARAM lParam, int scrollId, int editId,
               int minimum, int maximum, int lineStep, int pageStep, bool showSign,
               int scale, ThumbSource thumb) {
  const HWND bar = GetDlgItem(dialog, scrollId);
  if (bar == nullptr || reinterpret_cast<HWND>(lParam) != bar) return 0;
  // The edit text, not the scroll bar, is the starting point: it holds what was typed.
  int value = ReadNumericValue(dialog, editId, scale, minimum, maximum);
  switch (LOWORD(wParam)) {
    case SB_LINELEFT:
      value = StepDown(value, lineStep, minimum);
      break;
    case SB_LINERIGHT:
      value = StepUp(value, lineStep, maximum);
      break;
    case SB_PAGELEFT:
      value = StepDown(value, pageStep, minimum);
      break;
    case SB_PAGERIGHT:
      value = StepUp(value, pageStep, maximum);
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      if (thumb == ThumbSource::kMessage && RangeFitsSixteenBits(dialog, scrollId)) {
        value = static_cast<short>(HIWORD(wParam));
      } else {
        value = TrackPosition(dialog, scrollId);
      }
      break;
    default:  // SB_LEFT, SB_RIGHT, SB_ENDSCROLL: the value as read, shown normalised
      break;
  }
  ShowNumericValue(dialog, scrollId, editId, value, scale, showSign);
  return 1;
}

}  // namespace

int NumericPairProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, int scrollId,
                    int editId, int* value, int minimum, int maximum, bool showSign,
                    int scale, int lineStep, int pageStep) {
  switch (message) {
    case WM_INITDIALOG:
      InitNumericPair(dialog, scrollId, editId, *value, minimum, maximum, showSign, scale);
      return 1;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == editId) {
        if (!TakeEditModified(dialog, editId)) return 1;
        SyncScrollFromEdit(dialog, editId, scrollId, minimum, maximum, scale);
        return 2;
      }
      if (id == IDOK) {
        *value = ReadNumericValue(dialog, editId, scale, minimum, maximum);
        return 1;
      }
      return 0;
    }
    case WM_HSCROLL:
      ScrollNumericPair(dialog, wParam, lParam, scrollId, editId, minimum, maximum, lineStep,
                        pageStep, showSign, scale);
      return 2;
    default:
      return 0;
  }
}

void InitNumericPair(HWND dialog, int scrollId, int editId, int value, int minimum,
                     int maximum, bool showSign, int scale) {
  SetScrollRange(GetDlgItem(dialog, scrollId), SB_CTL, minimum, maximum, TRUE);
  ShowNumericValue(dialog, scrollId, editId, value, scale, showSign);
}

void ShowNumericValue(HWND dialog, int scrollId, int editId, int value, int scale,
                      bool showSign) {
  SetScrollValue(dialog, scrollId, value);
  if (scale <= 0 && !showSign) {
    SetDlgItemInt(dialog, editId, static_cast<UINT>(value), TRUE);
  } else {
    SetDlgItemTextA(dialog, editId, FormatNumericText(value, scale, showSign).c_str());
  }
}

void ShowNumberText(HWND dialog, int controlId, int value, int scale) {
  if (scale <= 0) {
    SetDlgItemInt(dialog, controlId, static_cast<UINT>(value), TRUE);
  } else {
    SetDlgItemTextA(dialog, controlId, FormatNumericText(value, scale, false).c_str());
  }
}

void SetScrollValue(HWND dialog, int scrollId, int value) {
  SetScrollPos(GetDlgItem(dialog, scrollId), SB_CTL, value, TRUE);
}

int ReadNumericValue(HWND dialog, int editId, int scale, int minimum, int maximum) {
  char text[kNumberTextSize] = {};
  GetDlgItemTextA(dialog, editId, text, kNumberTextSize);
  return ParseLimitedValue(text, scale, minimum, maximum);
}

int SyncScrollFromEdit(HWND dialog, int editId, int scrollId, int minimum, int maximum,
                       int scale) {
  const int typed = ReadNumericValue(dialog, editId, scale, -1, -1);
  const int value = ClampTypedValue(typed, minimum, maximum);
  SetScrollValue(dialog, scrollId, value);
  return value;
}

int ScrollNumericPair(HWND dialog, WPARAM wParam, LPARAM lParam, int scrollId, int editId,
                      int minimum, int maximum, int lineStep, int pageStep, bool showSign,
                      int scale) {
  return ScrollPair(dialog, wParam, lParam, scrollId, editId, minimum, maximum, lineStep,
                    pageStep, showSign, scale, ThumbSource::kScrollBar);
}

int ScrollNumericPairByMessage(HWND dialog, WPARAM wParam, LPARAM lParam, int scrollId,
                               int editId, int minimum, int maximum, int lineStep,
                               int pageStep, bool showSign, int scale) {
  return ScrollPair(dialog, wParam, lParam, scrollId, editId, minimum, maximum, lineStep,
                    pageStep, showSign, scale, ThumbSource::kMessage);
}

bool TakeEditModified(HWND dialog, int controlId) {
  const HWND edit = GetDlgItem(dialog, controlId);
  if (SendMessageA(edit, EM_GETMODIFY, 0, 0) == 0) return false;
  SendMessageA(edit, EM_SETMODIFY, FALSE, 0);
  return true;
}

}  // namespace zelvo
