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
  bool is_open() const { return handle_ != kClosed; }
  // Reads up to n bytes; returns the count read (short at the end of the file) or -1.
  std::int64_t Read(void* buffer, std::size_t n);
  bool Seek(std::uint64_t offset);
  // Total size in bytes, or -1.
  std::int64_t Size();

 private:
  // A file descriptor on Linux, a HANDLE on Windows; -1 is "none" for both
  // (INVALID_HANDLE_VALUE is -1 as well).
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
};

// Removes a file; false when it could not be removed (absence counts as removed).
bool RemoveFile(const char* path);
// Moves `from` onto `to`, replacing `to` if it exists, in one step where the system allows.
// (Not named ReplaceFile: the Windows headers define that name as a macro.)
bool MoveOnto(const char* from, const char* to);
// True when a file or folder of that name exists.
bool PathExists(const char* path);

// What stands at a path that is to be replaced by a new file.
enum class OutputKind {
  kAbsent,  // nothing: the new file is created there
  kFile,    // a regular file, or a symbolic link that ends at one
  kOther,   // a folder, device, pipe or socket (or a link to one): never replaced by a file
};
OutputKind ProbeOutput(const char* path);

// Where a new file for `path` belongs: the file a symbolic link (or a chain of them) ends
// at, so the link stays and its target gets the new content; `path` itself otherwise.
// False when that name does not fit kPathSize.
bool ResolveOutputTarget(const char* path, char* target);

// Creates a new, empty file in the folder of `path`, exclusively (never an existing name,
// also against other processes doing the same), under a name that carries the process id
// and keeps `path`'s extension where the length limit leaves room for them, and shorter
// forms otherwise: any name the limit admits gets a temporary name beside it. Returns the
// name, or an empty string when none could be created (*error is the system's reason as
// an errno value: EEXIST when every tried name was taken).
std::string CreateTemporaryBeside(const char* path, int* error);

// 0 when `path` opens as a file for reading, else the system's reason as an errno value
// (ENOENT, EACCES, EISDIR for a folder...).
int OpenFailure(const char* path);

// Creates `path` as a new empty file, failing when anything of that name exists (O_EXCL,
// CREATE_NEW). Returns 0, or the system's reason as an errno value (EEXIST when taken).
int CreateNewFile(const char* path);

// The id of this process, as the system numbers processes.
unsigned long CurrentProcessId();

// Gives `to` the permission bits of `from`, and its owner and group where the process
// may set them. False when `from` cannot be read or the bits cannot be set.
bool CopyFileMode(const char* from, const char* to);

// A key that is equal for two paths naming the same file (links and other spellings
// included) and empty when nothing of that name exists: device and inode on Linux, the
// volume and file index on Windows.
std::string FileIdentity(const char* path);

}  // namespace zelvo
