// The progress dialog under Wine with routines of the tests' own: each routine looks at the
// real dialog from the worker thread (texts, bar, owner) while it runs, records what it
// saw, and the test checks the record after RunProgressDialog has returned.
#include "convert/progress_dialog_win32.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "resource_ids.h"

namespace zelvo {
namespace {

DWORD gDialogThread = 0;
// The dialog of the running script; kept after RunProgressDialog for what it says then.
std::unique_ptr<ProgressState> gProgress;

// The progress dialog of the resources with all of its controls, or with none but the
// template's.
ProgressLayout FullLayout(int templateId = IDD_PROGRESS) {
  ProgressLayout layout;
  layout.templateId = templateId;
  layout.barId = IDC_PROGRESS_BAR;
  layout.textId = IDC_PROGRESS_TEXT;
  layout.statusId = IDC_PROGRESS_STATUS;
  return layout;
}

ProgressState& NewProgress(const ProgressLayout& layout) {
  gProgress = std::make_unique<ProgressState>(GetModuleHandleA(nullptr), layout);
  return *gProgress;
}

struct Seen {
  int calls = 0;
  bool dialogFound = false;
  bool everyTextShown = true;  // each posted text appeared, in order
  std::string lastProgress;
  std::string lastStatus;
  int barPosition = -1;
  int barHigh = -1;
  HWND owner = nullptr;
  bool ownerDisabled = false;
  bool stillOpenAfterClose = false;
  bool captionShown = false;  // a caption posted by the routine replaced the dialog's
} gSeen;

struct Script {
  int total = 0;
  int abortAt = -1;       // item during which the abort is asked; -1 never
  enum { kButton, kEscape, kClose } how = kButton;
  int abortResult = 2;    // returned when the routine sees the abort
  int doneResult = 0;     // returned after the last item
} gScript;

BOOL CALLBACK FindDialogOf(HWND window, LPARAM param) {
  char name[32] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) == "#32770") {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindProgressDialog() {
  HWND dialog = nullptr;
  EnumThreadWindows(gDialogThread, FindDialogOf, reinterpret_cast<LPARAM>(&dialog));
  return dialog;
}

std::string Text(HWND dialog, int id) {
  char buffer[600] = {};
  GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
  return buffer;
}

std::string Counted(int done, int total) {
  char text[100];
  std::snprintf(text, sizeof text, "%d/%d 終了", done, total);
  return text;
}

// Polls until `condition` holds (the dialog thread handles posts in its own time).
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return false;
}

int BarPosition(HWND dialog) {
  return static_cast<int>(SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
}

void AskAbort(HWND dialog) {
  switch (gScript.how) {
    case Script::kButton:
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
      break;
    case Script::kEscape: {
      HWND button = GetDlgItem(dialog, IDCANCEL);
      PostMessageA(button, WM_KEYDOWN, VK_ESCAPE, 1);
      PostMessageA(button, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0000001u));
      break;
    }
    case Script::kClose:
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      break;
  }
}

// Works through gScript.total items as the conversion job does: status text first, a step
// after every item but the last.
int ScriptedRoutine() {
  ++gSeen.calls;
  HWND dialog = nullptr;
  gSeen.dialogFound = Eventually([&] { return (dialog = FindProgressDialog()) != nullptr; });
  if (!gSeen.dialogFound) return -1;
  const int total = gScript.total;
  gSeen.owner = GetWindow(dialog, GW_OWNER);
  gSeen.ownerDisabled = gSeen.owner != nullptr && !IsWindowEnabled(gSeen.owner);
  PBRANGE range = {};
  SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  gSeen.barHigh = range.iHigh;
  char caption[64];
  std::snprintf(caption, sizeof caption, "%d 枚を変換中", total);
  gProgress->PostCaptionText(caption);
  gSeen.captionShown = Eventually([&] {
    char shown[64] = {};
    GetWindowTextA(dialog, shown, sizeof shown);
    return std::string(shown) == caption;
  });
  if (!Eventually([&] { return Text(dialog, IDC_PROGRESS_TEXT) == Counted(0, total); })) {
    gSeen.everyTextShown = false;
  }
  for (int item = 0; item < total; ++item) {
    if (gProgress->IsAbortRequested()) {
      // Posts after the abort are dropped: the texts keep what they showed.
      const std::string before = Text(dialog, IDC_PROGRESS_TEXT);
      gProgress->PostStatusText("after abort");
      gProgress->PostProgressStep();
      Sleep(100);
      gSeen.stillOpenAfterClose = IsWindow(dialog) && IsWindowVisible(dialog);
      if (Text(dialog, IDC_PROGRESS_TEXT) != before || Text(dialog, IDC_PROGRESS_STATUS) == "after abort") {
        gSeen.everyTextShown = false;
      }
      break;
    }
    char path[64];
    std::snprintf(path, sizeof path, "C:\\シーケンス\\frame%04d.bmp", item);
    gProgress->PostStatusText(path);
    if (!Eventually([&] { return Text(dialog, IDC_PROGRESS_STATUS) == path; })) gSeen.everyTextShown = false;
    if (item == gScript.abortAt) {
      AskAbort(dialog);
      Eventually([] { return gProgress->IsAbortRequested(); });
    }
    if (item + 1 < total) {
      gProgress->PostProgressStep();
      if (!gProgress->IsAbortRequested() &&
          !Eventually([&] { return Text(dialog, IDC_PROGRESS_TEXT) == Counted(item + 1, total); })) {
        gSeen.everyTextShown = false;
      }
    }
  }
  gSeen.lastProgress = Text(dialog, IDC_PROGRESS_TEXT);
  gSeen.lastStatus = Text(dialog, IDC_PROGRESS_STATUS);
  gSeen.barPosition = BarPosition(dialog);
  return gProgress->IsAbortRequested() && gScript.abortAt + 1 < total ? gScript.abortResult : gScript.doneResult;
}

int RunScript(const Script& script, HWND owner = nullptr) {
  gSeen = Seen();
  gScript = script;
  gDialogThread = GetCurrentThreadId();
  return NewProgress(FullLayout()).RunProgressDialog(owner, script.total, ScriptedRoutine);
}

TEST(ProgressDialog, CountsEveryItemButTheLast) {
  for (int total : {1, 2, 5}) {
    SCOPED_TRACE(total);
    Script script;
    script.total = total;
    script.doneResult = 7;
    EXPECT_EQ(RunScript(script), 7);
    EXPECT_EQ(gSeen.calls, 1);
    ASSERT_TRUE(gSeen.dialogFound);
    EXPECT_TRUE(gSeen.everyTextShown);
    EXPECT_TRUE(gSeen.captionShown);
    EXPECT_EQ(gSeen.lastProgress, Counted(total - 1, total));
    EXPECT_EQ(gSeen.barPosition, total - 1);
    EXPECT_EQ(gSeen.lastStatus, "C:\\シーケンス\\frame" + std::string(total - 1 < 10 ? "000" : "00") +
                                    std::to_string(total - 1) + ".bmp");
    EXPECT_EQ(gSeen.barHigh, total);
  }
}

struct AbortCase {
  const char* what;
  int total, abortAt;
  int how;
  int result;
  std::string text;  // the progress text when the routine returned
};

// The button, Esc, and a WM_CLOSE that the worker did not send all ask the routine to stop;
// the dialog stays until the routine has returned, and an abort during the last item
// still lets that item complete the job.
TEST(ProgressDialog, AbortIsARequestTheRoutineAnswers) {
  const AbortCase cases[] = {
      {"button mid-way", 10, 3, Script::kButton, 2, Counted(3, 10)},
      {"button on the last item", 4, 3, Script::kButton, 0, Counted(3, 4)},
      {"Esc", 6, 1, Script::kEscape, 2, Counted(1, 6)},
      {"foreign WM_CLOSE", 6, 2, Script::kClose, 2, Counted(2, 6)},
      {"foreign WM_CLOSE on the first item", 3, 0, Script::kClose, 2, Counted(0, 3)},
  };
  for (const AbortCase& c : cases) {
    SCOPED_TRACE(c.what);
    Script script;
    script.total = c.total;
    script.abortAt = c.abortAt;
    script.how = static_cast<decltype(script.how)>(c.how);
    EXPECT_EQ(RunScript(script), c.result);
    EXPECT_TRUE(gProgress->IsAbortRequested());
    EXPECT_TRUE(gSeen.everyTextShown);
    EXPECT_EQ(gSeen.lastProgress, c.text);
    if (c.result == 2) {
      EXPECT_TRUE(gSeen.stillOpenAfterClose);
    }
  }
}

LRESULT CALLBACK PlainWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST(ProgressDialog, OwnerIsDisabledWhileItRunsAndNoOwnerIsAllowed) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = PlainWindow;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "ZelvoProgressOwner";
  RegisterClassA(&windowClass);
  HWND owner = CreateWindowExA(0, "ZelvoProgressOwner", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                               200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  Script script;
  script.total = 2;
  EXPECT_EQ(RunScript(script, owner), 0);
  EXPECT_EQ(gSeen.owner, owner);
  EXPECT_TRUE(gSeen.ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(owner));
  // An owner disabled before, as the main dialog is through a job, stays disabled after.
  EnableWindow(owner, FALSE);
  EXPECT_EQ(RunScript(script, owner), 0);
  EXPECT_FALSE(IsWindowEnabled(owner));
  DestroyWindow(owner);

  EXPECT_EQ(RunScript(script, nullptr), 0);
  ASSERT_TRUE(gSeen.dialogFound);
  EXPECT_EQ(gSeen.owner, nullptr);
}

// A 16-bit range would wrap 70000 to 4464; the bar must track the real count.
TEST(ProgressDialog, LongJobsUseTheThirtyTwoBitRange) {
  Script script;
  script.total = 70000;
  script.abortAt = 2;
  EXPECT_EQ(RunScript(script), 2);
  EXPECT_EQ(gSeen.barHigh, 70000);
  EXPECT_EQ(gSeen.barPosition, 2);
  EXPECT_EQ(gSeen.lastProgress, Counted(2, 70000));
}

int gCalls = 0;
int CountingRoutine() {
  ++gCalls;
  return 5;
}

HANDLE NoThread(LPTHREAD_START_ROUTINE, LPVOID, DWORD*) { return nullptr; }

TEST(ProgressDialog, WithoutAWorkerTheDialogEndsAtOnceAsAFailure) {
  ProgressState& progress = NewProgress(FullLayout());
  progress.SetThreadStarter(NoThread);
  gCalls = 0;
  EXPECT_EQ(progress.RunProgressDialog(nullptr, 3, CountingRoutine), 1);
  EXPECT_EQ(gCalls, 0);
}

TEST(ProgressDialog, RunsTheRoutineWithoutBarOrText) {
  gCalls = 0;
  ProgressLayout bare;
  bare.templateId = IDD_PROGRESS;
  EXPECT_EQ(NewProgress(bare).RunProgressDialog(nullptr, 0, CountingRoutine), 5);
  EXPECT_EQ(gCalls, 1);
}

TEST(ProgressDialog, MissingTemplateIsAFailureWithoutRunningTheRoutine) {
  gCalls = 0;
  EXPECT_EQ(NewProgress(FullLayout(9999)).RunProgressDialog(nullptr, 0, CountingRoutine), 1);
  EXPECT_EQ(gCalls, 0);
}

// Driven from outside by the end-to-end script (ZELVO_OUTSIDE_PROGRESS=1): the routine
// waits up to a minute for the abort that winauto gives by Esc, WM_CLOSE or the button.
int WaitForAbortRoutine() {
  gProgress->PostStatusText("C:\\シーケンス\\frame0001.bmp");
  for (int i = 0; i < 6000; ++i) {
    if (gProgress->IsAbortRequested()) return 2;
    Sleep(10);
  }
  return 0;
}

TEST(OutsideProgressDialog, StopsWhenAskedFromOutside) {
  const char* mode = std::getenv("ZELVO_OUTSIDE_PROGRESS");
  if (mode == nullptr || std::string(mode) != "1") GTEST_SKIP() << "run by the end-to-end script";
  EXPECT_EQ(NewProgress(FullLayout()).RunProgressDialog(nullptr, 3, WaitForAbortRoutine), 2);
}

}  // namespace
}  // namespace zelvo
