#pragma once
// Owners of the POSIX handles the program holds: a file descriptor and a folder stream.
// Each releases its handle once, when it is destroyed, reset or assigned over, and moves
// but never copies, like the Win32 owners in handles_win32.h.
#include <dirent.h>

#include <memory>

namespace zelvo {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release();
  // Closes the descriptor held, if any, and takes `fd` instead.
  void reset(int fd = -1);
  // Closes the descriptor and returns close's own verdict: 0, or the errno value of a
  // write the system could only refuse now (NFS, a full disk under delayed allocation).
  int Close();

 private:
  int fd_ = -1;
};

struct DirectoryStreamClose {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
// A folder listing opened by opendir or fdopendir, closed by closedir.
using DirectoryStream = std::unique_ptr<DIR, DirectoryStreamClose>;

}  // namespace zelvo
