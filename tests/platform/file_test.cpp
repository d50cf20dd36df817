// Temporary names beside an output: same folder, same extension, never an existing file,
// and always within the path limit, also for outputs close to it.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/path_buffer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

TEST(TemporaryName, StaysBesideTheOutputWithinTheLimit) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  struct Case {
    std::size_t folderLength;  // with its trailing separator
    std::size_t nameLength;    // of the output's file name, ".avi" included
    bool fits;
  };
  const Case cases[] = {{0, 9, true},     {0, 200, true},   {240, 19, true}, {250, 9, true},
                        {252, 5, true},   {253, 6, true},   {254, 5, false}, {255, 4, false}};
  for (const Case& c : cases) {
    std::string folder = dir.Join("");
    if (c.folderLength > folder.size()) {
      std::string sub(c.folderLength - folder.size() - 1, 'd');
      ASSERT_TRUE(dir.AddFolder(sub) || PathExists(dir.Join(sub).c_str()));
      folder = dir.Join(sub) + test::PathSeparator();
    }
    SCOPED_TRACE(folder.size());
    SCOPED_TRACE(c.nameLength);
    std::string output = folder + std::string(c.nameLength - 4, 'n') + ".avi";
    std::string temporary = TemporaryNameBeside(output.c_str());
    if (!c.fits) {
      EXPECT_TRUE(temporary.empty()) << temporary;
      continue;
    }
    ASSERT_FALSE(temporary.empty());
    EXPECT_LT(temporary.size(), static_cast<std::size_t>(kPathSize));
    EXPECT_EQ(temporary.compare(0, folder.size(), folder), 0);
    EXPECT_EQ(temporary.substr(temporary.size() - 4), ".avi");
    EXPECT_EQ(temporary.find(test::PathSeparator(), folder.size()), std::string::npos);
    EXPECT_NE(temporary, output);
    EXPECT_FALSE(PathExists(temporary.c_str()));
  }
}

TEST(TemporaryName, NeverNamesAnExistingFile) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string output = dir.Join("m.avi");
  for (int i = 0; i < 20; ++i) {
    std::string temporary = TemporaryNameBeside(output.c_str());
    ASSERT_FALSE(temporary.empty());
    EXPECT_FALSE(PathExists(temporary.c_str()));
    ASSERT_TRUE(dir.AddFile(temporary.substr(dir.Join("").size()), "x"));
  }
}

}  // namespace
}  // namespace zelvo
