#include "support/temp_dir.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#endif

namespace zelvo {
namespace test {

char PathSeparator() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == PathSeparator()) return folder + name;
  return folder + PathSeparator() + name;
}

std::string NativePath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = PathSeparator();
  }
  return path;
}

std::string TempDir::Join(const std::string& relative) const { return JoinPath(path_, NativePath(relative)); }

namespace {
bool MakeFolder(const std::string& path);
}  // namespace

std::string MakeFoldersToLength(const std::string& base, std::size_t length) {
  std::string folder = base;
  if (folder.size() + 3 > length) return std::string();
  while (folder.size() + 2 < length) {
    // A folder adds its separator and name; the last one leaves room for the trailing
    // separator, and none leaves less than a one-byte name for the next.
    const std::size_t rest = length - folder.size() - 2;
    const std::size_t name = rest <= 200 ? rest : rest - 200 >= 2 ? 200 : 100;
    folder = JoinPath(folder, std::string(name, 'd'));
    if (!MakeFolder(folder)) return std::string();
  }
  return folder + PathSeparator();
}

#ifdef _WIN32

namespace {

// Removes a folder and everything below it with the A-functions.
void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA data;
  std::string pattern = folder + "\\*";
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = folder + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &data));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

bool MakeFolder(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

TempDir::TempDir() {
  char base[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) return;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "zelvo-%lu-%u", static_cast<unsigned long>(GetCurrentProcessId()),
                  counter++);
    std::string candidate = JoinPath(base, name);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

bool TempDir::AddFile(const std::string& relative, const std::string& content) const {
  HANDLE file = CreateFileA(Join(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = content.empty() ||
            (WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
             written == content.size());
  CloseHandle(file);
  return ok;
}

bool TempDir::AddFolder(const std::string& relative) const {
  return CreateDirectoryA(Join(relative).c_str(), nullptr) != 0;
}

#else

namespace {
bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }
}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = JoinPath(base != nullptr && base[0] != '\0' ? base : "/tmp", "zelvo-XXXXXX");
  if (::mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  // Give back search rights that a test may have taken away, so everything can go.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow,
                                 ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

bool TempDir::AddFile(const std::string& relative, const std::string& content) const {
  int fd = ::open(Join(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = content.empty() || ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ::close(fd);
  return ok;
}

bool TempDir::AddFolder(const std::string& relative) const { return ::mkdir(Join(relative).c_str(), 0755) == 0; }

#endif

}  // namespace test
}  // namespace zelvo
