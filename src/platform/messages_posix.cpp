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

namespace {

// The length of the valid UTF-8 sequence at `p` that encodes a printable character
// (no C1 control), or 0.
int PrintableSequence(const unsigned char* p) {
  const unsigned c = p[0];
  int length = 0;
  unsigned low = 0x80, high = 0xBF;  // the second byte's range: no overlong or surrogate forms
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    if (c == 0xC2) low = 0xA0;  // U+0080 to U+009F are the C1 controls
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (p[1] < low || p[1] > high) return 0;
  for (int i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string TerminalSafe(const char* text) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    const unsigned c = *p;
    if (c >= 0x80) {
      if (const int length = PrintableSequence(p)) {
        out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(length));
        p += length;
        continue;
      }
    }
    if (c >= 7 && c <= 13) {
      out += '\\';
      out += "abtnvfr"[c - 7];
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7F) {
      char octal[5];
      std::snprintf(octal, sizeof octal, "\\%03o", c);
      out += octal;
    } else {
      out += static_cast<char>(c);
    }
    ++p;
  }
  return out;
}

}  // namespace zelvo
