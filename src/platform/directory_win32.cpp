// Folder listings on Windows: FindFirstFileA/FindNextFileA over a pattern. The system
// matches without regard to case and also through short 8.3 aliases, so the caller holds
// each name it returns against its own rule once more.
#include <windows.h>

#include "platform/directory.h"
#include "platform/handles_win32.h"

namespace zelvo {

struct FolderListing::State {
  FindHandle search;
  WIN32_FIND_DATAA data = {};
  bool pending = false;  // FindFirstFileA already holds the first entry
  bool current = false;  // data describes the entry Next returned last
};

FolderListing::FolderListing(const std::string& /*folder*/, const std::string& pattern)
    : state_(std::make_unique<State>()) {
  state_->search.reset(FindFirstFileA(pattern.c_str(), &state_->data));
  state_->pending = static_cast<bool>(state_->search);
}

FolderListing::~FolderListing() = default;

bool FolderListing::is_open() const { return static_cast<bool>(state_->search); }

const char* FolderListing::Next() {
  state_->current = false;
  if (!state_->search) return nullptr;
  if (state_->pending) {
    state_->pending = false;
  } else if (!FindNextFileA(state_->search.get(), &state_->data)) {
    return nullptr;
  }
  state_->current = true;
  return state_->data.cFileName;
}

bool FolderListing::IsFile() {
  return state_->current && (state_->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderListing::NamesIgnoreCase() { return true; }

}  // namespace zelvo
