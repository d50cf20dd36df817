#include "platform/messages_posix.h"

#include <libintl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zelvo {

namespace {

constexpr char kDomain[] = "zelvo";

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder of a path without its trailing separator: "" for the root, "." for a bare
// name, so that appending "/name" always gives a valid path.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

// The running program's own file. /proc/self/exe names it wherever it was started from
// and whatever argv[0] says; false where /proc is not mounted.
bool OwnExecutable(std::string* path) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return false;
  path->assign(buffer, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

bool FindLocaleDir(const std::string& exePath, std::string* dir) {
  const std::string folder = FolderOf(exePath);
  const std::string candidates[] = {folder + "/locale", FolderOf(folder) + "/share/locale"};
  for (const std::string& candidate : candidates) {
    if (IsDirectory(candidate)) {
      *dir = candidate;
      return true;
    }
  }
  return false;
}

bool InitMessages() {
  // One category the environment names but the system lacks makes LC_ALL fail as a whole;
  // the two categories the texts need are then taken on their own.
  if (std::setlocale(LC_ALL, "") == nullptr) {
    std::setlocale(LC_MESSAGES, "");
    std::setlocale(LC_CTYPE, "");
  }
  // Numbers stay in the C locale: the rate "29.97" and the codec options ("crf=20.5",
  // parsed by libavutil with strtod) are read with a '.', and the numbers printed go to
  // scripts and logs that expect one. Under de_DE or fr_FR strtod would stop at the '.'.
  std::setlocale(LC_NUMERIC, "C");
  // LC_CTYPE stays the user's: the system's own reasons (strerror) come in its character
  // set, and the program's character tests (isdigit, isspace, tolower) only ever look at
  // ASCII letters and digits, which every UTF-8 locale classifies as C does.

  std::string exe;
  std::string dir;
  const bool found = OwnExecutable(&exe) && FindLocaleDir(exe, &dir);
  if (!found) dir = ZELVO_LOCALEDIR;
  bindtextdomain(kDomain, dir.c_str());
  // The catalogs are UTF-8 and so is everything else the program prints; gettext would
  // otherwise convert to the locale's own character set.
  bind_textdomain_codeset(kDomain, "UTF-8");
  textdomain(kDomain);
  return found;
}

const char* Tr(const char* msgid) {
  // gettext("") is the catalog's header, never a text to print.
  if (msgid == nullptr || msgid[0] == '\0') return msgid;
  return gettext(msgid);
}

std::string FormatText(const char* form, ...) {
  std::va_list args;
  va_start(args, form);
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, form, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), form, again);
    text.assign(buffer.data(), static_cast<std::size_t>(n));
  }
  va_end(again);
  return text;
}

}  // namespace zelvo
