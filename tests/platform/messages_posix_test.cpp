// Where the Linux program finds its message catalogs, and the locale it sets up.
#include "platform/messages_posix.h"

#include <gtest/gtest.h>
#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "convert/job_texts.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using test::TempDir;

TEST(Messages, FindLocaleDirPrefersTheBuildFolderThenThePrefix) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* folder : {"build", "build/locale", "both", "both/bin", "both/bin/locale", "both/share",
                             "both/share/locale", "prefix", "prefix/bin", "prefix/share", "prefix/share/locale",
                             "bare", "bare/bin", "filed", "filed/bin"}) {
    ASSERT_TRUE(dir.AddFolder(folder)) << folder;
  }
  ASSERT_TRUE(dir.AddFile("filed/bin/locale"));  // a file of that name is no catalog folder
  struct Case {
    const char* exe;
    const char* expected;  // nullptr: none found
  };
  const Case cases[] = {
      {"build/zelvo", "build/locale"},
      {"both/bin/zelvo", "both/bin/locale"},
      {"prefix/bin/zelvo", "prefix/share/locale"},
      {"bare/bin/zelvo", nullptr},
      {"filed/bin/zelvo", nullptr},
  };
  for (const Case& c : cases) {
    std::string found = "untouched";
    const bool ok = FindLocaleDir(dir.Join(c.exe), &found);
    EXPECT_EQ(ok, c.expected != nullptr) << c.exe;
    EXPECT_EQ(found, c.expected ? dir.Join(c.expected) : "untouched") << c.exe;
  }
}

// Restores the variables and the locale a test changes.
class LocaleGuard {
 public:
  LocaleGuard() {
    for (int i = 0; i < kCount; ++i) {
      const char* v = std::getenv(kNames[i]);
      had_[i] = v != nullptr;
      if (v) saved_[i] = v;
    }
  }
  ~LocaleGuard() {
    for (int i = 0; i < kCount; ++i) {
      if (had_[i])
        setenv(kNames[i], saved_[i].c_str(), 1);
      else
        unsetenv(kNames[i]);
    }
    std::setlocale(LC_ALL, "C");
  }

 private:
  static constexpr int kCount = 4;
  static constexpr const char* kNames[kCount] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  bool had_[kCount] = {};
  std::string saved_[kCount];
};

TEST(Messages, InitMessagesTakesTheUsersLanguageButKeepsNumbersInC) {
  if (std::setlocale(LC_ALL, "ja_JP.UTF-8") == nullptr) GTEST_SKIP() << "ja_JP.UTF-8 is not generated (scripts/setup)";
  LocaleGuard guard;
  unsetenv("LANGUAGE");
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "ja_JP.UTF-8", 1);
  InitMessages();
  EXPECT_STREQ(std::setlocale(LC_MESSAGES, nullptr), "ja_JP.UTF-8");
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "ja_JP.UTF-8");
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");

  // With the build's Japanese catalog bound, the empty text must not turn into its header.
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string build(exe, static_cast<std::size_t>(n));
  build = build.substr(0, build.rfind('/'));   // tests/
  build = build.substr(0, build.rfind('/'));   // the build folder
  if (access((build + "/locale/ja/LC_MESSAGES/zelvo.mo").c_str(), R_OK) != 0)
    GTEST_SKIP() << "no catalog built beside " << build;
  bindtextdomain("zelvo", (build + "/locale").c_str());
  EXPECT_STRNE(gettext(""), "");  // the header is there to be mistaken for a text
  EXPECT_STREQ(Tr(""), "");
  EXPECT_STREQ(Tr("no such text"), "no such text");
  // The job's texts in Japanese are the Windows program's, byte for byte: the catalog holds
  // them, not a copy in the Linux code.
  for (int i = 0; i < static_cast<int>(JobText::kCount); ++i) {
    const JobText id = static_cast<JobText>(i);
    EXPECT_STREQ(Tr(EnglishJobText(id)), JapaneseJobText(id)) << i;
  }
}

// Names reach the terminal as GNU tools print them: what a terminal would obey is shown
// escaped, whatever is printable UTF-8 is kept, and no two names look the same.
TEST(TerminalSafe, EscapesWhatATerminalWouldObeyAndKeepsPrintableText) {
  struct Case {
    const char* name;
    const char* shown;
  };
  const Case cases[] = {
      {"shot0001.bmp", "shot0001.bmp"},
      {"\x1b]0;pwned\a0001.bmp", "\\033]0;pwned\\a0001.bmp"},
      {"\x1b[2J0001.bmp", "\\033[2J0001.bmp"},
      {"a\rb\nc\td\be\ff\vg", "a\\rb\\nc\\td\\be\\ff\\vg"},
      {"\x01\x1f\x7f", "\\001\\037\\177"},
      {"back\\slash", "back\\\\slash"},
      {"ショット 001.bmp", "ショット 001.bmp"},
      {"Séquence ünïcödé 😀", "Séquence ünïcödé 😀"},
      {"\xc2\x9b" "2J", "\\302\\2332J"},       // U+009B, the one-byte CSI
      {"bad\xff\xfe", "bad\\377\\376"},          // no UTF-8 at all
      {"\xc0\xaf", "\\300\\257"},                  // an overlong '/'
      {"\xed\xa0\x80", "\\355\\240\\200"},      // a surrogate
      {"cut\xe3\x82", "cut\\343\\202"},            // a sequence cut off by the end
  };
  for (const Case& c : cases) EXPECT_EQ(TerminalSafe(c.name), c.shown) << c.shown;
}

}  // namespace
}  // namespace zelvo
