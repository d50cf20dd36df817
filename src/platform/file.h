#pragma once
// Small file operations the portable core needs from the system. Paths are byte strings
// in the active code page; the Windows build uses the A-functions with them.
#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo {

// A file opened read-only with read sharing allowed; closed by the destructor.
class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  explicit ReadOnlyFile(const char* path) { Open(path); }
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  bool Open(const char* path);
  void Close();
  bool is_open() const;
  // Reads up to n bytes; returns the count read (short at the end of the file) or -1.
  std::int64_t Read(void* buffer, std::size_t n);
  bool Seek(std::uint64_t offset);
  // Total size in bytes, or -1.
  std::int64_t Size();

 private:
#ifdef _WIN32
  void* handle_ = reinterpret_cast<void*>(-1);
#else
  int fd_ = -1;
#endif
};

// Removes a file; false when it could not be removed (absence counts as removed).
bool RemoveFile(const char* path);
// Moves `from` onto `to`, replacing `to` if it exists, in one step where the system allows.
// (Not named ReplaceFile: windows.h makes that a macro.)
bool MoveOnto(const char* from, const char* to);
// True when a file or folder of that name exists.
bool PathExists(const char* path);
// A name beside `path` in the same folder that does not exist yet, with the same
// extension (".avi" keeps choosing the AVI handler): "<dir>~zelvo<hex>.tmp.avi", or a
// shorter "~<hex>" form near the length limit. Empty when no such name fits in 260 bytes.
std::string TemporaryNameBeside(const char* path);

}  // namespace zelvo
