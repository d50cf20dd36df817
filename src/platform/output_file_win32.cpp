// The output file on Windows: a temporary file of its own name beside the output, which
// the Video for Windows writer opens by that name, moved onto the output at the end.
// Shortcuts are files of their own here, so the path given is the file replaced.
#include "platform/output_file.h"

namespace zelvo {

struct OutputFile::State {
  std::string target;
  std::string link;  // stays empty: no link is ever refused
  OutputKind kind = OutputKind::kAbsent;
  std::string identity;
  std::string temporaryPath;
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}

OutputFile::~OutputFile() { Discard(); }

OutputKind OutputFile::kind() const { return state_->kind; }
const std::string& OutputFile::target() const { return state_->target; }
const std::string& OutputFile::link() const { return state_->link; }
const std::string& OutputFile::temporaryPath() const { return state_->temporaryPath; }
int OutputFile::descriptor() const { return -1; }

bool OutputFile::SameFileAs(const char* path) const {
  return !state_->identity.empty() && FileIdentity(path) == state_->identity;
}

FileResult OutputFile::Open(const char* path) {
  Discard();
  *state_ = State();
  state_->target = path;
  state_->kind = ProbeOutput(path);
  if (state_->kind == OutputKind::kFile) state_->identity = FileIdentity(path);
  return FileResult();
}

FileResult OutputFile::CreateTemporary() {
  Discard();
  FileResult result;
  state_->temporaryPath = CreateTemporaryBeside(state_->target.c_str(), &result);
  return result;
}

FileResult OutputFile::Commit() {
  State& s = *state_;
  // The attributes the user gave the older file carry over to the one that replaces it.
  if (ProbeOutput(s.target.c_str()) == OutputKind::kFile) CopyFileMode(s.target.c_str(), s.temporaryPath.c_str());
  const FileResult moved = MoveOnto(s.temporaryPath.c_str(), s.target.c_str());
  if (moved) s.temporaryPath.clear();
  return moved;
}

void OutputFile::Discard() {
  if (!state_->temporaryPath.empty()) RemoveFile(state_->temporaryPath.c_str());
  state_->temporaryPath.clear();
}

void RemovePendingTemporary() {}

}  // namespace zelvo
