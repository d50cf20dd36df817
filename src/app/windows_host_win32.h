#pragma once
// The conversion job's host in zelvo.exe: message boxes owned by the main dialog (none
// during a batch), the progress dialog with its worker thread, and the Video for Windows
// writer.
#include "convert/conversion_job.h"

namespace zelvo {

class WindowsHost : public JobHost {
 public:
  bool AskYesNo(const char* caption, const std::string& text) override;
  void ShowMessage(const char* caption, const std::string& text) override;
  void Beep() override;
  int RunProgress(int total, const std::function<int()>& routine) override;
  void PostStatusText(const char* text) override;
  void PostProgressStep() override;
  bool IsAbortRequested() override;
  std::unique_ptr<FrameWriter> CreateWriter() override;
};

}  // namespace zelvo
