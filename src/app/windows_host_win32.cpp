#include "app/windows_host_win32.h"

#include <windows.h>

#include "app/app_state_win32.h"
#include "convert/avi_saver_win32.h"
#include "convert/progress_dialog_win32.h"
#include "resource_ids.h"

namespace zelvo {

namespace {
HWND Owner() { return App().mainWindow; }
}  // namespace

bool WindowsHost::AskYesNo(const char* caption, const std::string& text) {
  return MessageBoxA(Owner(), text.c_str(), caption, MB_YESNO) == IDYES;
}

void WindowsHost::ShowMessage(const char* caption, const std::string& text) {
  MessageBoxA(Owner(), text.c_str(), caption, MB_OK);
}

void WindowsHost::Beep() { MessageBeep(MB_ICONASTERISK); }

int WindowsHost::RunProgress(int total, const std::function<int()>& routine) {
  return RunProgressDialog(Owner(), App().instance, IDD_PROGRESS, routine,
                           IDC_PROGRESS_BAR, IDC_PROGRESS_TEXT, total);
}

void WindowsHost::PostStatusText(const char* text) { zelvo::PostStatusText(IDC_PROGRESS_STATUS, text); }

void WindowsHost::PostProgressStep() { zelvo::PostProgressStep(IDC_PROGRESS_BAR, IDC_PROGRESS_TEXT); }

bool WindowsHost::IsAbortRequested() { return IsProgressAbortRequested(); }

std::unique_ptr<FrameWriter> WindowsHost::CreateWriter() { return std::make_unique<AviSaver>(); }

}  // namespace zelvo
