#pragma once
// The conversion job's host in zelvo.exe: message boxes owned by the main dialog (none
// during a batch), the progress dialog with its worker thread, and the Video for Windows
// writer.
#include <windows.h>

#include <atomic>

#include "convert/avi_saver_win32.h"
#include "convert/conversion_job.h"
#include "convert/progress_dialog_win32.h"

namespace zelvo {

class WindowsHost : public JobHost {
 public:
  // `owner` owns the boxes, the compressor dialog and the progress dialog (null: none),
  // and stays disabled through them if it was; the dialogs come from the resources of
  // `instance`; `chooser` asks for the codec.
  WindowsHost(HWND owner, HINSTANCE instance, CompressorChooser chooser = ChooseCompressorDialog)
      : owner_(owner), instance_(instance), chooser_(chooser) {}

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
  const CompressorChooser chooser_;
  // The dialog of the RunProgress under way, for the routine's posts on the worker thread.
  std::atomic<ProgressState*> progress_{nullptr};
};

}  // namespace zelvo
