#include "platform/file.h"

#include <windows.h>

#include "platform/handles_win32.h"
#include "platform/path_buffer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelvo {

namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Opens a name only to look at it: no access rights, every kind of sharing, and folders
// too (FILE_FLAG_BACKUP_SEMANTICS).
FileHandle OpenForQuery(const char* path) {
  return FileHandle(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The errno value closest to the thread's last Windows error.
int LastErrorAsErrno() {
  switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

}  // namespace

FileResult ReadOnlyFile::Open(const char* path) {
  Close();
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileResult::System(LastErrorAsErrno());
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return FileResult();
}

void ReadOnlyFile::Close() {
  if (handle_ != kClosed) CloseHandle(Handle(handle_));
  handle_ = kClosed;
}

std::int64_t ReadOnlyFile::Read(void* buffer, std::size_t n) {
  if (handle_ == kClosed) return -1;
  std::size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < n) {
    DWORD chunk = static_cast<DWORD>(n - done > 0x40000000u ? 0x40000000u : n - done);
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), out + done, chunk, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return static_cast<std::int64_t>(done);
}

bool ReadOnlyFile::Seek(std::uint64_t offset) {
  if (handle_ == kClosed) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(Handle(handle_), to, nullptr, FILE_BEGIN) != 0;
}

std::int64_t ReadOnlyFile::Size() {
  LARGE_INTEGER size;
  if (handle_ == kClosed || !GetFileSizeEx(Handle(handle_), &size)) return -1;
  return size.QuadPart;
}

std::string ReadOnlyFile::Version() {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (handle_ == kClosed || !GetFileInformationByHandle(Handle(handle_), &info)) return std::string();
  char key[128];
  std::snprintf(key, sizeof key, "%lx:%lx:%lx:%lx:%lx:%lx:%lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow),
                static_cast<unsigned long>(info.nFileSizeHigh), static_cast<unsigned long>(info.nFileSizeLow),
                static_cast<unsigned long>(info.ftLastWriteTime.dwHighDateTime),
                static_cast<unsigned long>(info.ftLastWriteTime.dwLowDateTime));
  return key;
}

FileResult RemoveFile(const char* path) {
  return DeleteFileA(path) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND ? FileResult()
                                                                          : FileResult::System(LastErrorAsErrno());
}

FileResult MoveOnto(const char* from, const char* to) {
  // Write-through: the call returns only once the move is on the disk, so that a power
  // cut right after it cannot leave the older file replaced by nothing.
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0
             ? FileResult()
             : FileResult::System(LastErrorAsErrno());
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

OutputKind ProbeOutput(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return OutputKind::kOther;
  }
  // Device names (NUL, CON, COM1) open without being files on disk.
  const FileHandle file = OpenForQuery(path);
  if (!file) return attributes == INVALID_FILE_ATTRIBUTES ? OutputKind::kAbsent : OutputKind::kFile;
  return GetFileType(file.get()) == FILE_TYPE_DISK ? OutputKind::kFile : OutputKind::kOther;
}

FileResult CreateNewFile(const char* path) {
  const FileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? FileResult() : FileResult::System(LastErrorAsErrno());
}

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

FileResult CopyFileMode(const char* from, const char* to) {
  // Permissions come from the folder's inherited access rules on Windows, as for any
  // newly saved file; the attributes the user set (hidden, archive) carry over. The
  // read-only one does not: it would keep the new file from replacing the old.
  const DWORD attributes = GetFileAttributesA(from);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileResult::System(LastErrorAsErrno());
  const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  return SetFileAttributesA(to, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL) != 0 ? FileResult()
                                                                               : FileResult::System(LastErrorAsErrno());
}

std::string FileIdentity(const char* path) {
  const FileHandle file = OpenForQuery(path);
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::string();
  char key[64];
  std::snprintf(key, sizeof key, "%lx:%lx:%lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
  return key;
}

}  // namespace zelvo
