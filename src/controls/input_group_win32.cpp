#include "controls/input_group_win32.h"

#include <shellapi.h>

#include <climits>

#include "controls/file_dialogs_win32.h"
#include "controls/numeric_pair_win32.h"
#include "image/image_formats.h"
#include "sequence/sequence.h"

namespace zelvo {

namespace {

constexpr int kNumberTextSize = 100;

// One message's view of the group: its controls, the dialog and the selection.
struct Group {
  HWND dialog;
  const InputGroup& ids;
  InputSelection* selection;

  // The range numbers step like the frame rate does, but one frame per arrow, ten per
  // page, within the run found on disk.
  NumericPair Pair(int scrollId, int editId) const {
    NumericPair pair;
    pair.scrollId = scrollId;
    pair.editId = editId;
    pair.minimum = selection->dialogFirst;
    pair.maximum = selection->dialogLast;
    pair.lineStep = 1;
    pair.pageStep = 10;
    return pair;
  }
  NumericPair First() const { return Pair(ids.firstScrollId, ids.firstEditId); }
  NumericPair Last() const { return Pair(ids.lastScrollId, ids.lastEditId); }
};

// The count: |last - first| + 1; when either is -1, 1 for a path box holding text (a
// single file) and 0 for an empty one.
void ShowFrameCount(const Group& g, int first, int last) {
  int count;
  if (first == -1 || last == -1) {
    count = GetWindowTextLengthA(GetDlgItem(g.dialog, g.ids.pathEditId)) > 0 ? 1 : 0;
  } else {
    // Unlimited typed numbers can be far apart: the difference is taken in 64 bits.
    long long span = static_cast<long long>(last) - first;
    if (span < 0) span = -span;
    count = span + 1 > INT_MAX ? INT_MAX : static_cast<int>(span + 1);
  }
  ShowNumberText(g.dialog, g.ids.countId, count, 0);
}

// Sets both scroll bars' ranges to the run, shows first and last (-1: an empty box) and
// the frame count.
void ShowInputRange(const Group& g, int first, int last) {
  for (const NumericPair& pair : {g.First(), g.Last()}) {
    const int value = pair.editId == g.ids.firstEditId ? first : last;
    if (value == -1) {
      SetNumericRange(g.dialog, pair);
      SetDlgItemTextA(g.dialog, pair.editId, "");
    } else {
      InitNumericPair(g.dialog, pair, value);
    }
  }
  ShowFrameCount(g, first, last);
}

// A new path: the run on disk around it becomes the limits and the whole run the choice.
GroupResult Rescan(const Group& g, const char* path) {
  FindSequenceRange(path, &g.selection->dialogFirst, &g.selection->dialogLast);
  ShowInputRange(g, g.selection->dialogFirst, g.selection->dialogLast);
  return GroupResult::kChanged;
}

// The path is set by the program (which clears the edit box's modified flag), so the
// change notification it raises is not taken for typing and rescans nothing twice.
GroupResult TakePath(const Group& g, const char* path) {
  SetDlgItemTextA(g.dialog, g.ids.pathEditId, path);
  return Rescan(g, path);
}

GroupResult Browse(const Group& g) {
  char chosen[kPathSize] = {};
  const std::string formats = FrameDialogFilter();
  const char* filter = g.ids.filter != nullptr ? g.ids.filter : formats.c_str();
  if (!ChooseOpenFile(chosen, filter, g.dialog, g.ids.filterIndex, g.ids.openDialog)) return GroupResult::kHandled;
  return TakePath(g, chosen);
}

GroupResult Drop(const Group& g, WPARAM wParam) {
  const HDROP drop = reinterpret_cast<HDROP>(wParam);
  DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  char dropped[kPathSize] = {};
  if (DragQueryFileA(drop, 0, dropped, kPathSize) == 0) return GroupResult::kHandled;
  POINT point = {};
  DragQueryPoint(drop, &point);
  ClientToScreen(g.dialog, &point);
  RECT box = {};
  if (!GetWindowRect(GetDlgItem(g.dialog, g.ids.groupId), &box)) return GroupResult::kHandled;
  // Only inside the group box, its edges excluded.
  if (!(box.left < point.x && point.x < box.right && box.top < point.y && point.y < box.bottom)) {
    return GroupResult::kHandled;
  }
  return TakePath(g, dropped);
}

// A range box's number within the run; -1 for an empty box.
int ReadRunBox(const Group& g, const NumericPair& pair) {
  char text[kNumberTextSize] = {};
  GetDlgItemTextA(g.dialog, pair.editId, text, kNumberTextSize);
  if (text[0] == '\0') return -1;
  return ReadNumericValue(g.dialog, pair);
}

GroupResult HandOver(const Group& g) {
  InputSelection& s = *g.selection;
  GetDlgItemTextA(g.dialog, g.ids.pathEditId, s.inputPath, kPathSize);
  s.foundFirst = s.dialogFirst;
  s.foundLast = s.dialogLast;
  s.firstNumber = ReadRunBox(g, g.First());
  s.lastNumber = ReadRunBox(g, g.Last());
  return GroupResult::kHandled;
}

GroupResult Scroll(const Group& g, WPARAM wParam, LPARAM lParam) {
  if (g.selection->dialogFirst == -1 || g.selection->dialogLast == -1) return GroupResult::kHandled;
  const bool taken = ScrollNumericPairByMessage(g.dialog, wParam, lParam, g.First()) ||
                     ScrollNumericPairByMessage(g.dialog, wParam, lParam, g.Last());
  if (!taken) return GroupResult::kHandled;
  ShowFrameCount(g, ReadNumericValue(g.dialog, g.First()), ReadNumericValue(g.dialog, g.Last()));
  return GroupResult::kChanged;
}

// A typed range number: the bar follows it within the run, the count follows both.
GroupResult TypedNumber(const Group& g, const NumericPair& typed, const NumericPair& other) {
  if (!TakeEditModified(g.dialog, typed.editId)) return GroupResult::kHandled;
  const int value = SyncScrollFromEdit(g.dialog, typed);
  const int otherValue = ReadNumericValue(g.dialog, other);
  const bool first = typed.editId == g.ids.firstEditId;
  ShowFrameCount(g, first ? value : otherValue, first ? otherValue : value);
  return GroupResult::kChanged;
}

GroupResult Command(const Group& g, int id) {
  if (id == g.ids.browseId) return Browse(g);
  if (id == g.ids.pathEditId) {
    if (!TakeEditModified(g.dialog, g.ids.pathEditId)) return GroupResult::kHandled;
    char path[kPathSize] = {};
    GetDlgItemTextA(g.dialog, g.ids.pathEditId, path, kPathSize);
    return Rescan(g, path);
  }
  if (id == g.ids.firstEditId) return TypedNumber(g, g.First(), g.Last());
  if (id == g.ids.lastEditId) return TypedNumber(g, g.Last(), g.First());
  if (id == IDOK) return HandOver(g);
  return GroupResult::kNotMine;
}

}  // namespace

GroupResult InputGroupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, const InputGroup& group,
                           InputSelection* selection) {
  const Group g = {dialog, group, selection};
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, group.pathEditId, selection->inputPath);
      selection->dialogFirst = selection->foundFirst;
      selection->dialogLast = selection->foundLast;
      ShowInputRange(g, selection->firstNumber, selection->lastNumber);
      return GroupResult::kHandled;
    case WM_COMMAND:
      return Command(g, LOWORD(wParam));
    case WM_HSCROLL:
      return Scroll(g, wParam, lParam);
    case WM_DROPFILES:
      return Drop(g, wParam);
    default:
      return GroupResult::kNotMine;
  }
}

}  // namespace zelvo
