// The main dialog (resource 135) created from the compiled resources and driven with real
// messages: output name derivation, the system menu, Run with its hand-over and its
// guard against a second job, Exit, and the compiled templates and icon themselves.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../resources/resource_ids.h"
#include "app/main_dialog_win32.h"
#include "controls/file_dialogs_win32.h"
#include "app/app_state_win32.h"
#include "convert/conversion_job.h"
#include "platform/path_buffer.h"
#include "support/bmp_writer.h"
#include "support/temp_dir.h"
#include "win32/message_watch_win32.h"

namespace zelvo {
namespace {

HWND runningDialog = nullptr;

// What the fake job saw when the dialog started it.
struct JobRecord {
  int calls = 0;
  bool pathWasNull = false;
  bool dialogEnabled = true;
  std::string inputPath;
  std::string outputPath;
  int firstNumber = 0;
  int lastNumber = 0;
  int foundFirst = 0;
  int foundLast = 0;
  int frameRate = 0;
  bool pressRunAgain = false;  // a second Run, and Exit, while the job is under way
  bool stateKept = false;      // ... left the state the job works with untouched
  bool dialogKept = false;     // ... and the dialog open
} job;

std::vector<std::string> reports;

int FakeJob(AppState& app, const char* framePath) {
  ++job.calls;
  job.pathWasNull = framePath == nullptr;
  job.dialogEnabled = IsWindowEnabled(runningDialog) != FALSE;
  job.inputPath = app.inputPath;
  job.outputPath = app.outputPath;
  job.firstNumber = app.firstNumber;
  job.lastNumber = app.lastNumber;
  job.foundFirst = app.foundFirst;
  job.foundLast = app.foundLast;
  job.frameRate = app.frameRate;
  if (job.pressRunAgain) {
    // The boxes change and Run arrives again: neither a second job nor a new hand-over.
    job.pressRunAgain = false;
    SetDlgItemTextA(runningDialog, IDC_RATE_EDIT, "50");
    SetDlgItemTextA(runningDialog, IDC_OUTPUT_PATH, "C:\\other.avi");
    SetDlgItemTextA(runningDialog, IDC_FIRST_EDIT, "1");
    SendMessageA(runningDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    job.stateKept = app.frameRate == job.frameRate && job.outputPath == app.outputPath &&
                    app.firstNumber == job.firstNumber && job.inputPath == app.inputPath;
    SendMessageA(runningDialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    job.dialogKept = IsWindowVisible(runningDialog) != FALSE;
  }
  return 0;
}

void FakeReport(const char* text) { reports.push_back(text); }

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.instance = GetModuleHandleA(nullptr);
    job = JobRecord();
    reports.clear();
    app_.startJob = FakeJob;
    app_.report = FakeReport;
    dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                 MainDialogProc, reinterpret_cast<LPARAM>(&app_));
    ASSERT_NE(dialog_, nullptr);
    runningDialog = dialog_;
  }
  void TearDown() override {
    if (dialog_ != nullptr) DestroyWindow(dialog_);
  }

  std::string Text(int id) const {
    char text[kPathSize] = {};
    GetDlgItemTextA(dialog_, id, text, kPathSize);
    return text;
  }
  void Type(int id, const std::string& text) {
    const HWND edit = GetDlgItem(dialog_, id);
    SetWindowTextA(edit, text.c_str());
    SendMessageA(edit, EM_SETMODIFY, TRUE, 0);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), reinterpret_cast<LPARAM>(edit));
  }
  void Run() { SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }
  bool Grey(UINT command) const {
    return (GetMenuState(GetSystemMenu(dialog_, FALSE), command, MF_BYCOMMAND) & MF_GRAYED) != 0;
  }

  AppState app_;  // a fresh process's record, this test program being the instance
  HWND dialog_ = nullptr;
};

std::string SmallBmp() {
  test::BmpDescription desc;
  desc.width = 2;
  desc.height = 2;
  desc.payload = test::PadRows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
  const std::vector<std::uint8_t> bytes = test::BuildBmp(desc);
  return std::string(bytes.begin(), bytes.end());
}

TEST_F(MainDialogTest, StartRegistersTheWindowAndGreysMaximizeRestoreAndSize) {
  EXPECT_EQ(app_.mainWindow, dialog_);
  EXPECT_NE(SendMessageA(dialog_, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_TRUE(Grey(SC_MAXIMIZE));
  EXPECT_TRUE(Grey(SC_RESTORE));
  EXPECT_TRUE(Grey(SC_SIZE));
  EXPECT_FALSE(Grey(SC_MINIMIZE));
  EXPECT_FALSE(Grey(SC_MOVE));
  EXPECT_FALSE(Grey(SC_CLOSE));
  char title[64] = {};
  GetWindowTextA(dialog_, title, sizeof title);
  EXPECT_STREQ(title, "Zelvo  Version 1.00");
}

TEST_F(MainDialogTest, MinimiseAndRestoreSwapTheirMenuStates) {
  for (int round = 0; round < 2; ++round) {
    // Called directly: the default minimising is the system's, not the dialog's.
    EXPECT_EQ(MainDialogProc(dialog_, WM_SYSCOMMAND, SC_MINIMIZE, 0), 0);
    EXPECT_TRUE(Grey(SC_MINIMIZE));
    EXPECT_FALSE(Grey(SC_RESTORE));
    EXPECT_TRUE(Grey(SC_MAXIMIZE));
    EXPECT_TRUE(Grey(SC_SIZE));
    EXPECT_EQ(MainDialogProc(dialog_, WM_SYSCOMMAND, SC_RESTORE, 0), 0);
    EXPECT_FALSE(Grey(SC_MINIMIZE));
    EXPECT_TRUE(Grey(SC_RESTORE));
    EXPECT_TRUE(Grey(SC_MAXIMIZE));
  }
}

TEST_F(MainDialogTest, OutputNameIsDerivedOnEveryInputChange) {
  struct Case {
    const char* input;
    const char* output;
  } cases[] = {
      {"C:\\img\\shot0001.bmp", "C:\\img\\shot.avi"},
      {"C:\\a\\clip.bmp", "C:\\a\\clip.avi"},
      {"C:\\a\\0001.bmp", "C:\\a\\.avi"},
      {"frame7", "frame.avi"},
      {"", ".avi"},
  };
  for (const Case& c : cases) {
    Type(IDC_OUTPUT_PATH, "C:\\mine.avi");
    Type(IDC_INPUT_PATH, c.input);
    EXPECT_EQ(Text(IDC_OUTPUT_PATH), c.output) << c.input;
    EXPECT_STREQ(app_.outputPath, c.output);
  }
}

TEST_F(MainDialogTest, ChangingOnlyARangeNumberReplacesTheChosenOutputName) {
  test::TempDir folder;
  ASSERT_TRUE(folder.ok());
  for (const char* name : {"seq08.bmp", "seq09.bmp", "seq10.bmp"}) ASSERT_TRUE(folder.AddFile(name));
  Type(IDC_INPUT_PATH, folder.Join("seq09.bmp"));
  const std::string derived = folder.Join("seq.avi");
  EXPECT_EQ(Text(IDC_OUTPUT_PATH), derived);
  for (int id : {IDC_FIRST_EDIT, IDC_LAST_EDIT}) {
    Type(IDC_OUTPUT_PATH, "C:\\mine.avi");
    Type(id, "9");
    EXPECT_EQ(Text(IDC_OUTPUT_PATH), derived);
  }
  for (int id : {IDC_FIRST_SCROLL, IDC_LAST_SCROLL}) {
    Type(IDC_OUTPUT_PATH, "C:\\mine.avi");
    SendMessageA(dialog_, WM_HSCROLL, SB_LINELEFT, reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
    EXPECT_EQ(Text(IDC_OUTPUT_PATH), derived);
  }
  // The frame rate is no input change.
  Type(IDC_OUTPUT_PATH, "C:\\mine.avi");
  SendMessageA(dialog_, WM_HSCROLL, SB_LINELEFT, reinterpret_cast<LPARAM>(GetDlgItem(dialog_, IDC_RATE_SCROLL)));
  Type(IDC_RATE_EDIT, "20");
  EXPECT_EQ(Text(IDC_OUTPUT_PATH), "C:\\mine.avi");
}

TEST_F(MainDialogTest, DerivedNameTooLongForThePathBufferLeavesTheOutputAlone) {
  Type(IDC_INPUT_PATH, "C:\\short\\a1.bmp");
  ASSERT_EQ(Text(IDC_OUTPUT_PATH), "C:\\short\\a.avi");
  // 259 characters whose number and extension (3 characters) are shorter than ".avi".
  const std::string folder = "C:\\" + std::string(250, 'd') + "\\";
  const std::string input = folder + "x1.b";
  ASSERT_EQ(input.size(), 258u);
  Type(IDC_INPUT_PATH, input + "");
  EXPECT_EQ(Text(IDC_OUTPUT_PATH), folder + "x.avi") << "259 characters still fit";
  const std::string longer = "C:\\" + std::string(251, 'd') + "\\x1.b";
  ASSERT_EQ(longer.size(), 259u);
  Type(IDC_INPUT_PATH, longer);
  EXPECT_EQ(Text(IDC_INPUT_PATH), longer);
  EXPECT_EQ(Text(IDC_OUTPUT_PATH), folder + "x.avi");
  EXPECT_EQ(std::string(app_.outputPath), folder + "x.avi");
}

TEST_F(MainDialogTest, RunReportsADerivedNameThatDidNotFitUntilTheUserSetsOne) {
  test::TempDir folder;
  ASSERT_TRUE(folder.ok());
  // A readable frame whose path is 259 characters, so "<folder>\x.avi" needs 260.
  const std::string base = folder.Join("");
  const std::size_t sub = 259 - base.size() - std::string("\\x1.b").size();
  ASSERT_GT(sub, 0u);
  ASSERT_LT(sub, 250u);
  const std::string subName(sub, 'd');
  ASSERT_TRUE(folder.AddFolder(subName));
  std::string bmp = "BM";
  bmp += std::string(8, '\0') + std::string("\x36\0\0\0", 4);
  const unsigned char info[] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
  bmp += std::string(reinterpret_cast<const char*>(info), sizeof info) + std::string(24 + 4, '\0');
  ASSERT_TRUE(folder.AddFile(subName + "/x1.b", bmp));
  const std::string input = folder.Join(subName + "/x1.b");
  ASSERT_EQ(input.size(), 259u);

  Type(IDC_OUTPUT_PATH, "C:\\older.avi");
  Type(IDC_INPUT_PATH, input);
  EXPECT_EQ(Text(IDC_OUTPUT_PATH), "C:\\older.avi");
  Run();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], folder.Join(subName + "/x.avi") + "\nに書き込めませんでした。\n");
  EXPECT_EQ(job.calls, 0);

  Type(IDC_OUTPUT_PATH, "C:\\chosen.avi");
  Run();
  EXPECT_EQ(job.calls, 1);
  EXPECT_EQ(job.outputPath, "C:\\chosen.avi");
}

TEST_F(MainDialogTest, RunWithAnUnreadableInputReportsAndStartsNothing) {
  test::TempDir folder;
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(folder.AddFile("text01.bmp", std::string(100, 'x')));
  ASSERT_TRUE(folder.AddFolder("dir01.bmp"));
  const std::string inputs[] = {"", folder.Join("missing01.bmp"), folder.Join("text01.bmp"),
                                folder.Join("dir01.bmp")};
  for (const std::string& input : inputs) {
    reports.clear();
    Type(IDC_INPUT_PATH, input);
    Run();
    ASSERT_EQ(reports.size(), 1u) << input;
    EXPECT_EQ(reports[0],
              "入力ファイルを読み込めません。\n入力ファイルを正しくセットしてください。");
    EXPECT_EQ(job.calls, 0);
    EXPECT_TRUE(IsWindowEnabled(dialog_));
  }
}

TEST_F(MainDialogTest, RunHandsTheControlsOverAndStartsOneJobWithTheDialogDisabled) {
  test::TempDir folder;
  ASSERT_TRUE(folder.ok());
  for (const char* name : {"pic1.bmp", "pic2.bmp", "pic3.bmp", "pic4.bmp"}) {
    ASSERT_TRUE(folder.AddFile(name, SmallBmp()));
  }
  Type(IDC_INPUT_PATH, folder.Join("pic2.bmp"));
  Type(IDC_FIRST_EDIT, "3");
  Type(IDC_LAST_EDIT, "2");
  Type(IDC_OUTPUT_PATH, "C:\\out\\movie.avi");
  Type(IDC_RATE_EDIT, "29.97");
  job.pressRunAgain = true;
  ShowWindow(dialog_, SW_SHOW);
  Run();
  EXPECT_EQ(job.calls, 1) << "a Run during the job starts nothing";
  EXPECT_TRUE(job.stateKept);
  EXPECT_TRUE(job.dialogKept) << "Exit during the job does not end the dialog";
  EXPECT_TRUE(job.pathWasNull);
  EXPECT_FALSE(job.dialogEnabled);
  EXPECT_TRUE(IsWindowEnabled(dialog_));
  EXPECT_EQ(job.inputPath, folder.Join("pic2.bmp"));
  EXPECT_EQ(job.outputPath, "C:\\out\\movie.avi");
  EXPECT_EQ(job.foundFirst, 1);
  EXPECT_EQ(job.foundLast, 4);
  EXPECT_EQ(job.firstNumber, 3);
  EXPECT_EQ(job.lastNumber, 2);
  EXPECT_EQ(job.frameRate, 29970);
  EXPECT_TRUE(reports.empty());
  // The dialog stays open for the next job.
  Run();
  EXPECT_EQ(job.calls, 2);
}

TEST_F(MainDialogTest, RunWhileAJobIsUnderWayDoesNothing) {
  test::TempDir folder;
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(folder.AddFile("pic1.bmp", SmallBmp()));
  Type(IDC_INPUT_PATH, folder.Join("pic1.bmp"));
  Run();
  ASSERT_EQ(job.calls, 1);
  Type(IDC_RATE_EDIT, "50");
  {
    JobSlot otherJob;  // a job under way, started elsewhere
    Run();
    EXPECT_EQ(job.calls, 1);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(app_.frameRate, 15000) << "no hand-over while a job runs";
  }
  Run();
  EXPECT_EQ(job.calls, 2);
  EXPECT_EQ(app_.frameRate, 50000);
}

// The real job behind Run: an output box naming one of the frames, in another case, is
// refused with the job's message naming both, before the compressor is asked for.
TEST_F(MainDialogTest, RunWithAFrameAsTheOutputIsRefusedBeforeAnythingIsWritten) {
  test::TempDir folder;
  ASSERT_TRUE(folder.ok());
  for (const char* name : {"pic1.bmp", "pic2.bmp"}) ASSERT_TRUE(folder.AddFile(name, SmallBmp()));
  app_.startJob = ConvertSequence;
  Type(IDC_INPUT_PATH, folder.Join("pic1.bmp"));
  std::string output = folder.Join("PIC2.BMP");
  Type(IDC_OUTPUT_PATH, output);
  test::MessageWatch boxes;
  Run();
  ASSERT_EQ(test::gMessages.size(), 1u);
  EXPECT_EQ(test::gMessages[0].caption, "Zelvo");
  EXPECT_EQ(test::gMessages[0].text, output + "\nは変換するフレーム\n" + folder.Join("pic2.bmp") +
                                         "\nと同じファイルです。\n別の出力ファイルを指定してください。\n");
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(IsWindowEnabled(dialog_));
  std::ifstream frame(folder.Join("pic2.bmp"), std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(frame)), std::istreambuf_iterator<char>()), SmallBmp());
}

TEST_F(MainDialogTest, EnterInAnEditBoxActsAsRunWithTheValuesTypedSoFar) {
  Type(IDC_OUTPUT_PATH, "C:\\typed.avi");
  Type(IDC_RATE_EDIT, "150");
  const HWND edit = GetDlgItem(dialog_, IDC_RATE_EDIT);
  SetFocus(edit);
  MSG enter = {edit, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
  EXPECT_TRUE(IsDialogMessageA(dialog_, &enter));
  EXPECT_STREQ(app_.outputPath, "C:\\typed.avi");
  EXPECT_EQ(app_.frameRate, 50000);
  EXPECT_EQ(reports.size(), 1u) << "the empty input is reported";
}

TEST_F(MainDialogTest, DropsAreFinishedAndExitEndsTheDialog) {
  HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + 8);
  auto* header = static_cast<DROPFILES*>(GlobalLock(block));
  header->pFiles = sizeof(DROPFILES);
  std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), "C:\\x\0\0", 6);
  GlobalUnlock(block);
  EXPECT_TRUE(CommonDialogHandler(dialog_, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0));
  EXPECT_TRUE(CommonDialogHandler(dialog_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0));
  EXPECT_FALSE(CommonDialogHandler(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
  EXPECT_FALSE(CommonDialogHandler(dialog_, WM_HSCROLL, 0, 0));
}

TEST_F(MainDialogTest, DropOutsideTheInputBoxDoesNotRaiseOrChangeAnything) {
  test::TempDir folder;
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(folder.AddFile("f01.bmp"));
  const std::string file = folder.Join("f01.bmp");
  auto dropAt = [&](int groupId) {
    RECT r = {};
    GetWindowRect(GetDlgItem(dialog_, groupId), &r);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
    HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + file.size() + 2);
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->pt = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), file.c_str(), file.size() + 1);
    GlobalUnlock(block);
    SendMessageA(dialog_, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
  };
  Type(IDC_OUTPUT_PATH, "C:\\mine.avi");
  dropAt(IDC_OUTPUT_GROUP);
  EXPECT_EQ(Text(IDC_INPUT_PATH), "");
  EXPECT_EQ(Text(IDC_OUTPUT_PATH), "C:\\mine.avi");
  dropAt(IDC_INPUT_GROUP);
  EXPECT_EQ(Text(IDC_INPUT_PATH), file);
  EXPECT_EQ(Text(IDC_OUTPUT_PATH), folder.Join("f.avi"));
}

// Reading the compiled templates back: what the resource compiler made of the script.
class TemplateReader {
 public:
  explicit TemplateReader(const void* data) : at_(static_cast<const BYTE*>(data)) {}
  WORD Word() { WORD v; std::memcpy(&v, at_, 2); at_ += 2; return v; }
  DWORD Dword() { DWORD v; std::memcpy(&v, at_, 4); at_ += 4; return v; }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() { return *at_++; }
  void AlignDword(const void* base) {
    while ((at_ - static_cast<const BYTE*>(base)) % 4 != 0) ++at_;
  }
  // A string or an ordinal (0xFFFF then the number, written as "#number").
  std::wstring NameOrOrdinal() {
    if (Word() == 0xFFFF) return L"#" + std::to_wstring(Word());
    at_ -= 2;
    return String();
  }
  std::wstring String() {
    std::wstring text;
    for (WORD c = Word(); c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }

 private:
  const BYTE* at_;
};

struct Control {
  int id;
  std::wstring className;  // ordinals named as the system names them
  std::wstring text;
  short x, y, cx, cy;
  DWORD style;
};

std::wstring ClassName(const std::wstring& name) {
  if (name == L"#128") return L"BUTTON";
  if (name == L"#129") return L"EDIT";
  if (name == L"#130") return L"STATIC";
  if (name == L"#132") return L"SCROLLBAR";
  std::wstring upper = name;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  return upper;
}

struct Template {
  bool extended = false;
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::wstring menu, windowClass, caption, font;
  WORD pointSize = 0, weight = 0;
  BYTE italic = 0, charset = 0;
  std::vector<Control> controls;
};

bool LoadTemplate(int id, Template* out) {
  const HRSRC found = FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(id),
                                      MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
  if (found == nullptr) return false;
  const void* base = LockResource(LoadResource(nullptr, found));
  if (base == nullptr) return false;
  TemplateReader r(base);
  const WORD version = r.Word();
  const WORD signature = r.Word();
  out->extended = version == 1 && signature == 0xFFFF;
  WORD count = 0;
  if (out->extended) {
    r.Dword();  // help id
    out->exStyle = r.Dword();
    out->style = r.Dword();
  } else {
    out->style = MAKELONG(version, signature);
    out->exStyle = r.Dword();
  }
  count = r.Word();
  out->x = r.Short(); out->y = r.Short(); out->cx = r.Short(); out->cy = r.Short();
  out->menu = r.NameOrOrdinal();
  out->windowClass = r.NameOrOrdinal();
  out->caption = r.String();
  if (out->style & DS_SETFONT) {
    out->pointSize = r.Word();
    if (out->extended) {
      out->weight = r.Word();
      out->italic = r.Byte();
      out->charset = r.Byte();
    }
    out->font = r.String();
  }
  for (WORD i = 0; i < count; ++i) {
    r.AlignDword(base);
    Control c = {};
    if (out->extended) {
      r.Dword();  // help id
      r.Dword();  // extended style
      c.style = r.Dword();
    } else {
      c.style = r.Dword();
      r.Dword();
    }
    c.x = r.Short(); c.y = r.Short(); c.cx = r.Short(); c.cy = r.Short();
    c.id = out->extended ? static_cast<int>(r.Dword()) : static_cast<short>(r.Word());
    c.className = ClassName(r.NameOrOrdinal());
    c.text = r.NameOrOrdinal();
    const WORD extra = r.Word();
    for (WORD b = 0; b < extra; ++b) r.Byte();
    out->controls.push_back(c);
  }
  return true;
}

void ExpectControls(const Template& t, const std::vector<Control>& expected) {
  ASSERT_EQ(t.controls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Control& want = expected[i];
    const Control& got = t.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
    EXPECT_EQ(got.id, want.id);
    EXPECT_TRUE(got.className == want.className);
    EXPECT_TRUE(got.text == want.text);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    EXPECT_EQ(got.style, want.style | WS_CHILD | WS_VISIBLE) << std::hex << got.style;
  }
}

TEST(Resources, MainDialogTemplateIsCompiledAsDesigned) {
  Template t;
  ASSERT_TRUE(LoadTemplate(IDD_MAIN, &t));
  EXPECT_TRUE(t.extended);
  EXPECT_EQ(t.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                        DS_MODALFRAME | DS_SETFONT));
  EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_ACCEPTFILES));
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 231);
  EXPECT_EQ(t.cy, 291);
  EXPECT_TRUE(t.menu.empty());
  EXPECT_TRUE(t.windowClass.empty());
  EXPECT_TRUE(t.caption == L"Zelvo  Version 1.00");
  EXPECT_TRUE(t.font == L"ＭＳ Ｐゴシック");
  EXPECT_EQ(t.pointSize, 9);
  EXPECT_EQ(t.weight, 0);
  EXPECT_EQ(t.italic, 0);
  EXPECT_EQ(t.charset, 1);
  const DWORD tab = WS_TABSTOP;
  const DWORD text = WS_GROUP | SS_LEFT;
  ExpectControls(t, {
      {1, L"BUTTON", L"実行", 52, 270, 50, 14, tab | BS_DEFPUSHBUTTON},
      {2, L"BUTTON", L"終了", 126, 270, 50, 14, tab | BS_PUSHBUTTON},
      {1059, L"BUTTON", L"参照...", 177, 22, 28, 13, tab | BS_PUSHBUTTON},
      {1024, L"EDIT", L"", 26, 23, 147, 12, WS_BORDER | tab | ES_AUTOHSCROLL},
      {1060, L"EDIT", L"", 49, 37, 29, 12, WS_BORDER | tab | ES_AUTOHSCROLL | ES_NUMBER},
      {1061, L"EDIT", L"", 90, 37, 29, 12, WS_BORDER | tab | ES_AUTOHSCROLL | ES_NUMBER},
      {-1, L"STATIC", L"～", 81, 39, 8, 8, text},
      {1063, L"SCROLLBAR", L"", 49, 49, 29, 8, SBS_HORZ},
      {1064, L"SCROLLBAR", L"", 90, 49, 29, 8, SBS_HORZ},
      {1062, L"STATIC", L"88888", 125, 39, 19, 8, WS_GROUP | SS_RIGHT},
      {-1, L"STATIC", L"枚", 146, 39, 8, 8, text},
      {1071, L"BUTTON", L"入力ファイル（連番BMP,RLE,PNG）", 7, 10, 217, 58, BS_GROUPBOX},
      {1072, L"BUTTON", L"出力ファイル（AVI）", 7, 75, 217, 65, BS_GROUPBOX},
      {1065, L"BUTTON", L"参照...", 177, 90, 28, 13, tab | BS_PUSHBUTTON},
      {1025, L"EDIT", L"", 26, 91, 147, 12, WS_BORDER | tab | ES_AUTOHSCROLL},
      {-1, L"BUTTON", L"説明", 7, 151, 217, 106, BS_GROUPBOX},
      {-1, L"STATIC",
       L"このツールは、連番ファイル(BMP,RLE,PNG)をAVIファイルに変換するためのものです。\n"
       L"入力ファイルをセット（ドラッグ＆ドロップでも可）して、実行ボタンを押して下さい。",
       13, 165, 204, 33, text},
      {1057, L"SCROLLBAR", L"", 26, 121, 111, 8, SBS_HORZ},
      {1058, L"EDIT", L"", 141, 119, 28, 12, WS_BORDER | tab | ES_AUTOHSCROLL},
      {-1, L"STATIC", L"フレームレート", 26, 113, 58, 8, text},
      {-1, L"STATIC", L"フレーム/秒", 172, 121, 40, 8, text},
      {-1, L"STATIC",
       L"次に、圧縮プログラム（コーデック）を選択して構成やパラメータを設定してＯＫボタンを押して"
       L"下さい。指定されたフォルダ（ディレクトリ）にAVIファイルが生成されます。",
       13, 200, 204, 25, text},
      {-1, L"STATIC",
       L"※圧縮プログラムの「Cinepak Codec by Radius」を選択するとAVIファイルの生成に失敗してしまう"
       L"ので、他の圧縮プログラムか未圧縮を選択して下さい。",
       13, 227, 204, 25, text},
  });
}

TEST(Resources, ProgressDialogTemplateIsCompiled) {
  Template t;
  ASSERT_TRUE(LoadTemplate(IDD_PROGRESS, &t));
  EXPECT_EQ(t.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
  EXPECT_EQ(t.cx, 187);
  EXPECT_EQ(t.cy, 86);
  EXPECT_TRUE(t.caption == L"AVIファイル出力");
  EXPECT_TRUE(t.font == L"ＭＳ Ｐゴシック");
  EXPECT_EQ(t.pointSize, 9);
  ExpectControls(t, {
      {IDCANCEL, L"BUTTON", L"中止", 68, 65, 50, 14, WS_TABSTOP | BS_PUSHBUTTON},
      {IDC_PROGRESS_BAR, L"MSCTLS_PROGRESS32", L"Progress1", 7, 42, 173, 10, WS_BORDER},
      {IDC_PROGRESS_TEXT, L"STATIC", L"", 7, 32, 173, 9, WS_GROUP | SS_LEFT},
      {IDC_PROGRESS_STATUS, L"STATIC", L"", 7, 7, 173, 20, WS_GROUP | SS_LEFT},
  });
}

// Wine draws the caption buttons (minimise, close) with its Marlett font; a prefix
// without it shows them as the letters "0 1 r".
TEST(Resources, CaptionButtonsHaveTheirMarlettFont) {
  LOGFONTA wanted = {};
  wanted.lfHeight = -16;
  wanted.lfCharSet = SYMBOL_CHARSET;
  std::strcpy(wanted.lfFaceName, "Marlett");
  const HFONT font = CreateFontIndirectA(&wanted);
  ASSERT_NE(font, nullptr);
  const HDC dc = GetDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, font);
  char face[LF_FACESIZE] = {};
  GetTextFaceA(dc, sizeof face, face);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  EXPECT_STREQ(face, "Marlett");
}

TEST(Resources, IconGroupHasA32And16PixelSixteenColourImage) {
  const HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_ZELVO), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
  ASSERT_NE(data, nullptr);
  TemplateReader r(data);
  EXPECT_EQ(r.Word(), 0);
  EXPECT_EQ(r.Word(), 1);
  const WORD count = r.Word();
  ASSERT_EQ(count, 2);
  const int sizes[] = {32, 16};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(sizes[i]);
    EXPECT_EQ(r.Byte(), sizes[i]);  // width
    EXPECT_EQ(r.Byte(), sizes[i]);  // height
    EXPECT_EQ(r.Byte(), 16);        // colours
    r.Byte();
    EXPECT_EQ(r.Word(), 1);  // planes
    EXPECT_EQ(r.Word(), 4);  // bits a pixel
    const DWORD bytes = r.Dword();
    const WORD imageId = r.Word();
    const HRSRC image = FindResourceA(nullptr, MAKEINTRESOURCEA(imageId), RT_ICON);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, image), bytes);
    BITMAPINFOHEADER header;
    std::memcpy(&header, LockResource(LoadResource(nullptr, image)), sizeof header);
    EXPECT_EQ(header.biWidth, sizes[i]);
    EXPECT_EQ(header.biHeight, 2 * sizes[i]);
    EXPECT_EQ(header.biBitCount, 4);
    // 40-byte header, 16 colours, 4-bit rows, 1-bit mask rows padded to 4 bytes.
    const DWORD expected = 40 + 64 + sizes[i] * sizes[i] / 2 + sizes[i] * 4;
    EXPECT_EQ(bytes, expected);
  }
  EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_ZELVO)), nullptr);
}

}  // namespace
}  // namespace zelvo
