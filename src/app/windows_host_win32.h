#pragma once
// The conversion job's host in zelvo.exe: message boxes owned by the main dialog (none
// during a batch), the progress dialog with its worker thread, and the Video for Windows
// writer.
#include <windows.h>

#include <atomic>

#include "convert/conversion_job.h"
#include "convert/progress_dialog_win32.h"

namespace zelvo {

class WindowsHost : public JobHost {
 public:
  // `owner` owns the boxes and the progress dialog (null: none); the dialogs come from
  // the resources of `instance`.
  WindowsHost(HWND owner, HINSTANCE instance) : owner_(owner), instance_(instance) {}

  bool AskYesNo(const char* caption, const std::string& text) override;
  void ShowMessage(const char* caption, const std::string& text) override;
  void Beep() override;
  int RunProgress(int total, const std::function<int()>& routine) override;
  void PostStatusText(const char* text) override;
  void PostProgressStep() override;
  bool IsAbortRequested() override;
  std::unique_ptr<FrameWriter> CreateWriter() override;

 private:
  const HWND owner_;
  const HINSTANCE instance_;
  // The dialog of the RunProgress under way, for the routine's posts on the worker thread.
  std::atomic<ProgressDialog*> progress_{nullptr};
};

}  // namespace zelvo
