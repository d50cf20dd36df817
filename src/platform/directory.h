#pragma once
// One folder's entries, for the run search of a numbered sequence. The system lists the
// names; which of them belong to a sequence is the caller's rule.
#include <memory>
#include <string>

namespace zelvo {

class FolderListing {
 public:
  // Lists `folder` ("" is the current folder). Where the system searches by pattern
  // (Windows: '?' stands for one character, and the search also matches letter case
  // loosely and short 8.3 aliases) only names matching `pattern` (a path) are listed;
  // elsewhere every entry is, so the caller applies its own rule to each name anyway.
  FolderListing(const std::string& folder, const std::string& pattern);
  ~FolderListing();
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  bool is_open() const;
  // The next entry's name (no folder), or nullptr at the end of the listing. Valid until
  // the next call.
  const char* Next();
  // True when the entry Next returned last is a regular file or a link to one: folders,
  // devices and pipes named like a frame are no frames.
  bool IsFile();

  // True where the system's names compare without regard to ASCII letter case.
  static bool NamesIgnoreCase();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zelvo
