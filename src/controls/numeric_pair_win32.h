#pragma once
// A number pair: a horizontal scroll bar and an edit box that show one integer value.
// The pair lives in the controls only; its description (control IDs, limits, scale,
// steps) is passed on every call, and the caller's stored value is read at
// WM_INITDIALOG and written only when the Run button (IDOK) arrives.
#include <windows.h>

namespace zelvo {

// Per-message handler of one pair. Returns 0 when the message is not for the pair, 1
// when handled, 2 when handled and what the pair shows may have changed. Every
// WM_HSCROLL gives 2, also one that another scroll bar sent.
int NumericPairProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, int scrollId,
                    int editId, int* value, int minimum, int maximum, bool showSign,
                    int scale, int lineStep, int pageStep);

// Sets the scroll bar's range to minimum..maximum and shows `value`.
void InitNumericPair(HWND dialog, int scrollId, int editId, int value, int minimum,
                     int maximum, bool showSign, int scale);

// Moves the scroll bar to `value` and writes its text form into the edit box.
void ShowNumericValue(HWND dialog, int scrollId, int editId, int value, int scale,
                      bool showSign);

// Writes the text form of `value` (never with a '+') into any control.
void ShowNumberText(HWND dialog, int controlId, int value, int scale);

// Moves the scroll bar only.
void SetScrollValue(HWND dialog, int scrollId, int value);

// The edit box's value (read with at most 99 characters), brought into the limits
// unless both are -1.
int ReadNumericValue(HWND dialog, int editId, int scale, int minimum, int maximum);

// Reads the edit box, brings the value into the limits and moves the scroll bar there.
// The edit text stays as typed, so the user keeps typing undisturbed. Returns the value.
int SyncScrollFromEdit(HWND dialog, int editId, int scrollId, int minimum, int maximum,
                       int scale);

// WM_HSCROLL for one pair: 0 and nothing done when lParam is not the pair's scroll bar;
// else the value (from the edit text) is stepped by the scroll code and shown, and 1 is
// returned. Thumb positions come from the scroll bar's 32-bit tracking position.
int ScrollNumericPair(HWND dialog, WPARAM wParam, LPARAM lParam, int scrollId, int editId,
                      int minimum, int maximum, int lineStep, int pageStep, bool showSign,
                      int scale);

// The same, with the thumb position from the message's 16-bit field; when the scroll
// bar's range does not fit 16 bits the 32-bit tracking position is used instead, so
// frame numbers above 32767 are not read as negative.
int ScrollNumericPairByMessage(HWND dialog, WPARAM wParam, LPARAM lParam, int scrollId,
                               int editId, int minimum, int maximum, int lineStep,
                               int pageStep, bool showSign, int scale);

// True when the edit box's modified flag is set; the flag is then cleared, so each user
// edit is seen once. Text set by the program clears the flag and never counts.
bool TakeEditModified(HWND dialog, int controlId);

}  // namespace zelvo
