#pragma once
// Small file operations the portable core needs from the system. Paths are byte strings
// in the active code page; the Windows build uses the A-functions with them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zelvo {

// How a file operation ended: every file function of this layer reports failure this one
// way, the kind and, for kSystem, the system's reason as an errno value.
enum class FileFailure {
  kNone,
  kSystem,       // the system refused; `error` says why
  kNotAFile,     // a folder, device, pipe or socket stands where a file was expected
  kLinkRefused,  // a link the system itself would not follow there: another user's link in
                 // a folder everyone may write to that has the sticky bit (like /tmp)
  kSwapped,      // the name of a file being written no longer names that file
};
struct FileResult {
  FileFailure kind = FileFailure::kNone;
  int error = 0;  // an errno value for kSystem, else 0

  explicit operator bool() const { return kind == FileFailure::kNone; }
  static FileResult Failed(FileFailure kind) { return FileResult{kind, 0}; }
  static FileResult System(int error) { return FileResult{FileFailure::kSystem, error}; }
};

// A file opened read-only with read sharing allowed; closed by the destructor.
class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  explicit ReadOnlyFile(const char* path) { Open(path); }
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens `path`. Only a regular file opens: a folder, pipe, device or socket is refused
  // (kNotAFile) without ever waiting for a writer or a device to answer.
  FileResult Open(const char* path);
  void Close();
  bool is_open() const { return handle_ != kClosed; }
  // Reads up to n bytes; returns the count read (short at the end of the file) or -1.
  std::int64_t Read(void* buffer, std::size_t n);
  bool Seek(std::uint64_t offset);
  // Total size in bytes, or -1.
  std::int64_t Size();
  // A key equal for two opens of the same file unchanged (the file's identity, its size and
  // its last modification); empty when the system cannot tell.
  std::string Version();

 private:
  // A file descriptor on Linux, a HANDLE on Windows; -1 is "none" for both
  // (INVALID_HANDLE_VALUE is -1 as well).
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
};

// Removes a file (absence counts as removed).
FileResult RemoveFile(const char* path);
// Moves `from` onto `to`, replacing `to` if it exists, in one step where the system allows.
// (Not named ReplaceFile: the Windows headers define that name as a macro.)
FileResult MoveOnto(const char* from, const char* to);
// True when a file or folder of that name exists.
bool PathExists(const char* path);

// What stands at a path that is to be replaced by a new file.
enum class OutputKind {
  kAbsent,  // nothing: the new file is created there
  kFile,    // a regular file, or a symbolic link that ends at one
  kOther,   // a folder, device, pipe or socket (or a link to one): never replaced by a file
};
OutputKind ProbeOutput(const char* path);

// Tries names for a new temporary file in the folder of `path`, each as `create` makes it
// (exclusively: kSystem with EEXIST when the name is taken), until one is made or a
// failure other than a taken name. The names carry the process id and keep `path`'s
// extension where the length limit leaves room for them, and take shorter forms
// otherwise: any name the limit admits gets a temporary name beside it. Returns the name
// made, or "" with *result saying why none was.
std::string FindTemporaryName(const char* path, const std::function<FileResult(const std::string&)>& create,
                              FileResult* result);
// FindTemporaryName with CreateNewFile: a new, empty file beside `path`, closed again.
std::string CreateTemporaryBeside(const char* path, FileResult* result);

// Creates `path` as a new empty file, failing when anything of that name exists (O_EXCL,
// CREATE_NEW; kSystem with EEXIST when taken).
FileResult CreateNewFile(const char* path);

// The id of this process, as the system numbers processes.
unsigned long CurrentProcessId();

// Windows: gives `to` the attributes of `from` that the user set (hidden, system,
// archive), as the file that replaces it should keep them. Not on Linux, where the output
// file sets mode, owner and group on its open descriptor instead (OutputFile::Commit).
FileResult CopyFileMode(const char* from, const char* to);

// A key that is equal for two paths naming the same file (links and other spellings
// included) and empty when nothing of that name exists: device and inode on Linux, the
// volume and file index on Windows.
std::string FileIdentity(const char* path);

}  // namespace zelvo
