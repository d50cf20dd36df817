#pragma once
// A scratch folder for tests that need real files: a unique folder under the system's
// temporary folder, filled with empty files and sub-folders by name, and removed with
// everything in it when the fixture goes out of scope. The Windows build uses the
// A-functions throughout, so names in the ANSI code page (Shift-JIS) reach the disk as
// the program itself would pass them.
#include <cstddef>
#include <string>

namespace zelvo {
namespace test {

// The separator the platform's paths use: '\\' on Windows, '/' on Linux.
char PathSeparator();

// `folder` and `name` joined by one separator (none added when folder already ends in one
// or is empty).
std::string JoinPath(const std::string& folder, const std::string& name);

// Replaces every '/' of a path written in tests with the platform's separator.
std::string NativePath(std::string path);

// Creates folders below `base` (names of at most 200 bytes, which every file system
// takes) until the innermost one's path with its trailing separator is `length` bytes
// long. Returns that path with the separator, or "" when a folder could not be made or
// `base` leaves no room for one.
std::string MakeFoldersToLength(const std::string& base, std::size_t length);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // False when the folder could not be created.
  bool ok() const { return !path_.empty(); }
  // The folder's path, without a trailing separator.
  const std::string& path() const { return path_; }
  // A path inside the folder; `relative` may use '/' for sub-folders.
  std::string Join(const std::string& relative) const;

  // Create an empty file / a folder at `relative` (parents must exist).
  bool AddFile(const std::string& relative, const std::string& content = std::string()) const;
  bool AddFolder(const std::string& relative) const;

 private:
  std::string path_;
};

}  // namespace test
}  // namespace zelvo
