#include "app/windows_host_win32.h"

#include "platform/window_win32.h"
#include "resource_ids.h"

namespace zelvo {

bool WindowsHost::AskYesNo(const char* caption, const std::string& text) {
  return OwnedMessageBox(owner_, text.c_str(), caption, MB_YESNO) == IDYES;
}

void WindowsHost::ShowMessage(const char* caption, const std::string& text) {
  OwnedMessageBox(owner_, text.c_str(), caption, MB_OK);
}

void WindowsHost::Beep() { MessageBeep(MB_ICONASTERISK); }

int WindowsHost::RunProgress(int total, const std::function<int()>& routine) {
  ProgressLayout layout;
  layout.templateId = IDD_PROGRESS;
  layout.barId = IDC_PROGRESS_BAR;
  layout.textId = IDC_PROGRESS_TEXT;
  layout.statusId = IDC_PROGRESS_STATUS;
  ProgressState dialog(instance_, layout);
  progress_ = &dialog;
  const int result = dialog.RunProgressDialog(owner_, total, routine);
  progress_ = nullptr;
  return result;
}

void WindowsHost::PostStatusText(const char* text) {
  if (ProgressState* dialog = progress_.load()) dialog->PostStatusText(text);
}

void WindowsHost::PostProgressStep() {
  if (ProgressState* dialog = progress_.load()) dialog->PostProgressStep();
}

bool WindowsHost::IsAbortRequested() {
  ProgressState* dialog = progress_.load();
  return dialog != nullptr && dialog->IsAbortRequested();
}

std::unique_ptr<FrameWriter> WindowsHost::CreateWriter() { return std::make_unique<AviSaver>(owner_, chooser_); }

}  // namespace zelvo
