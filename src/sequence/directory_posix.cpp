// The run search on Linux: the folder is listed with readdir and every entry is held
// against the membership rule by name. Prefix and extension are compared with regard to
// letter case, because the frames are later opened under names built from the given path
// on a file system that tells img0002.bmp and IMG0002.BMP apart.
#include <dirent.h>

#include "sequence/sequence.h"

namespace zelvo {

namespace {

// Owns one open directory stream.
class DirectoryStream {
 public:
  explicit DirectoryStream(const char* path) : dir_(::opendir(path)) {}
  ~DirectoryStream() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;

  bool is_open() const { return dir_ != nullptr; }
  // The next entry's name, or nullptr at the end of the listing.
  const char* Next() {
    struct dirent* entry = ::readdir(dir_);
    return entry != nullptr ? entry->d_name : nullptr;
  }

 private:
  DIR* dir_;
};

}  // namespace

void FindSequenceRange(const char* path, int* first, int* last) {
  *first = -1;
  *last = -1;
  SequenceSpec split = ParseSequencePath(path);
  if (split.width == 0) return;
  DirectoryStream listing(split.directory.empty() ? "." : split.directory.c_str());
  if (!listing.is_open()) return;
  NumberSet present;
  // Folders count too: a sub-folder named like a member stands for that frame.
  while (const char* name = listing.Next()) {
    int number = 0;
    if (MatchSequenceMember(name, split, /*ignoreCase=*/false, &number)) present.Add(number);
  }
  present.RunAround(split.number, first, last);
}

}  // namespace zelvo
