#pragma once
// The input-sequence group of a dialog: the path of one frame (typed, browsed for or
// dropped on the group box), the first and last numbers of the chosen range as two
// number pairs limited to the run found on disk, and the frame count. The controls and
// *dialogFirst / *dialogLast are the working copy; the caller's state is written only
// when the Run button (IDOK) arrives.
#include <windows.h>

namespace zelvo {

// Per-message handler. Returns 0 when the message is not for the group, 1 when handled
// without a change of the input, 2 when the path was replaced or rescanned or the range
// edited (the caller then re-derives whatever it builds from the path).
// `inputPath` is a kPathSize buffer. `filter` is the Open dialog's type list (null: BMP,
// RLE and PNG) and `filterIndex` its preselected type.
int InputGroupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, int pathEditId,
                   int browseId, int firstScrollId, int firstEditId, int lastScrollId,
                   int lastEditId, int countId, int groupId, int* dialogFirst,
                   int* dialogLast, char* inputPath, int* foundFirst, int* foundLast,
                   int* firstNumber, int* lastNumber, const char* filter, int filterIndex);

// Sets both scroll bars' ranges to low..high, shows first and last (-1: an empty box)
// and the frame count.
void ShowInputRange(HWND dialog, int firstScrollId, int firstEditId, int lastScrollId,
                    int lastEditId, int low, int high, int first, int last, int countId,
                    int pathEditId);

// The count: |last - first| + 1; when either is -1, 1 for a path box holding text (a
// single file) and 0 for an empty one.
void ShowFrameCount(HWND dialog, int first, int last, int countId, int pathEditId);

}  // namespace zelvo
