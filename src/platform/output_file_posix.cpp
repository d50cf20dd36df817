// The output file on Linux: one descriptor for the output's folder, found by walking the
// path one name at a time, and one for the temporary file, from its exclusive creation to
// the end. No step after the walk looks a path up again: a name another user swaps for a
// link, and a folder renamed during the job, change nothing of what is written where.
#include "platform/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/handles_posix.h"
#include "platform/path_buffer.h"

namespace zelvo {

namespace {

constexpr int kMostLinks = 40;  // the system's own limit before ELOOP

// The temporary file of the job under way, for RemovePendingTemporary. The name is written
// before the folder is published and read after it, so a handler on any thread that sees
// the folder sees the whole name.
std::atomic<int> g_pendingFolder{-1};
std::atomic<int> g_pendingFile{-1};
char g_pendingName[NAME_MAX + 1];

// While the temporary file is being created and published, a deadly signal cannot remove
// it: the handler leaves the signal here, and the creator raises it again once the file is
// published, so that it is removed before the process ends.
std::atomic<bool> g_creating{false};
std::atomic<int> g_deferredSignal{0};

void PublishPending(int folder, int file, const std::string& name) {
  if (name.size() > NAME_MAX) return;
  g_pendingFolder.store(-1);
  std::memcpy(g_pendingName, name.c_str(), name.size() + 1);
  g_pendingFile.store(file);
  g_pendingFolder.store(folder);
}

void ClearPending(int file) {
  if (g_pendingFile.load() == file) g_pendingFolder.store(-1);
}

// True when `name` in `folder` is the regular file open as `fd`. Only async-signal-safe calls.
bool NamesFile(int folder, const char* name, int fd) {
  struct stat named;
  struct stat open;
  return ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(named.st_mode) &&
         ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

// The system's rule for following links (fs.protected_symlinks), applied here because the
// system may have it switched off: in a folder everyone may write to that has the sticky
// bit, a link is followed only when it belongs to the one who follows it or to the
// folder's owner. Anywhere else only its owner could have made it, or the folder's.
bool MayFollow(int folder, const struct stat& link) {
  struct stat st;
  if (::fstat(folder, &st) != 0) return false;
  constexpr mode_t kShared = S_ISVTX | S_IWOTH;
  if ((st.st_mode & kShared) != kShared) return true;
  return link.st_uid == ::geteuid() || link.st_uid == st.st_uid;
}

// The process's umask, without changing it where the system tells it (Linux 4.7 on).
mode_t CurrentUmask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[128];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

FileDescriptor OpenFolder(int at, const char* name, int flags) {
  FileDescriptor fd;
  do {
    fd.reset(::openat(at, name, flags | O_DIRECTORY | O_CLOEXEC));
  } while (!fd && errno == EINTR);
  return fd;
}

}  // namespace

struct OutputFile::State {
  FileDescriptor folder;  // the folder target() ends in
  std::string name;       // target()'s name in that folder
  struct stat older = {};  // the file at target(), for kFile
  FileDescriptor file;     // the temporary file
  std::string temporaryName;
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}

OutputFile::~OutputFile() { Discard(); }

int OutputFile::descriptor() const { return state_->file.get(); }

bool OutputFile::SameFileAs(const char* path) const {
  struct stat st;
  return kind_ == OutputKind::kFile && ::stat(path, &st) == 0 && st.st_dev == state_->older.st_dev &&
         st.st_ino == state_->older.st_ino;
}

void OutputFile::Reset() {
  Discard();
  *state_ = State();
  kind_ = OutputKind::kAbsent;
  target_.clear();
  link_.clear();
}

FileResult OutputFile::Open(const char* path) {
  Reset();
  State& s = *state_;
  if (path == nullptr || path[0] == '\0') return FileResult::System(ENOENT);
  target_ = path;
  std::string rest = path;
  std::string reached = rest[0] == '/' ? "/" : "";  // the folders walked so far, as the user spells them
  FileDescriptor folder = OpenFolder(AT_FDCWD, rest[0] == '/' ? "/" : ".", O_PATH);
  if (!folder) return FileResult::System(errno);
  bool followed = false;
  int links = 0;
  for (;;) {
    const std::size_t start = rest.find_first_not_of('/');
    if (start == std::string::npos) {  // a path ending in a separator names a folder
      kind_ = OutputKind::kOther;
      return FileResult();
    }
    const std::size_t end = rest.find('/', start);
    const std::string name = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::string after = end == std::string::npos ? std::string() : rest.substr(end);
    const bool last = after.find_first_not_of('/') == std::string::npos;
    struct stat st;
    if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !last) return FileResult::System(errno);
      kind_ = after.empty() ? OutputKind::kAbsent : OutputKind::kOther;
      s.name = name;
      break;
    }
    if (S_ISLNK(st.st_mode)) {
      char text[PATH_MAX];
      const ssize_t n = ::readlinkat(folder.get(), name.c_str(), text, sizeof text - 1);
      if (n < 0) return FileResult::System(errno);
      text[n] = '\0';
      if (!MayFollow(folder.get(), st)) {
        link_ = reached + name;
        target_ = text[0] == '/' ? std::string(text) : reached + text;
        return FileResult::Failed(FileFailure::kLinkRefused);
      }
      if (++links > kMostLinks) return FileResult::System(ELOOP);
      if (n == 0) return FileResult::System(ENOENT);
      rest = text + after;
      if (text[0] == '/') {
        folder = OpenFolder(AT_FDCWD, "/", O_PATH);
        if (!folder) return FileResult::System(errno);
        reached = "/";
      }
      followed = true;
      continue;
    }
    if (last) {
      kind_ = S_ISREG(st.st_mode) && after.empty() ? OutputKind::kFile : OutputKind::kOther;
      s.name = name;
      s.older = st;
      break;
    }
    if (!S_ISDIR(st.st_mode)) return FileResult::System(ENOTDIR);
    FileDescriptor next = OpenFolder(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW);
    if (!next) return FileResult::System(errno);
    folder = std::move(next);
    reached += name + "/";
    rest = after;
  }
  // Readable where the folder allows it, so that it can be flushed after a replacement;
  // a folder one may only write and search keeps the descriptor of the walk.
  FileDescriptor readable = OpenFolder(folder.get(), ".", O_RDONLY);
  s.folder = readable ? std::move(readable) : std::move(folder);
  if (followed) target_ = reached + s.name;
  return FileResult();
}

FileResult OutputFile::CreateTemporary() {
  Discard();
  State& s = *state_;
  if (!s.folder || s.name.empty()) return FileResult::System(EBADF);
  // Never readable by more people than the file it replaces, nor by anyone else while the
  // job runs when it replaces none (its final mode is set by Commit). The group bits are
  // kept only while the new file has the older one's group.
  const bool older = kind_ == OutputKind::kFile;
  const mode_t mode = older ? s.older.st_mode & 0777 : 0600;
  const std::size_t folderLength = SplitPath(target_.c_str()).name;
  FileResult result;
  g_creating.store(true);
  const std::string made = FindTemporaryName(
      target_.c_str(),
      [&](const std::string& candidate) {
        const std::string name = candidate.substr(folderLength);
        FileDescriptor fd(::openat(s.folder.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd) return FileResult::System(errno);
        s.file = std::move(fd);
        s.temporaryName = name;
        return FileResult();
      },
      &result);
  if (!made.empty()) PublishPending(s.folder.get(), s.file.get(), s.temporaryName);
  g_creating.store(false);
  if (const int signal = g_deferredSignal.exchange(0)) ::raise(signal);
  if (made.empty()) return result;
  temporaryPath_ = made;
  struct stat st;
  if (older && (mode & 070) != 0 && ::fstat(s.file.get(), &st) == 0 && st.st_gid != s.older.st_gid) {
    ::fchmod(s.file.get(), mode & ~static_cast<mode_t>(070));
  }
  return FileResult();
}

FileResult OutputFile::Commit() {
  State& s = *state_;
  if (!s.file) return FileResult::System(EBADF);
  const int fd = s.file.get();
  struct stat now;
  const bool replacing = ::fstatat(s.folder.get(), s.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
  if (replacing && S_ISREG(now.st_mode)) {
    // Owner first: changing it clears set-id bits, which the mode then restores. Only root
    // may give a file away; others keep their own file, with the older one's group where
    // they belong to it.
    if (::fchown(fd, now.st_uid, now.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), now.st_gid) != 0) {
      // Not permitted: the new file stays the writer's, as any newly saved file would.
    }
    ::fchmod(fd, now.st_mode & 07777);
  } else {
    ::fchmod(fd, 0666 & ~CurrentUmask());
  }
  // A crash or power cut soon after the replacement must find the movie or the older file,
  // never an empty one: the data first, the new name after it. A new output has nothing
  // to lose and is not flushed.
  if (replacing && ::fsync(fd) != 0) return FileResult::System(errno);
  if (!NamesFile(s.folder.get(), s.temporaryName.c_str(), fd)) return FileResult::Failed(FileFailure::kSwapped);
  if (::renameat(s.folder.get(), s.temporaryName.c_str(), s.folder.get(), s.name.c_str()) != 0) {
    return FileResult::System(errno);
  }
  ClearPending(fd);
  s.temporaryName.clear();
  temporaryPath_.clear();
  if (replacing) ::fsync(s.folder.get());  // a folder opened only for searching cannot be; nothing lost then
  const int closed = s.file.Close();
  if (closed != 0 && !replacing) {
    // A write the system could only refuse now: the new file is incomplete.
    ::unlinkat(s.folder.get(), s.name.c_str(), 0);
    return FileResult::System(closed);
  }
  return FileResult();
}

void OutputFile::Discard() {
  State& s = *state_;
  if (!s.file) return;
  ClearPending(s.file.get());
  if (NamesFile(s.folder.get(), s.temporaryName.c_str(), s.file.get())) {
    ::unlinkat(s.folder.get(), s.temporaryName.c_str(), 0);
  }
  s.file.reset();
  s.temporaryName.clear();
  temporaryPath_.clear();
}

bool RemovePendingTemporary(int signal) {
  if (g_creating.load()) {
    g_deferredSignal.store(signal);
    return false;
  }
  const int folder = g_pendingFolder.load();
  const int file = g_pendingFile.load();
  if (folder >= 0 && NamesFile(folder, g_pendingName, file)) ::unlinkat(folder, g_pendingName, 0);
  return true;
}

}  // namespace zelvo
