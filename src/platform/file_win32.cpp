#include "platform/file.h"

#include <windows.h>

namespace zelvo {

bool ReadOnlyFile::Open(const char* path) {
  Close();
  handle_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle_ != INVALID_HANDLE_VALUE;
}

void ReadOnlyFile::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool ReadOnlyFile::is_open() const { return handle_ != INVALID_HANDLE_VALUE; }

std::int64_t ReadOnlyFile::Read(void* buffer, std::size_t n) {
  if (handle_ == INVALID_HANDLE_VALUE) return -1;
  std::size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < n) {
    DWORD chunk = static_cast<DWORD>(n - done > 0x40000000u ? 0x40000000u : n - done);
    DWORD got = 0;
    if (!ReadFile(handle_, out + done, chunk, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return static_cast<std::int64_t>(done);
}

bool ReadOnlyFile::Seek(std::uint64_t offset) {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) != 0;
}

std::int64_t ReadOnlyFile::Size() {
  LARGE_INTEGER size;
  if (handle_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle_, &size)) return -1;
  return size.QuadPart;
}

bool RemoveFile(const char* path) {
  return DeleteFileA(path) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool MoveOnto(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace zelvo
