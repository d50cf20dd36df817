// The output file on Windows: a temporary file of its own name beside the output, which
// the Video for Windows writer opens by that name, moved onto the output at the end.
// Shortcuts are files of their own here, so the path given is the file replaced.
#include "platform/output_file.h"

namespace zelvo {

struct OutputFile::State {
  std::string identity;  // of the file at target()
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}

OutputFile::~OutputFile() { Discard(); }

int OutputFile::descriptor() const { return -1; }

bool OutputFile::SameFileAs(const char* path) const {
  return !state_->identity.empty() && FileIdentity(path) == state_->identity;
}

void OutputFile::Reset() {
  Discard();
  *state_ = State();
  kind_ = OutputKind::kAbsent;
  target_.clear();
  link_.clear();  // stays empty: no link is ever refused here
}

FileResult OutputFile::Open(const char* path) {
  Reset();
  target_ = path;
  kind_ = ProbeOutput(path);
  if (kind_ == OutputKind::kFile) state_->identity = FileIdentity(path);
  return FileResult();
}

FileResult OutputFile::CreateTemporary() {
  Discard();
  FileResult result;
  temporaryPath_ = CreateTemporaryBeside(target_.c_str(), &result);
  return result;
}

FileResult OutputFile::Commit() {
  // The attributes the user gave the older file carry over to the one that replaces it.
  if (ProbeOutput(target_.c_str()) == OutputKind::kFile) CopyFileMode(target_.c_str(), temporaryPath_.c_str());
  const FileResult moved = MoveOnto(temporaryPath_.c_str(), target_.c_str());
  if (moved) temporaryPath_.clear();
  return moved;
}

void OutputFile::Discard() {
  if (!temporaryPath_.empty()) RemoveFile(temporaryPath_.c_str());
  temporaryPath_.clear();
}

bool RemovePendingTemporary(int) { return true; }

}  // namespace zelvo
