// The job's two tables of texts: every text in both, with the same printf directives in
// the same order, since the job fills either with the same arguments.
#include "convert/job_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace zelvo {
namespace {

// The conversions of a printf form, in order ("%s%d" for "%s ... %d"); "%%" is no argument.
std::string Directives(const char* form) {
  std::string out;
  for (const char* p = std::strchr(form, '%'); p; p = std::strchr(p, '%')) {
    ++p;
    if (*p == '%') {
      ++p;
      continue;
    }
    while (*p && !std::strchr("diouxXeEfgGcsp", *p)) ++p;
    out += '%';
    if (*p) out += *p++;
  }
  return out;
}

TEST(JobTexts, EveryTextHasBothFormsWithTheSameArguments) {
  for (int i = 0; i < static_cast<int>(JobText::kCount); ++i) {
    const JobText id = static_cast<JobText>(i);
    SCOPED_TRACE(i);
    const std::string japanese = JapaneseJobText(id);
    const std::string english = EnglishJobText(id);
    EXPECT_FALSE(japanese.empty());
    EXPECT_FALSE(english.empty());
    EXPECT_NE(Directives(japanese.c_str()), "") << "every job text names a file";
    EXPECT_EQ(Directives(japanese.c_str()), Directives(english.c_str())) << japanese << "\n" << english;
  }
}

}  // namespace
}  // namespace zelvo
