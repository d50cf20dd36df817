#include "controls/numeric_pair_win32.h"

#include <climits>
#include <string>

#include "controls/numeric_rules.h"

namespace zelvo {

namespace {

constexpr int kNumberTextSize = 100;

// Where a dragged thumb's position is read.
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

int ReadEditValue(HWND dialog, int editId, int scale, int minimum, int maximum) {
  char text[kNumberTextSize] = {};
  GetDlgItemTextA(dialog, editId, text, kNumberTextSize);
  return ParseLimitedValue(text, scale, minimum, maximum);
}

void SetScrollValue(HWND dialog, int scrollId, int value) {
  SetScrollPos(GetDlgItem(dialog, scrollId), SB_CTL, value, TRUE);
}

// True when the bar's thumb fills its whole shaft (or none is drawn): it cannot be moved
// to a position, and clicking it reports the minimum wherever the value stands. The shaft
// is the bar less its two square arrows, whose size comes from the system's metrics: Wine
// reports the thumb's size in place of the arrows' in the bar's information.
bool ThumbCannotMove(HWND bar) {
  SCROLLBARINFO info = {};
  info.cbSize = sizeof info;
  if (!GetScrollBarInfo(bar, OBJID_CLIENT, &info)) return false;
  const int length = info.rcScrollBar.right - info.rcScrollBar.left;
  int arrow = GetSystemMetrics(SM_CXHSCROLL);
  if (2 * arrow > length) arrow = length / 2;
  const int thumb = info.xyThumbBottom - info.xyThumbTop;
  return thumb <= 0 || thumb >= length - 2 * arrow;
}

bool ScrollPair(HWND dialog, WPARAM wParam, LPARAM lParam, const NumericPair& pair, ThumbSource thumb) {
  const HWND bar = GetDlgItem(dialog, pair.scrollId);
  if (bar == nullptr || reinterpret_cast<HWND>(lParam) != bar) return false;
  // The edit text, not the scroll bar, is the starting point: it holds what was typed.
  int value = ReadNumericValue(dialog, pair);
  switch (LOWORD(wParam)) {
    case SB_LINELEFT:
      value = StepDown(value, pair.lineStep, pair.minimum);
      break;
    case SB_LINERIGHT:
      value = StepUp(value, pair.lineStep, pair.maximum);
      break;
    case SB_PAGELEFT:
      value = StepDown(value, pair.pageStep, pair.minimum);
      break;
    case SB_PAGERIGHT:
      value = StepUp(value, pair.pageStep, pair.maximum);
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      if (ThumbCannotMove(bar)) break;
      if (thumb == ThumbSource::kMessage && RangeFitsSixteenBits(dialog, pair.scrollId)) {
        value = static_cast<short>(HIWORD(wParam));
      } else {
        value = TrackPosition(dialog, pair.scrollId);
      }
      break;
    default:  // SB_LEFT, SB_RIGHT, SB_ENDSCROLL: the value as read, shown normalised
      break;
  }
  ShowNumericValue(dialog, pair, value);
  return true;
}

}  // namespace

GroupResult NumericPairProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, const NumericPair& pair,
                            int* value) {
  switch (message) {
    case WM_INITDIALOG:
      InitNumericPair(dialog, pair, *value);
      return GroupResult::kHandled;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == pair.editId) {
        if (!TakeEditModified(dialog, pair.editId)) return GroupResult::kHandled;
        SyncScrollFromEdit(dialog, pair);
        return GroupResult::kChanged;
      }
      if (id == IDOK) {
        *value = ReadNumericValue(dialog, pair);
        return GroupResult::kHandled;
      }
      return GroupResult::kNotMine;
    }
    case WM_HSCROLL:
      ScrollNumericPair(dialog, wParam, lParam, pair);
      return GroupResult::kChanged;
    default:
      return GroupResult::kNotMine;
  }
}

void SetNumericRange(HWND dialog, const NumericPair& pair) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE;
  info.nMin = pair.minimum;
  info.nMax = pair.maximum;
  info.nPage = 1;
  SetScrollInfo(GetDlgItem(dialog, pair.scrollId), SB_CTL, &info, TRUE);
}

void InitNumericPair(HWND dialog, const NumericPair& pair, int value) {
  SetNumericRange(dialog, pair);
  ShowNumericValue(dialog, pair, value);
}

void ShowNumericValue(HWND dialog, const NumericPair& pair, int value) {
  SetScrollValue(dialog, pair.scrollId, value);
  if (pair.showSign) {
    SetDlgItemTextA(dialog, pair.editId, FormatNumericText(value, pair.scale, true).c_str());
  } else {
    ShowNumberText(dialog, pair.editId, value, pair.scale);
  }
}

void ShowNumberText(HWND dialog, int controlId, int value, int scale) {
  if (scale <= 0) {
    SetDlgItemInt(dialog, controlId, static_cast<UINT>(value), TRUE);
  } else {
    SetDlgItemTextA(dialog, controlId, FormatNumericText(value, scale, false).c_str());
  }
}

int ReadNumericValue(HWND dialog, const NumericPair& pair) {
  return ReadEditValue(dialog, pair.editId, pair.scale, pair.minimum, pair.maximum);
}

int SyncScrollFromEdit(HWND dialog, const NumericPair& pair) {
  char text[kNumberTextSize] = {};
  GetDlgItemTextA(dialog, pair.editId, text, kNumberTextSize);
  const int value = ClampTypedText(text, pair.scale, pair.minimum, pair.maximum);
  SetScrollValue(dialog, pair.scrollId, value);
  return value;
}

bool ScrollNumericPair(HWND dialog, WPARAM wParam, LPARAM lParam, const NumericPair& pair) {
  return ScrollPair(dialog, wParam, lParam, pair, ThumbSource::kScrollBar);
}

bool ScrollNumericPairByMessage(HWND dialog, WPARAM wParam, LPARAM lParam, const NumericPair& pair) {
  return ScrollPair(dialog, wParam, lParam, pair, ThumbSource::kMessage);
}

bool TakeEditModified(HWND dialog, int controlId) {
  const HWND edit = GetDlgItem(dialog, controlId);
  if (SendMessageA(edit, EM_GETMODIFY, 0, 0) == 0) return false;
  SendMessageA(edit, EM_SETMODIFY, FALSE, 0);
  return true;
}

}  // namespace zelvo
