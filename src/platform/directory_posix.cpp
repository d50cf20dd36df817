// Folder listings on Linux: readdir over the whole folder (there is no pattern search),
// names compared with regard to case, since img0002.bmp and IMG0002.BMP are two files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/directory.h"
#include "platform/handles_posix.h"

namespace zelvo {

struct FolderListing::State {
  DirectoryStream dir;
  struct dirent* entry = nullptr;
};

FolderListing::FolderListing(const std::string& folder, const std::string& /*pattern*/)
    : state_(std::make_unique<State>()) {
  state_->dir.reset(::opendir(folder.empty() ? "." : folder.c_str()));
}

FolderListing::~FolderListing() = default;

bool FolderListing::is_open() const { return state_->dir != nullptr; }

const char* FolderListing::Next() {
  if (state_->dir == nullptr) return nullptr;
  state_->entry = ::readdir(state_->dir.get());
  return state_->entry != nullptr ? state_->entry->d_name : nullptr;
}

bool FolderListing::IsFile() {
  const struct dirent* entry = state_->entry;
  if (entry == nullptr) return false;
  if (entry->d_type == DT_REG) return true;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
  // A link counts by what it points to; some file systems report no type at all.
  struct stat st;
  return ::fstatat(::dirfd(state_->dir.get()), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

bool FolderListing::NamesIgnoreCase() { return false; }

}  // namespace zelvo
