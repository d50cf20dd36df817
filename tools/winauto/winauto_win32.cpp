// winauto: drives the windows of Windows programs running in the same Wine session from
// shell scripts, so the end-to-end tests can answer message boxes, accept or cancel the
// compressor choice dialog and press abort, as a user would.
//
//   winauto list                                  top-level windows: handle, class, title
//   winauto controls TITLE                        child controls: id, class, text
//   winauto wait-window TITLE SECONDS             exit 0 once such a window exists
//   winauto wait-gone TITLE SECONDS               exit 0 once no such window exists
//   winauto click TITLE BUTTON                    press a button given by text or id
//   winauto select TITLE COMBO-ID ITEM            choose a combo box item (text substring)
//   winauto answer-yes|answer-no|answer-ok TITLE  press Yes / No / OK in a message box
//                                                 and wait until it has gone
//   winauto accept-compressor                     full frames and OK in the compressor
//                                                 choice dialog; cancel-compressor cancels
//   winauto choose-compressor ITEM                the compressor whose name contains ITEM
//                                                 and OK in the compressor choice dialog
//   winauto compressor-owner                      the compressor choice dialog's owner:
//                                                 its title, then 1 or 0 for "the dialog's
//                                                 centre lies on the owner" and "the owner
//                                                 is enabled", tab-separated
//   winauto state TITLE                           the window's enabled, foreground and
//                                                 active state (1 or 0) and the id of the
//                                                 control that has its thread's focus
//                                                 (0: none), tab-separated
//   winauto key TITLE ESC|ENTER                   a key press on the window's focus
//   winauto close TITLE                           ask the window to close (WM_CLOSE)
//   winauto rect TITLE ID                         a control's screen rectangle: left top
//                                                 right bottom (ID 0: the window's)
//   winauto shaft TITLE ID                        a horizontal scroll bar's shaft on the
//                                                 screen, between its arrows: left right
//                                                 middle-y
//   winauto text TITLE ID                         print a control's text (ID 0: the title)
//   winauto type TITLE ID TEXT                    replace an edit box's text as typing does
//   winauto message TITLE                         print the text of the message box titled TITLE
//
// TITLE matches any visible top-level window whose title contains it. Commands that need a
// window wait for it up to WINAUTO_TIMEOUT seconds (default 30). Arguments are taken from
// the Unicode command line, so UTF-8 titles given by the shell match Japanese captions;
// output is UTF-8. Exit status 0 on success, 1 when the window or control was not found,
// 2 for a usage error.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

void Print(const std::wstring& line) {
  const std::string bytes = ToUtf8(line) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[1024] = {};
  // WM_GETTEXT rather than GetWindowTextW: it reaches controls of other processes too.
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256] = {};
  GetClassNameW(window, buffer, 256);
  return buffer;
}

// Button captions carry accelerators ("&Yes", "はい(&Y)"); compare without them.
std::wstring WithoutAccelerator(const std::wstring& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'(' && i + 3 < text.size() && text[i + 1] == L'&' && text[i + 3] == L')') {
      i += 3;  // a Japanese-style "(&Y)" suffix
      continue;
    }
    if (text[i] == L'&') continue;
    out += text[i];
  }
  return out;
}

int TimeoutSeconds() {
  const char* value = std::getenv("WINAUTO_TIMEOUT");
  const int seconds = value != nullptr ? std::atoi(value) : 0;
  return seconds > 0 ? seconds : 30;
}

using Filter = bool (*)(HWND window);

struct Search {
  std::wstring title;
  DWORD ownProcess;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  if (!IsWindowVisible(window)) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == search->ownProcess) return TRUE;
  if (WindowText(window).find(search->title) != std::wstring::npos) search->found.push_back(window);
  return TRUE;
}

// The visible top-level window of another process whose title contains `title` and that
// passes `filter`; a window whose title is exactly `title` wins over one that only
// contains it ("Zelvo" is both a message box caption and part of the main dialog's).
HWND FindTopLevel(const std::wstring& title, Filter filter = nullptr) {
  Search search{title, GetCurrentProcessId(), {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  HWND partial = nullptr;
  for (HWND window : search.found) {
    if (filter != nullptr && !filter(window)) continue;
    if (WindowText(window) == title) return window;
    if (partial == nullptr) partial = window;
  }
  return partial;
}

HWND WaitTopLevel(const std::wstring& title, int seconds, Filter filter = nullptr) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  for (;;) {
    HWND window = FindTopLevel(title, filter);
    if (window != nullptr || GetTickCount64() >= end) return window;
    Sleep(100);
  }
}

// After a button that ends a dialog: wait until the window is gone, so that the next
// command finds the next dialog rather than this one again.
bool WaitGone(HWND window, int seconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
  return true;
}

bool HasYes(HWND window) { return GetDlgItem(window, IDYES) != nullptr; }
bool HasNo(HWND window) { return GetDlgItem(window, IDNO) != nullptr; }
bool HasOk(HWND window) { return GetDlgItem(window, IDOK) != nullptr; }

// The compressor choice dialog of Video for Windows: its compressor list is combo box 880
// (under Wine; the dialog's title is localised, so it is found by its controls).
const int kCompressorList = 880;
bool IsCompressorDialog(HWND window) {
  HWND list = GetDlgItem(window, kCompressorList);
  if (list == nullptr) return false;
  wchar_t name[32] = {};
  GetClassNameW(list, name, 32);
  return std::wstring(name) == L"ComboBox" && GetDlgItem(window, IDOK) != nullptr;
}

struct ChildSearch {
  std::vector<HWND> children;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  reinterpret_cast<ChildSearch*>(param)->children.push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  ChildSearch search;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
  return search.children;
}

bool IsNumber(const std::wstring& text) {
  if (text.empty()) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

// A child by numeric id, or a button by its caption (exact without accelerators, else a
// caption containing it).
HWND FindControl(HWND parent, const std::wstring& which) {
  const std::vector<HWND> children = Children(parent);
  if (IsNumber(which)) {
    const int id = std::wcstol(which.c_str(), nullptr, 10);
    for (HWND child : children) {
      if (GetDlgCtrlID(child) == id) return child;
    }
    return nullptr;
  }
  const std::wstring wanted = WithoutAccelerator(which);
  HWND partial = nullptr;
  for (HWND child : children) {
    const std::wstring text = WithoutAccelerator(WindowText(child));
    if (text == wanted) return child;
    if (partial == nullptr && text.find(wanted) != std::wstring::npos) partial = child;
  }
  return partial;
}

// The index of the first combo box item whose text contains `wanted`, or -1.
LRESULT FindComboItem(HWND combo, const std::wstring& wanted) {
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) continue;
    std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item[0]));
    item.resize(static_cast<std::size_t>(length));
    if (item.find(wanted) != std::wstring::npos) return i;
  }
  return -1;
}

void PostCommand(HWND dialog, int id, int code, HWND control) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

int Fail(const std::wstring& what) {
  Print(L"winauto: " + what);
  return 1;
}

int Usage() {
  Print(L"usage: winauto list | controls TITLE | wait-window TITLE SECONDS | wait-gone TITLE SECONDS |"
        L" click TITLE BUTTON | select TITLE COMBO-ID ITEM | answer-yes|answer-no|answer-ok TITLE |"
        L" accept-compressor | cancel-compressor | choose-compressor ITEM | compressor-owner | state TITLE |"
        L" key TITLE ESC|ENTER | close TITLE | rect TITLE ID | shaft TITLE ID | text TITLE ID |"
        L" type TITLE ID TEXT | message TITLE");
  return 2;
}

BOOL CALLBACK ListTopLevel(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t handle[32];
  std::swprintf(handle, 32, L"%p", static_cast<void*>(window));
  Print(std::wstring(handle) + L"\t" + ClassOf(window) + L"\t" + WindowText(window));
  return TRUE;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.empty()) return Usage();
  const std::wstring& command = args[0];
  if (command == L"list") {
    EnumWindows(ListTopLevel, 0);
    return 0;
  }
  if (command == L"accept-compressor" || command == L"cancel-compressor" || command == L"choose-compressor") {
    if (command == L"choose-compressor" && args.size() < 2) return Usage();
    HWND dialog = WaitTopLevel(L"", TimeoutSeconds(), IsCompressorDialog);
    if (dialog == nullptr) return Fail(L"no compressor choice dialog");
    if (command == L"cancel-compressor") {
      PostCommand(dialog, IDCANCEL, BN_CLICKED, GetDlgItem(dialog, IDCANCEL));
    } else {
      // Full frames are the list's first entry; the choice is made as the user would.
      HWND list = GetDlgItem(dialog, kCompressorList);
      const LRESULT item = command == L"accept-compressor" ? 0 : FindComboItem(list, args[1]);
      if (item < 0) return Fail(L"the compressor dialog offers no \"" + args[1] + L"\"");
      SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
      PostCommand(dialog, kCompressorList, CBN_SELCHANGE, list);
      PostCommand(dialog, IDOK, BN_CLICKED, GetDlgItem(dialog, IDOK));
    }
    return WaitGone(dialog, TimeoutSeconds()) ? 0 : Fail(L"the compressor dialog stayed open");
  }
  if (command == L"compressor-owner") {
    HWND dialog = WaitTopLevel(L"", TimeoutSeconds(), IsCompressorDialog);
    if (dialog == nullptr) return Fail(L"no compressor choice dialog");
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT own = {}, area = {};
    GetWindowRect(dialog, &own);
    const bool over = owner != nullptr && GetWindowRect(owner, &area) &&
                      PtInRect(&area, POINT{(own.left + own.right) / 2, (own.top + own.bottom) / 2});
    Print((owner != nullptr ? WindowText(owner) : std::wstring()) + L"\t" + (over ? L"1" : L"0") + L"\t" +
          (owner != nullptr && IsWindowEnabled(owner) ? L"1" : L"0"));
    return 0;
  }
  if (args.size() < 2) return Usage();
  const std::wstring& title = args[1];

  if (command == L"answer-yes" || command == L"answer-no" || command == L"answer-ok") {
    const int id = command == L"answer-yes" ? IDYES : command == L"answer-no" ? IDNO : IDOK;
    const Filter filter = id == IDYES ? HasYes : id == IDNO ? HasNo : HasOk;
    HWND box = WaitTopLevel(title, TimeoutSeconds(), filter);
    if (box == nullptr) return Fail(L"no message box \"" + title + L"\" with that button");
    PostCommand(box, id, BN_CLICKED, GetDlgItem(box, id));
    return WaitGone(box, TimeoutSeconds()) ? 0 : Fail(L"the message box stayed open");
  }

  if (command == L"wait-window" || command == L"wait-gone") {
    const int seconds = args.size() > 2 ? std::wcstol(args[2].c_str(), nullptr, 10) : TimeoutSeconds();
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    for (;;) {
      const bool present = FindTopLevel(title) != nullptr;
      if (present == (command == L"wait-window")) return 0;
      if (GetTickCount64() >= end) return Fail(L"timed out waiting for \"" + title + L"\"");
      Sleep(100);
    }
  }

  HWND window = WaitTopLevel(title, TimeoutSeconds());
  if (window == nullptr) return Fail(L"no window \"" + title + L"\"");

  if (command == L"controls") {
    for (HWND child : Children(window)) {
      wchar_t id[16];
      std::swprintf(id, 16, L"%d", GetDlgCtrlID(child));
      Print(std::wstring(id) + L"\t" + ClassOf(child) + L"\t" + WindowText(child));
    }
    return 0;
  }
  if (command == L"state") {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    const int focus = info.hwndFocus != nullptr && IsChild(window, info.hwndFocus) ? GetDlgCtrlID(info.hwndFocus) : 0;
    Print(std::wstring(IsWindowEnabled(window) ? L"1" : L"0") + L"\t" +
          (GetForegroundWindow() == window ? L"1" : L"0") + L"\t" + (info.hwndActive == window ? L"1" : L"0") +
          L"\t" + std::to_wstring(focus));
    return 0;
  }
  if (command == L"close") {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == L"key") {
    if (args.size() < 3) return Usage();
    const UINT key = args[2] == L"ESC" ? VK_ESCAPE : args[2] == L"ENTER" ? VK_RETURN : 0;
    if (key == 0) return Usage();
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus != nullptr) {
      target = info.hwndFocus;
    }
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001u);
    return 0;
  }
  if (command == L"message") {
    // The text of a message box whose title is exactly TITLE (another window may merely
    // contain it), waiting for the box to appear.
    std::wstring exact = title;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(TimeoutSeconds()) * 1000;
    for (;;) {
      HWND box = FindTopLevel(exact, [](HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; });
      if (box != nullptr && WindowText(box) == exact) {
        Print(WindowText(GetDlgItem(box, 0xFFFF)));
        return 0;
      }
      if (GetTickCount64() >= end) return Fail(L"no message box \"" + exact + L"\"");
      Sleep(100);
    }
  }
  if (command == L"type") {
    // Text typed by a user: the box changes, its modified flag is set, and the dialog hears
    // the edit's change notification.
    if (args.size() < 4) return Usage();
    HWND control = FindControl(window, args[2]);
    if (control == nullptr) return Fail(L"\"" + title + L"\" has no control \"" + args[2] + L"\"");
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[3].c_str()));
    SendMessageW(control, EM_SETMODIFY, TRUE, 0);
    SendMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), EN_CHANGE),
                 reinterpret_cast<LPARAM>(control));
    return 0;
  }
  if (command == L"rect" || command == L"shaft") {
    if (args.size() < 3) return Usage();
    HWND control = args[2] == L"0" ? window : FindControl(window, args[2]);
    if (control == nullptr) return Fail(L"\"" + title + L"\" has no control \"" + args[2] + L"\"");
    RECT r = {};
    GetWindowRect(control, &r);
    if (command == L"rect") {
      Print(std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" " +
            std::to_wstring(r.bottom));
      return 0;
    }
    // The arrows are square buttons of the system's scroll bar width, halved on a bar too
    // narrow for two.
    int arrow = GetSystemMetrics(SM_CXVSCROLL);
    if (2 * arrow > r.right - r.left) arrow = (r.right - r.left) / 2;
    Print(std::to_wstring(r.left + arrow) + L" " + std::to_wstring(r.right - arrow) + L" " +
          std::to_wstring((r.top + r.bottom) / 2));
    return 0;
  }
  if (command == L"click" || command == L"text" || command == L"select") {
    if (args.size() < 3) return Usage();
    if (command == L"text" && args[2] == L"0") {
      Print(WindowText(window));
      return 0;
    }
    HWND control = FindControl(window, args[2]);
    if (control == nullptr) return Fail(L"\"" + title + L"\" has no control \"" + args[2] + L"\"");
    if (command == L"text") {
      Print(WindowText(control));
      return 0;
    }
    if (command == L"click") {
      PostCommand(GetParent(control), GetDlgCtrlID(control), BN_CLICKED, control);
      return 0;
    }
    if (args.size() < 4) return Usage();
    const LRESULT item = FindComboItem(control, args[3]);
    if (item < 0) return Fail(L"no item \"" + args[3] + L"\"");
    SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    PostCommand(GetParent(control), GetDlgCtrlID(control), CBN_SELCHANGE, control);
    return 0;
  }
  return Usage();
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return 2;
  std::vector<std::wstring> args;
  for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
  LocalFree(argv);
  return Run(args);
}
