#include "controls/input_group_win32.h"

#include <shellapi.h>

#include <climits>

#include "controls/file_dialogs_win32.h"
#include "controls/numeric_pair_win32.h"
#include "platform/path_buffer.h"
#include "sequence/sequence.h"

namespace zelvo {

namespace {

const char kDefaultFilter[] = "BMP (*.BMP)\n*.bmp\nRLE (*.RLE)\n*.rle\nPNG (*.PNG)\n*.png";
constexpr int kNumberTextSize = 100;
// The range numbers step like the frame rate does, but one frame per arrow, ten per page.
constexpr int kLineStep = 1;
constexpr int kPageStep = 10;

struct Group {
  HWND dialog;
  int pathEditId, browseId, firstScrollId, firstEditId, lastScrollId, lastEditId, countId,
      groupId;
  int* dialogFirst;
  int* dialogLast;
};

void ShowRunFound(const Group& g) {
  ShowInputRange(g.dialog, g.firstScrollId, g.firstEditId, g.lastScrollId, g.lastEditId,
                 *g.dialogFirst, *g.dialogLast, *g.dialogFirst, *g.dialogLast, g.countId,
                 g.pathEditId);
}

// A new path: the run on disk around it becomes the limits and the whole run the choice.
int Rescan(const Group& g, const char* path) {
  FindSequenceRange(path, g.dialogFirst, g.dialogLast);
  ShowRunFound(g);
  return 2;
}

int ReadNumber(const Group& g, int editId) {
  return ReadNumericValue(g.dialog, editId, 0, *g.dialogFirst, *g.dialogLast);
}

// The path is set by the program (which clears the edit box's modified flag), so the
// change notification it raises is not taken for typing and rescans nothing twice.
int TakePath(const Group& g, const char* path) {
  SetDlgItemTextA(g.dialog, g.pathEditId, path);
  return Rescan(g, path);
}

int Browse(const Group& g, const char* filter, int filterIndex) {
  char chosen[kPathSize] = {};
  if (!ChooseOpenFile(chosen, filter != nullptr ? filter : kDefaultFilter, g.dialog,
                      filterIndex)) {
    return 1;
  }
  return TakePath(g, chosen);
}

int Drop(const Group& g, WPARAM wParam) {
  const HDROP drop = reinterpret_cast<HDROP>(wParam);
  DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  char dropped[kPathSize] = {};
  if (DragQueryFileA(drop, 0, dropped, kPathSize) == 0) return 1;
  POINT point = {};
  DragQueryPoint(drop, &point);
  ClientToScreen(g.dialog, &point);
  RECT box = {};
  if (!GetWindowRect(GetDlgItem(g.dialog, g.groupId), &box)) return 1;
  // Only inside the group box, its edges excluded.
  if (!(box.left < point.x && point.x < box.right && box.top < point.y &&
        point.y < box.bottom)) {
    return 1;
  }
  return TakePath(g, dropped);
}

int ReadRunBox(const Group& g, int editId) {
  char text[kNumberTextSize] = {};
  GetDlgItemTextA(g.dialog, editId, text, kNumberTextSize);
  if (text[0] == '\0') return -1;
  return ReadNumber(g, editId);
}

int HandOver(const Group& g, char* inputPath, int* foundFirst, int* foundLast,
             int* firstNumber, int* lastNumber) {
  GetDlgItemTextA(g.dialog, g.pathEditId, inputPath, kPathSize);
  *foundFirst = *g.dialogFirst;
  *foundLast = *g.dialogLast;
  *firstNumber = ReadRunBox(g, g.firstEditId);
  *lastNumber = ReadRunBox(g, g.lastEditId);
  return 1;
}

int Scroll(const Group& g, WPARAM wParam, LPARAM lParam) {
  if (*g.dialogFirst == -1 || *g.dialogLast == -1) return 1;
  const int low = *g.dialogFirst;
  const int high = *g.dialogLast;
  int taken = ScrollNumericPairByMessage(g.dialog, wParam, lParam, g.firstScrollId,
                                         g.firstEditId, low, high, kLineStep, kPageStep,
                                         false, 0);
  if (!taken) {
    taken = ScrollNumericPairByMessage(g.dialog, wParam, lParam, g.lastScrollId,
                                       g.lastEditId, low, high, kLineStep, kPageStep, false,
                                       0);
  }
  if (!taken) return 1;
  ShowFrameCount(g.dialog, ReadNumber(g, g.firstEditId), ReadNumber(g, g.lastEditId),
                 g.countId, g.pathEditId);
  return 2;
}

}  // namespace

int InputGroupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, int pathEditId,
                   int browseId, int firstScrollId, int firstEditId, int lastScrollId,
                   int lastEditId, int countId, int groupId, int* dialogFirst,
                   int* dialogLast, char* inputPath, int* foundFirst, int* foundLast,
                   int* firstNumber, int* lastNumber, const char* filter, int filterIndex) {
  const Group g = {dialog,   pathEditId, browseId, firstScrollId, firstEditId, lastScrollId,
                   lastEditId, countId,  groupId,  dialogFirst,   dialogLast};
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, pathEditId, inputPath);
      *dialogFirst = *foundFirst;
      *dialogLast = *foundLast;
      ShowInputRange(dialog, firstScrollId, firstEditId, lastScrollId, lastEditId,
                     *dialogFirst, *dialogLast, *firstNumber, *lastNumber, countId,
                     pathEditId);
      return 1;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == browseId) return Browse(g, filter, filterIndex);
      if (id == pathEditId) {
        if (!TakeEditModified(dialog, pathEditId)) return 1;
        char path[kPathSize] = {};
        GetDlgItemTextA(dialog, pathEditId, path, kPathSize);
        return Rescan(g, path);
      }
      if (id == firstEditId) {
        if (!TakeEditModified(dialog, firstEditId)) return 1;
        const int first = SyncScrollFromEdit(dialog, firstEditId, firstScrollId,
                                             *dialogFirst, *dialogLast, 0);
        ShowFrameCount(dialog, first, ReadNumber(g, lastEditId), countId, pathEditId);
        return 2;
      }
      if (id == lastEditId) {
        if (!TakeEditModified(dialog, lastEditId)) return 1;
        const int last = SyncScrollFromEdit(dialog, lastEditId, lastScrollId, *dialogFirst,
                                            *dialogLast, 0);
        ShowFrameCount(dialog, ReadNumber(g, firstEditId), last, countId, pathEditId);
        return 2;
      }
      if (id == IDOK) {
        return HandOver(g, inputPath, foundFirst, foundLast, firstNumber, lastNumber);
      }
      return 0;
    }
    case WM_HSCROLL:
      return Scroll(g, wParam, lParam);
    case WM_DROPFILES:
      return Drop(g, wParam);
    default:
      return 0;
  }
}

void ShowInputRange(HWND dialog, int firstScrollId, int firstEditId, int lastScrollId,
                    int lastEditId, int low, int high, int first, int last, int countId,
                    int pathEditId) {
  SetScrollRange(GetDlgItem(dialog, firstScrollId), SB_CTL, low, high, TRUE);
  SetScrollRange(GetDlgItem(dialog, lastScrollId), SB_CTL, low, high, TRUE);
  if (first == -1) {
    SetDlgItemTextA(dialog, firstEditId, "");
  } else {
    ShowNumericValue(dialog, firstScrollId, firstEditId, first, 0, false);
  }
  if (last == -1) {
    SetDlgItemTextA(dialog, lastEditId, "");
  } else {
    ShowNumericValue(dialog, lastScrollId, lastEditId, last, 0, false);
  }
  ShowFrameCount(dialog, first, last, countId, pathEditId);
}

void ShowFrameCount(HWND dialog, int first, int last, int countId, int pathEditId) {
  int count;
  if (first == -1 || last == -1) {
    count = GetWindowTextLengthA(GetDlgItem(dialog, pathEditId)) > 0 ? 1 : 0;
  } else {
    // Unlimited typed numbers can be far apart: the difference is taken in 64 bits.
    long long span = static_cast<long long>(last) - first;
    if (span < 0) span = -span;
    count = span + 1 > INT_MAX ? INT_MAX : static_cast<int>(span + 1);
  }
  ShowNumberText(dialog, countId, count, 0);
}

}  // namespace zelvo
