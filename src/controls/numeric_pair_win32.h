#pragma once
// A number pair: a horizontal scroll bar and an edit box that show one integer value.
// The pair lives in the controls only; its description (control IDs, limits, text form,
// steps) is passed on every call, and the caller's stored value is read at WM_INITDIALOG
// and written only when the Run button (IDOK) arrives.
#include <windows.h>

#include "controls/group_result.h"

namespace zelvo {

struct NumericPair {
  int scrollId = 0;
  int editId = 0;
  int minimum = 0;
  int maximum = 0;
  int scale = 0;          // 0: an integer; else the value / scale with decimals
  bool showSign = false;  // a '+' before positive values
  int lineStep = 1;       // one arrow
  int pageStep = 10;      // one click beside the thumb
};

// Per-message handler of one pair. kNotMine when the message is not for the pair,
// kHandled when handled, kChanged when what the pair shows may have changed. Every
// WM_HSCROLL counts as a change, also one that another scroll bar sent.
GroupResult NumericPairProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, const NumericPair& pair,
                            int* value);

// Gives the scroll bar the pair's limits as its range. Its page is one position: the thumb
// is then the smallest the system draws, so that a narrow bar keeps room beside it for
// page clicks and shows where the value stands, while every value up to the maximum stays
// a position of the thumb.
void SetNumericRange(HWND dialog, const NumericPair& pair);

// SetNumericRange, then ShowNumericValue.
void InitNumericPair(HWND dialog, const NumericPair& pair, int value);

// Moves the scroll bar to `value` and writes its text form into the edit box.
void ShowNumericValue(HWND dialog, const NumericPair& pair, int value);

// Writes the text form of `value` (never with a '+') into any control.
void ShowNumberText(HWND dialog, int controlId, int value, int scale);

// The edit box's value (read with at most 99 characters), brought into the limits.
int ReadNumericValue(HWND dialog, const NumericPair& pair);

// Reads the edit box, brings the typed number into the limits (ClampTypedText) and moves
// the scroll bar there. The edit text stays as typed, so the user keeps typing
// undisturbed. Returns the value.
int SyncScrollFromEdit(HWND dialog, const NumericPair& pair);

// WM_HSCROLL for one pair: false and nothing done when lParam is not the pair's scroll
// bar; else the value (from the edit text) is stepped by the scroll code and shown. A
// dragged thumb's position is the scroll bar's 32-bit tracking position. A thumb that has
// no room to move says nothing of a position (the system reports the minimum wherever it
// is clicked): its messages leave the value as it was.
bool ScrollNumericPair(HWND dialog, WPARAM wParam, LPARAM lParam, const NumericPair& pair);

// ScrollNumericPair, with a dragged thumb's position taken from the message's 16-bit
// field, unless the bar's range does not fit 16 bits (frame numbers above 32767 would read
// as negative): then from the scroll bar.
bool ScrollNumericPairByMessage(HWND dialog, WPARAM wParam, LPARAM lParam, const NumericPair& pair);

// True when the edit box's modified flag is set; the flag is then cleared, so each user
// edit is seen once. Text set by the program clears the flag and never counts.
bool TakeEditModified(HWND dialog, int controlId);

}  // namespace zelvo
