// The dialog's control groups driven through the real main dialog (resource 135) with
// the messages the system sends: typed text with the modified flag set, scroll codes,
// dropped files and the file dialogs through the stand-ins the dialog's record hands in.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../resources/resource_ids.h"
#include "app/main_dialog_win32.h"
#include "controls/file_dialogs_win32.h"
#include "controls/input_group_win32.h"
#include "controls/numeric_pair_win32.h"
#include "controls/output_group_win32.h"
#include "app/app_state_win32.h"
#include "platform/path_buffer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

int jobsStarted = 0;
int reports = 0;
int RecordJob(AppState&, const char*) { return ++jobsStarted, 0; }
void RecordReport(const char*) { ++reports; }

// What the fake file dialogs saw and what they answer.
struct FakeDialog {
  OPENFILENAMEA seen = {};
  std::string startName;
  std::vector<char> filterList;
  bool accept = true;
  std::string answer;
  DWORD answerIndex = 0;  // 0: keep the preselected type
  int calls = 0;
} fake;

std::vector<char> CopyFilterList(const char* list) {
  std::vector<char> copy;
  for (const char* p = list;; ++p) {
    copy.push_back(*p);
    if (p[0] == '\0' && p[1] == '\0') {
      copy.push_back('\0');
      break;
    }
  }
  return copy;
}

BOOL WINAPI FakeFileDialog(LPOPENFILENAMEA record) {
  ++fake.calls;
  fake.seen = *record;
  fake.startName = record->lpstrFile;
  fake.filterList = CopyFilterList(record->lpstrFilter);
  if (!fake.accept) return FALSE;
  std::snprintf(record->lpstrFile, record->nMaxFile, "%s", fake.answer.c_str());
  if (fake.answerIndex != 0) record->nFilterIndex = fake.answerIndex;
  return TRUE;
}

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.instance = GetModuleHandleA(nullptr);
    fake = FakeDialog();
    jobsStarted = reports = 0;
    app_.startJob = RecordJob;
    app_.report = RecordReport;
    app_.openDialog = FakeFileDialog;
    app_.saveDialog = FakeFileDialog;
    dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                 MainDialogProc, reinterpret_cast<LPARAM>(&app_));
    ASSERT_NE(dialog_, nullptr);
  }
  void TearDown() override {
    if (dialog_ != nullptr) DestroyWindow(dialog_);
  }

  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  std::string Text(int id) const {
    char text[kPathSize] = {};
    GetDlgItemTextA(dialog_, id, text, kPathSize);
    return text;
  }
  // What the user's typing leaves: new text with the modified flag set, then the change
  // notification. Setting the text alone raises a notification without the flag.
  void Type(int id, const std::string& text) {
    SetDlgItemTextA(dialog_, id, text.c_str());
    SendMessageA(Item(id), EM_SETMODIFY, TRUE, 0);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), reinterpret_cast<LPARAM>(Item(id)));
  }
  void Scroll(int scrollId, int code, int position = 0) {
    SendMessageA(dialog_, WM_HSCROLL, MAKEWPARAM(code, position),
                 reinterpret_cast<LPARAM>(Item(scrollId)));
  }
  int Position(int scrollId) const { return GetScrollPos(Item(scrollId), SB_CTL); }
  void Range(int scrollId, int* low, int* high) const {
    GetScrollRange(Item(scrollId), SB_CTL, low, high);
  }
  void Run() { SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }
  void Click(int id) {
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
  }
  // The input group's own result for a message, as the main dialog describes the group.
  GroupResult InputGroup(UINT message, WPARAM wParam, LPARAM lParam) {
    return InputGroupProc(dialog_, message, wParam, lParam, MainInputGroup(app_), &app_);
  }
  // A drop block as the shell builds it, at `point` in the dialog's client coordinates.
  HGLOBAL DropBlock(const std::vector<std::string>& files, POINT point) {
    size_t names = 1;
    for (const std::string& f : files) names += f.size() + 1;
    HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + names);
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->pt = point;
    header->fNC = FALSE;
    header->fWide = FALSE;
    char* at = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
    for (const std::string& f : files) {
      std::memcpy(at, f.c_str(), f.size() + 1);
      at += f.size() + 1;
    }
    GlobalUnlock(block);
    return block;
  }
  RECT ClientRectOf(int id) const {
    RECT r = {};
    GetWindowRect(Item(id), &r);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  POINT CentreOf(int id) const {
    const RECT r = ClientRectOf(id);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  void Drop(const std::vector<std::string>& files, POINT point) {
    SendMessageA(dialog_, WM_DROPFILES, reinterpret_cast<WPARAM>(DropBlock(files, point)), 0);
  }

  AppState app_;  // a fresh process's record, this test program being the instance
  HWND dialog_ = nullptr;
};

// A folder with img008.bmp ... img120.bmp (empty files: the run search looks at names).
class ControlsSequenceTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    ASSERT_TRUE(folder_.ok());
    for (int n = 8; n <= 120; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "img%03d.bmp", n);
      ASSERT_TRUE(folder_.AddFile(name));
    }
  }
  std::string Frame(const char* name) const { return folder_.Join(name); }
  // Loads the run 8..120 by typing the path of img050.bmp.
  void LoadRun() {
    Type(IDC_INPUT_PATH, Frame("img050.bmp"));
    ASSERT_EQ(app_.dialogFirst, 8);
    ASSERT_EQ(app_.dialogLast, 120);
  }

  test::TempDir folder_;
};

TEST_F(ControlsTest, RatePairStartsAtFifteenWithItsFullRange) {
  int low = 0, high = 0;
  Range(IDC_RATE_SCROLL, &low, &high);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 120000);
  EXPECT_EQ(Position(IDC_RATE_SCROLL), 15000);
  EXPECT_EQ(Text(IDC_RATE_EDIT), "15.000");
  // A plain start: nothing chosen, the count reads 0 instead of the template's 88888.
  EXPECT_EQ(Text(IDC_INPUT_PATH), "");
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "");
  EXPECT_EQ(Text(IDC_LAST_EDIT), "");
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "0");
}

TEST_F(ControlsTest, RateScrollCodesStepFromTheEditTextWithinTheLimits) {
  struct Case {
    const char* start;
    int code;
    int barPosition;  // set before the message: the thumb codes read it
    const char* text;
    int position;
  } cases[] = {
      {"119.500", SB_LINERIGHT, 0, "120.000", 120000},
      {"15.000", SB_LINERIGHT, 0, "16.000", 16000},
      {"15.000", SB_LINELEFT, 0, "14.000", 14000},
      {"0.500", SB_LINELEFT, 0, "0.001", 1},
      {"5.000", SB_PAGELEFT, 0, "0.001", 1},
      {"15.000", SB_PAGELEFT, 0, "5.000", 5000},
      {"15.000", SB_PAGERIGHT, 0, "25.000", 25000},
      {"115.000", SB_PAGERIGHT, 0, "120.000", 120000},
      {"15.000", SB_THUMBTRACK, 33333, "33.333", 33333},
      {"15.000", SB_THUMBPOSITION, 100000, "100.000", 100000},
      {"29.97", SB_ENDSCROLL, 0, "29.970", 29970},
      {"150", SB_ENDSCROLL, 0, "50.000", 50000},
      {"7", SB_LEFT, 0, "7.000", 7000},
      {"7", SB_RIGHT, 0, "7.000", 7000},
      {"abc", SB_ENDSCROLL, 0, "0.001", 1},
  };
  for (const Case& c : cases) {
    SetDlgItemTextA(dialog_, IDC_RATE_EDIT, c.start);
    if (c.barPosition != 0) SetScrollPos(Item(IDC_RATE_SCROLL), SB_CTL, c.barPosition, FALSE);
    Scroll(IDC_RATE_SCROLL, c.code);
    EXPECT_EQ(Text(IDC_RATE_EDIT), c.text) << c.start << " code " << c.code;
    EXPECT_EQ(Position(IDC_RATE_SCROLL), c.position) << c.start << " code " << c.code;
    EXPECT_EQ(app_.frameRate, 15000) << "scrolling never stores the rate";
  }
}

TEST_F(ControlsTest, TypedRateMovesTheBarKeepsTheTextAndIsStoredOnRun) {
  struct Case {
    const char* typed;
    int position;
    int stored;
    const char* afterScroll;
  } cases[] = {
      {"150", 50000, 50000, "50.000"},
      {"29.97", 29970, 29970, "29.970"},
      {"1000", 1, 1, "0.001"},
      {"999", 99000, 99000, "99.000"},
      {"", 1, 1, "0.001"},
      {"0.0004", 1, 1, "0.001"},
      {"200", 1, 1, "0.001"},
      {"99999999999999", 99000, 99000, "99.000"},  // the digits typed, not what an int keeps
  };
  for (const Case& c : cases) {
    app_.frameRate = 15000;
    Type(IDC_RATE_EDIT, c.typed);
    EXPECT_EQ(Position(IDC_RATE_SCROLL), c.position) << c.typed;
    EXPECT_EQ(Text(IDC_RATE_EDIT), c.typed) << "the typed text stays until the next scroll";
    EXPECT_EQ(app_.frameRate, 15000) << "typing never stores the rate";
    Run();
    EXPECT_EQ(app_.frameRate, c.stored) << c.typed;
    EXPECT_EQ(Text(IDC_RATE_EDIT), c.typed);
    Scroll(IDC_RATE_SCROLL, SB_ENDSCROLL);
    EXPECT_EQ(Text(IDC_RATE_EDIT), c.afterScroll) << c.typed;
  }
}

TEST_F(ControlsTest, ScrollFromAnotherBarLeavesTheRatePairAlone) {
  SetDlgItemTextA(dialog_, IDC_RATE_EDIT, "29.97");
  for (int id : {IDC_FIRST_SCROLL, IDC_LAST_SCROLL}) {
    Scroll(id, SB_LINERIGHT);
    Scroll(id, SB_ENDSCROLL);
    EXPECT_EQ(Text(IDC_RATE_EDIT), "29.97");
    EXPECT_EQ(Position(IDC_RATE_SCROLL), 15000);
    // The pair still reports a possible change for any scroll message.
    EXPECT_EQ(NumericPairProc(dialog_, WM_HSCROLL, SB_LINERIGHT, reinterpret_cast<LPARAM>(Item(id)),
                              MainRatePair(), &app_.frameRate),
              GroupResult::kChanged);
  }
}

TEST_F(ControlsTest, NumberPairShowsTextFormsBySignAndScale) {
  struct Case {
    int value;
    int scale;
    bool showSign;
    const char* text;
  } cases[] = {
      {8, 0, false, "8"},    {8, 0, true, "+8"},         {-3, 0, true, "-3"},
      {125, 10, false, "12.5"}, {125, 100, true, "+1.25"}, {125, 1000, false, "0.125"},
  };
  for (const Case& c : cases) {
    NumericPair pair = MainRatePair();
    pair.scale = c.scale;
    pair.showSign = c.showSign;
    ShowNumericValue(dialog_, pair, c.value);
    EXPECT_EQ(Text(IDC_RATE_EDIT), c.text) << c.value << " at " << c.scale;
    ShowNumberText(dialog_, IDC_FRAME_COUNT, c.value, c.scale);
    EXPECT_EQ(Text(IDC_FRAME_COUNT).find('+'), std::string::npos) << "never a sign";
  }
}

TEST_F(ControlsTest, EditChangeCountsOnceAfterEachUserEdit) {
  const WPARAM change = MAKEWPARAM(IDC_OUTPUT_PATH, EN_CHANGE);
  auto output = [&](WPARAM wParam) {
    return OutputGroupProc(dialog_, WM_COMMAND, wParam, 0, MainOutputGroup(app_), app_.outputPath);
  };
  SetDlgItemTextA(dialog_, IDC_OUTPUT_PATH, "C:\\a.avi");
  EXPECT_EQ(output(change), GroupResult::kHandled) << "text set by the program is no user edit";
  SendMessageA(Item(IDC_OUTPUT_PATH), EM_SETMODIFY, TRUE, 0);
  EXPECT_EQ(output(change), GroupResult::kChanged);
  EXPECT_EQ(output(MAKEWPARAM(IDC_OUTPUT_PATH, EN_UPDATE)), GroupResult::kHandled);
  EXPECT_STREQ(app_.outputPath, "") << "typing never stores the path";
  EXPECT_EQ(output(MAKEWPARAM(IDOK, BN_CLICKED)), GroupResult::kHandled);
  EXPECT_STREQ(app_.outputPath, "C:\\a.avi");
  EXPECT_EQ(output(MAKEWPARAM(IDC_INPUT_PATH, EN_CHANGE)), GroupResult::kNotMine);
  EXPECT_EQ(OutputGroupProc(dialog_, WM_HSCROLL, 0, 0, MainOutputGroup(app_), app_.outputPath), GroupResult::kNotMine);
}

TEST_F(ControlsTest, OutputBrowseOpensSaveAsOnTheNameWithoutExtension) {
  struct Case {
    const char* box;
    bool accept;
    const char* answer;
    const char* startName;
    const char* result;
  } cases[] = {
      {"C:\\img\\shot.avi", true, "C:\\img\\movie", "C:\\img\\shot", "C:\\img\\movie.avi"},
      {"C:\\img\\shot.avi", true, "C:\\img\\movie.mpg", "C:\\img\\shot", "C:\\img\\movie.mpg"},
      {"C:\\img\\SHOT.AVI", true, "C:\\img\\b.", "C:\\img\\SHOT", "C:\\img\\b."},
      {"", true, "D:\\x", "", "D:\\x.avi"},
      {"C:\\img\\shot.avi", false, "", "C:\\img\\shot", "C:\\img\\shot.avi"},
  };
  for (const Case& c : cases) {
    fake = FakeDialog();
    fake.accept = c.accept;
    fake.answer = c.answer;
    SetDlgItemTextA(dialog_, IDC_OUTPUT_PATH, c.box);
    const GroupResult result = OutputGroupProc(dialog_, WM_COMMAND, MAKEWPARAM(IDC_OUTPUT_BROWSE, BN_CLICKED),
                                               0, MainOutputGroup(app_), app_.outputPath);
    EXPECT_EQ(result, c.accept ? GroupResult::kChanged : GroupResult::kHandled) << c.box;
    EXPECT_EQ(Text(IDC_OUTPUT_PATH), c.result) << c.box;
    EXPECT_EQ(fake.startName, c.startName);
    EXPECT_EQ(fake.seen.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
    EXPECT_EQ(fake.seen.hwndOwner, dialog_);
    EXPECT_EQ(fake.seen.nFilterIndex, 1u);
    EXPECT_EQ(fake.seen.nMaxFile, 260u);
    EXPECT_EQ(fake.seen.nMaxFileTitle, 255u);
    EXPECT_EQ(fake.seen.Flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY));
    EXPECT_EQ(fake.seen.lpstrInitialDir, nullptr);
    EXPECT_EQ(fake.seen.lpstrDefExt, nullptr);
    EXPECT_EQ(fake.seen.lpstrTitle, nullptr);
    EXPECT_EQ(fake.seen.lpstrCustomFilter, nullptr);
    const char list[] = "AVI (*.AVI)\0*.avi\0";
    EXPECT_EQ(std::string(fake.filterList.begin(), fake.filterList.end()),
              std::string(list, sizeof list));
    EXPECT_STREQ(app_.outputPath, "") << "Browse never stores the path";
  }
}

TEST_F(ControlsTest, SaveAsPreselectsTheTypeOfThePathsExtension) {
  const char* filter = "BMP (*.BMP)\n*.bmp\nAVI (*.AVI)\n*.avi\nALL\n*.*\nPNG\n*.png";
  struct Case {
    const char* path;
    int index;  // argument
    int preselected;
  } cases[] = {
      {"C:\\a\\x.avi", 0, 2}, {"C:\\a\\x.AVI", 0, 2}, {"C:\\a\\x.bmp", 0, 1},
      {"C:\\a\\x.txt", 0, 1}, {"C:\\a\\x", 0, 1},     {"", 0, 1},
      {"C:\\a\\x.png", 0, 1},  // "*.*" ends the walk before PNG
      {"C:\\a\\x.avi", 4, 4},
  };
  for (const Case& c : cases) {
    fake = FakeDialog();
    fake.accept = false;
    char path[kPathSize];
    std::snprintf(path, sizeof path, "%s", c.path);
    EXPECT_EQ(ChooseSaveFile(path, filter, dialog_, c.index, FakeFileDialog), 0);
    EXPECT_EQ(fake.seen.nFilterIndex, static_cast<DWORD>(c.preselected)) << c.path;
  }
}

TEST_F(ControlsTest, SaveAsAddsTheSelectedTypesExtensionOnlyWhenItFits) {
  const char* filter = "BMP (*.BMP)\n*.bmp\nAVI (*.AVI)\n*.avi\nALL\n*.*";
  struct Case {
    std::string answer;
    DWORD selected;
    std::string expected;
    int result;
  } cases[] = {
      {"C:\\m", 2, "C:\\m.avi", 2},
      {"C:\\m", 1, "C:\\m.bmp", 1},
      {"C:\\m", 3, "C:\\m", 3},  // all files: no extension to add
      {"C:\\m.txt", 2, "C:\\m.txt", 2},
      {"C:\\" + std::string(252, 'n'), 2, "C:\\" + std::string(252, 'n') + ".avi", 2},
      {"C:\\" + std::string(253, 'n'), 2, "C:\\" + std::string(253, 'n'), 2},
      {"C:\\" + std::string(256, 'n'), 2, "C:\\" + std::string(256, 'n'), 2},
  };
  for (const Case& c : cases) {
    fake = FakeDialog();
    fake.answer = c.answer;
    fake.answerIndex = c.selected;
    char path[kPathSize + 8];
    std::memset(path, 'Z', sizeof path);
    std::snprintf(path, kPathSize, "C:\\start.avi");
    EXPECT_EQ(ChooseSaveFile(path, filter, dialog_, 0, FakeFileDialog), c.result);
    EXPECT_EQ(std::string(path), c.expected);
    EXPECT_EQ(path[kPathSize], 'Z') << "nothing written past the path buffer";
  }
  // A cancel hands back the starting name without its extension.
  fake = FakeDialog();
  fake.accept = false;
  char path[kPathSize] = "C:\\img\\shot.avi";
  EXPECT_EQ(ChooseSaveFile(path, filter, dialog_, 0, FakeFileDialog), 0);
  EXPECT_STREQ(path, "C:\\img\\shot");
}

TEST_F(ControlsTest, OpenDialogStartsEmptyWithAllFilesLast) {
  char path[kPathSize] = "C:\\keep\\this.bmp";
  fake.accept = false;
  const char* filter = "BMP (*.BMP)\n*.bmp\nRLE (*.RLE)\n*.rle\nPNG (*.PNG)\n*.png";
  EXPECT_EQ(ChooseOpenFile(path, filter, dialog_, 2, FakeFileDialog), 0);
  EXPECT_EQ(fake.startName, "");
  EXPECT_STREQ(path, "") << "after a cancel the path is empty";
  EXPECT_EQ(fake.seen.nFilterIndex, 2u);
  EXPECT_EQ(fake.seen.Flags, static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY));
  EXPECT_EQ(fake.seen.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
  EXPECT_EQ(fake.seen.nMaxFile, 260u);
  EXPECT_EQ(fake.seen.nMaxFileTitle, 255u);
  EXPECT_EQ(fake.seen.lpstrInitialDir, nullptr);
  // The all-files entry names files in half-width katakana (ﾌｧｲﾙ: 0xCC 0xA7 0xB2 0xD9).
  const char list[] =
      "BMP (*.BMP)\0*.bmp\0RLE (*.RLE)\0*.rle\0PNG (*.PNG)\0*.png\0"
      "\x82\xb7\x82\xd7\x82\xc4\x82\xcc\xcc\xa7\xb2\xd9 (*.*)\0*.*\0";
  EXPECT_EQ(std::string(fake.filterList.begin(), fake.filterList.end()), std::string(list, sizeof list));

  fake = FakeDialog();
  fake.answer = "C:\\chosen.png";
  EXPECT_NE(ChooseOpenFile(path, "", dialog_, 1, FakeFileDialog), 0);
  EXPECT_STREQ(path, "C:\\chosen.png");
  const char alone[] = "\x82\xb7\x82\xd7\x82\xc4\x82\xcc\xcc\xa7\xb2\xd9 (*.*)\0*.*\0";
  EXPECT_EQ(std::string(fake.filterList.begin(), fake.filterList.end()), std::string(alone, sizeof alone));
}

TEST(ControlsExtension, CompareAndStripFollowTheLastDotOfTheName) {
  struct Case {
    const char* path;
    const char* extension;
    bool equal;
    const char* stripped;
  } cases[] = {
      {"C:\\img\\shot.avi", "avi", true, "C:\\img\\shot"},
      {"C:\\img\\shot.AVI", ".avi", true, "C:\\img\\shot"},
      {"C:\\img\\shot.avi", "bmp", false, "C:\\img\\shot"},
      {"C:\\img.d\\shot", "", true, "C:\\img.d\\shot"},
      {"C:\\img.d\\shot", "d\\shot", false, "C:\\img.d\\shot"},
      {"C:\\img\\a.b.c", "c", true, "C:\\img\\a.b"},
      {"C:/img/a.tar", "TAR", true, "C:/img/a"},
      {"C:x.y", "y", true, "C:x"},
      {"shot.", "", true, "shot"},
      {"", "", true, ""},
      {"", "avi", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareExtension(c.path, c.extension) == 0, c.equal) << c.path << " / " << c.extension;
    char path[kPathSize];
    std::snprintf(path, sizeof path, "%s", c.path);
    StripExtension(path);
    EXPECT_STREQ(path, c.stripped);
  }
}

TEST(ControlsExtension, DoubleByteTrailBytesAreNeitherSeparatorsNorDots) {
  if (GetACP() != 932) GTEST_SKIP() << "needs the Japanese code page (run under ja_JP.UTF-8)";
  // 表 is 0x95 0x5C: its trail byte is a backslash.
  char path[kPathSize] = "C:\\dir\\a.\x95\x5c";
  EXPECT_EQ(CompareExtension(path, "\x95\x5c"), 0);
  StripExtension(path);
  EXPECT_STREQ(path, "C:\\dir\\a");
}

TEST_F(ControlsSequenceTest, DropInsideTheInputBoxLoadsTheWholeRun) {
  SetDlgItemTextA(dialog_, IDC_OUTPUT_PATH, "C:\\chosen.avi");
  const std::string frame = Frame("img050.bmp");
  const HGLOBAL block = DropBlock({frame}, CentreOf(IDC_INPUT_GROUP));
  EXPECT_EQ(InputGroup(WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0), GroupResult::kChanged);
  GlobalFree(block);
  EXPECT_EQ(Text(IDC_INPUT_PATH), frame);
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "8");
  EXPECT_EQ(Text(IDC_LAST_EDIT), "120");
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "113");
  for (int id : {IDC_FIRST_SCROLL, IDC_LAST_SCROLL}) {
    int low = 0, high = 0;
    Range(id, &low, &high);
    EXPECT_EQ(low, 8);
    EXPECT_EQ(high, 120);
  }
  EXPECT_EQ(Position(IDC_FIRST_SCROLL), 8);
  EXPECT_EQ(Position(IDC_LAST_SCROLL), 120);
  // The run is the dialog's working copy until Run.
  EXPECT_EQ(app_.foundFirst, -1);
  EXPECT_STREQ(app_.inputPath, "");
}

TEST_F(ControlsSequenceTest, DropOutsideTheInputBoxOrOnItsEdgeIsIgnored) {
  const RECT box = ClientRectOf(IDC_INPUT_GROUP);
  const POINT points[] = {
      CentreOf(IDC_OUTPUT_GROUP),
      CentreOf(IDC_OUTPUT_PATH),
      POINT{box.left, (box.top + box.bottom) / 2},
      POINT{box.right, (box.top + box.bottom) / 2},
      POINT{(box.left + box.right) / 2, box.top},
      POINT{(box.left + box.right) / 2, box.bottom},
  };
  for (const POINT& point : points) {
    const HGLOBAL block = DropBlock({Frame("img050.bmp")}, point);
    EXPECT_EQ(InputGroup(WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0), GroupResult::kHandled);
    GlobalFree(block);
    EXPECT_EQ(Text(IDC_INPUT_PATH), "") << point.x << "," << point.y;
    EXPECT_EQ(Text(IDC_FRAME_COUNT), "0");
  }
  // Just inside the edges counts.
  const HGLOBAL block = DropBlock({Frame("img050.bmp")}, POINT{box.left + 1, box.top + 1});
  EXPECT_EQ(InputGroup(WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0), GroupResult::kChanged);
  GlobalFree(block);
  EXPECT_EQ(Text(IDC_INPUT_PATH), Frame("img050.bmp"));
}

TEST_F(ControlsSequenceTest, DropOfThreeFilesUsesTheFirst) {
  Drop({Frame("img100.bmp"), Frame("img009.bmp"), Frame("img010.bmp")}, CentreOf(IDC_INPUT_GROUP));
  EXPECT_EQ(Text(IDC_INPUT_PATH), Frame("img100.bmp"));
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "113");
}

TEST_F(ControlsSequenceTest, TypingAPathRescansOnEveryKeystroke) {
  const std::string full = Frame("img050.bmp");
  // Shorter prefixes name nothing: no run, a single file counted.
  Type(IDC_INPUT_PATH, full.substr(0, full.size() - 3));
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "");
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "1");
  EXPECT_EQ(app_.dialogFirst, -1);
  Type(IDC_INPUT_PATH, full);
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "8");
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "113");
  // A notification without a user edit changes nothing.
  SetDlgItemTextA(dialog_, IDC_FIRST_EDIT, "100");
  EXPECT_EQ(InputGroup(WM_COMMAND, MAKEWPARAM(IDC_INPUT_PATH, EN_CHANGE), 0), GroupResult::kHandled);
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "100");
  Type(IDC_INPUT_PATH, "");
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "0");
}

TEST_F(ControlsSequenceTest, TypedNumbersAreClampedForTheBarAndCountButKeptInTheBox) {
  LoadRun();
  struct Case {
    int edit;
    const char* typed;
    int scrollId;
    int position;
    const char* count;
  } cases[] = {
      {IDC_FIRST_EDIT, "150", IDC_FIRST_SCROLL, 50, "71"},
      {IDC_FIRST_EDIT, "1234", IDC_FIRST_SCROLL, 34, "87"},
      {IDC_FIRST_EDIT, "5", IDC_FIRST_SCROLL, 8, "113"},
      {IDC_FIRST_EDIT, "120", IDC_FIRST_SCROLL, 120, "1"},
      {IDC_LAST_EDIT, "8", IDC_LAST_SCROLL, 8, "113"},  // first 120, last 8: backwards
      {IDC_LAST_EDIT, "121", IDC_LAST_SCROLL, 21, "100"},
      {IDC_LAST_EDIT, "99999999999", IDC_LAST_SCROLL, 99, "22"},
  };
  for (const Case& c : cases) {
    Type(c.edit, c.typed);
    EXPECT_EQ(Text(c.edit), c.typed);
    EXPECT_EQ(Position(c.scrollId), c.position) << c.typed;
    EXPECT_EQ(Text(IDC_FRAME_COUNT), c.count) << c.typed;
  }
  Type(IDC_FIRST_EDIT, "150");
  Run();
  EXPECT_EQ(app_.firstNumber, 50);
  EXPECT_EQ(app_.lastNumber, 99);
  EXPECT_EQ(app_.foundFirst, 8);
  EXPECT_EQ(app_.foundLast, 120);
  EXPECT_EQ(std::string(app_.inputPath), Frame("img050.bmp"));
}

TEST_F(ControlsSequenceTest, EmptyNumberBoxIsHandedOverAsUnset) {
  LoadRun();
  Type(IDC_FIRST_EDIT, "");
  Run();
  EXPECT_EQ(app_.firstNumber, -1);
  EXPECT_EQ(app_.lastNumber, 120);
}

TEST_F(ControlsSequenceTest, ScrollCodesStepEachRangePairByOneAndTen) {
  LoadRun();
  struct Case {
    int scrollId;
    int editId;
    const char* start;
    int code;
    int thumb;
    const char* text;
  } cases[] = {
      {IDC_FIRST_SCROLL, IDC_FIRST_EDIT, "8", SB_LINERIGHT, 0, "9"},
      {IDC_FIRST_SCROLL, IDC_FIRST_EDIT, "8", SB_LINELEFT, 0, "8"},
      {IDC_FIRST_SCROLL, IDC_FIRST_EDIT, "15", SB_PAGELEFT, 0, "8"},
      {IDC_FIRST_SCROLL, IDC_FIRST_EDIT, "15", SB_PAGERIGHT, 0, "25"},
      {IDC_FIRST_SCROLL, IDC_FIRST_EDIT, "15", SB_THUMBTRACK, 77, "77"},
      {IDC_FIRST_SCROLL, IDC_FIRST_EDIT, "15", SB_THUMBPOSITION, 60, "60"},
      {IDC_FIRST_SCROLL, IDC_FIRST_EDIT, "150", SB_ENDSCROLL, 0, "50"},
      {IDC_LAST_SCROLL, IDC_LAST_EDIT, "120", SB_LINERIGHT, 0, "120"},
      {IDC_LAST_SCROLL, IDC_LAST_EDIT, "115", SB_PAGERIGHT, 0, "120"},
      {IDC_LAST_SCROLL, IDC_LAST_EDIT, "120", SB_LINELEFT, 0, "119"},
      {IDC_LAST_SCROLL, IDC_LAST_EDIT, "120", SB_PAGELEFT, 0, "110"},
      {IDC_LAST_SCROLL, IDC_LAST_EDIT, "50", SB_THUMBTRACK, 99, "99"},
      {IDC_LAST_SCROLL, IDC_LAST_EDIT, "50", SB_LEFT, 0, "50"},
  };
  for (const Case& c : cases) {
    SetDlgItemTextA(dialog_, c.editId, c.start);
    const GroupResult result = InputGroup(WM_HSCROLL, MAKEWPARAM(c.code, c.thumb),
                                          reinterpret_cast<LPARAM>(Item(c.scrollId)));
    EXPECT_EQ(result, GroupResult::kChanged);
    EXPECT_EQ(Text(c.editId), c.text) << c.start << " code " << c.code;
    EXPECT_EQ(Position(c.scrollId), std::atoi(c.text));
    const int first = std::atoi(Text(IDC_FIRST_EDIT).c_str());
    const int last = std::atoi(Text(IDC_LAST_EDIT).c_str());
    EXPECT_EQ(Text(IDC_FRAME_COUNT), std::to_string(std::abs(last - first) + 1));
  }
  // The frame-rate bar is not the group's.
  EXPECT_EQ(InputGroup(WM_HSCROLL, SB_LINERIGHT, reinterpret_cast<LPARAM>(Item(IDC_RATE_SCROLL))), GroupResult::kHandled);
}

// The range bars are narrow: their thumb must leave room in the shaft to show where the
// number stands and to take page clicks beside it. A thumb that cannot move (a bar too
// narrow even for the smallest thumb) reports the minimum wherever it is clicked, which
// must not throw the number back to the run's start.
TEST_F(ControlsSequenceTest, RangeBarsThumbsShowThePositionAndOneWithoutRoomChangesNothing) {
  LoadRun();
  for (int id : {IDC_FIRST_SCROLL, IDC_LAST_SCROLL}) {
    SCOPED_TRACE(id);
    auto thumbTop = [&](int value) {
      SetScrollPos(Item(id), SB_CTL, value, TRUE);
      SCROLLBARINFO info = {};
      info.cbSize = sizeof info;
      EXPECT_TRUE(GetScrollBarInfo(Item(id), OBJID_CLIENT, &info));
      const int shaft = (info.rcScrollBar.right - info.rcScrollBar.left) - 2 * GetSystemMetrics(SM_CXHSCROLL);
      EXPECT_GT(info.xyThumbBottom - info.xyThumbTop, 0);
      EXPECT_LT(info.xyThumbBottom - info.xyThumbTop, shaft);
      return info.xyThumbTop;
    };
    EXPECT_LT(thumbTop(8), thumbTop(120));
    EXPECT_LE(thumbTop(8), thumbTop(50));
    EXPECT_LE(thumbTop(50), thumbTop(120));
  }
  // A bar without a page gets the system's full-size thumb, which fills this shaft.
  SCROLLINFO full = {sizeof full, SIF_PAGE, 0, 0, 0, 0, 0};
  SetScrollInfo(Item(IDC_FIRST_SCROLL), SB_CTL, &full, FALSE);
  Type(IDC_FIRST_EDIT, "50");
  Scroll(IDC_FIRST_SCROLL, SB_THUMBTRACK, 8);
  Scroll(IDC_FIRST_SCROLL, SB_THUMBPOSITION, 8);
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "50");
  Scroll(IDC_FIRST_SCROLL, SB_PAGERIGHT);
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "60");
}

TEST_F(ControlsSequenceTest, ScrollingWithoutARunDoesNothing) {
  Type(IDC_INPUT_PATH, Frame("nothing.bmp"));
  for (int id : {IDC_FIRST_SCROLL, IDC_LAST_SCROLL}) {
    for (int code : {SB_LINERIGHT, SB_PAGERIGHT, SB_THUMBTRACK, SB_ENDSCROLL}) {
      EXPECT_EQ(InputGroup(WM_HSCROLL, MAKEWPARAM(code, 50), reinterpret_cast<LPARAM>(Item(id))), GroupResult::kHandled);
    }
  }
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "");
  EXPECT_EQ(Text(IDC_LAST_EDIT), "");
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "1");
}

TEST_F(ControlsSequenceTest, TypingNumbersWithoutARunKeepsTheDialogUsable) {
  Type(IDC_INPUT_PATH, Frame("nothing.bmp"));
  Type(IDC_FIRST_EDIT, "5");
  Type(IDC_LAST_EDIT, "99999");
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "1");
  EXPECT_EQ(Position(IDC_FIRST_SCROLL), -1);
  Scroll(IDC_LAST_SCROLL, SB_LINERIGHT);
  EXPECT_EQ(Text(IDC_LAST_EDIT), "99999");
  // The dialog goes on: a path of the run loads it.
  LoadRun();
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "113");
}

TEST_F(ControlsSequenceTest, TypingIntoARunEndingAtZeroStaysAtZero) {
  ASSERT_TRUE(folder_.AddFile("zero0.bmp"));
  Type(IDC_INPUT_PATH, Frame("zero0.bmp"));
  ASSERT_EQ(app_.dialogFirst, 0);
  ASSERT_EQ(app_.dialogLast, 0);
  Type(IDC_FIRST_EDIT, "7");
  EXPECT_EQ(Position(IDC_FIRST_SCROLL), 0);
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "1");
  Run();
  EXPECT_EQ(app_.firstNumber, 0);
}

TEST_F(ControlsSequenceTest, ThumbDragAboveSixteenBitsKeepsTheFrameNumber) {
  for (int n = 40000; n <= 40003; ++n) {
    ASSERT_TRUE(folder_.AddFile("big" + std::to_string(n) + ".bmp"));
  }
  Type(IDC_INPUT_PATH, Frame("big40001.bmp"));
  ASSERT_EQ(app_.dialogFirst, 40000);
  SetScrollPos(Item(IDC_FIRST_SCROLL), SB_CTL, 40002, FALSE);
  Scroll(IDC_FIRST_SCROLL, SB_THUMBTRACK, 40002 & 0xFFFF);
  EXPECT_EQ(Text(IDC_FIRST_EDIT), "40002");
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "2");
}

TEST_F(ControlsSequenceTest, InputBrowseOffersRleFirstAndLoadsTheChosenFrame) {
  fake.answer = Frame("img020.bmp");
  Type(IDC_INPUT_PATH, "C:\\typed.bmp");
  const GroupResult result = InputGroup(WM_COMMAND, MAKEWPARAM(IDC_INPUT_BROWSE, BN_CLICKED), 0);
  EXPECT_EQ(result, GroupResult::kChanged);
  EXPECT_EQ(fake.startName, "") << "the box's path is not shown";
  EXPECT_EQ(fake.seen.nFilterIndex, 2u);
  EXPECT_EQ(Text(IDC_INPUT_PATH), Frame("img020.bmp"));
  EXPECT_EQ(Text(IDC_FRAME_COUNT), "113");

  fake = FakeDialog();
  fake.accept = false;
  EXPECT_EQ(InputGroup(WM_COMMAND, MAKEWPARAM(IDC_INPUT_BROWSE, BN_CLICKED), 0), GroupResult::kHandled);
  EXPECT_EQ(Text(IDC_INPUT_PATH), Frame("img020.bmp"));
  EXPECT_EQ(fake.calls, 1);
}

}  // namespace
}  // namespace zelvo
