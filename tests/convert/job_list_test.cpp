// The jobs of one command line: frames of one run named several times (a glob) make one
// job, and two jobs that would write one file are found before anything is written.
#include "convert/job_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zelvo {
namespace {

using test::NativePath;
using test::TempDir;

class JobListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(dir_.AddFolder("seq"));
    for (const char* name : {"seq/img001.bmp", "seq/img002.bmp", "seq/img003.bmp", "seq/img0001.png",
                             "seq/img0002.png", "seq/cover.bmp"}) {
      ASSERT_TRUE(dir_.AddFile(name));
    }
  }

  // The job a frame argument gives, as the command line makes it: the run around it,
  // optionally narrowed by --first/--last and written to -o.
  ListedJob Job(const std::string& relative, int first = -1, int last = -1, const char* output = nullptr) const {
    ListedJob job;
    job.argument = dir_.Join(NativePath(relative));
    FrameRun run;
    EXPECT_EQ(FindFrameRun(job.argument.c_str(), &run), RunProblem::kNone) << relative;
    job.settings = run.settings;
    if (first >= 0) job.settings.first = first;
    if (last >= 0) job.settings.last = last;
    if (output) job.settings.output = dir_.Join(output);
    return job;
  }

  TempDir dir_;
};

TEST_F(JobListTest, FramesOfOneRunNamedSeveralTimesAreOneJobInTheOrderFirstNamed) {
  struct Case {
    const char* what;
    std::vector<ListedJob> named;
    std::vector<std::size_t> kept;  // indexes into `named`
  };
  const Case cases[] = {
      {"a glob over one run", {Job("seq/img001.bmp"), Job("seq/img002.bmp"), Job("seq/img003.bmp")}, {0}},
      {"the run named last first", {Job("seq/img003.bmp"), Job("seq/cover.bmp"), Job("seq/img001.bmp")}, {0, 1}},
      {"another spelling of the folder", {Job("seq/img002.bmp"), Job("seq/./img001.bmp")}, {0}},
      {"two sequences", {Job("seq/img001.bmp"), Job("seq/img0002.png"), Job("seq/img0001.png")}, {0, 1}},
      {"another range of the run", {Job("seq/img001.bmp"), Job("seq/img001.bmp", 3, 1)}, {0, 1}},
      {"another output", {Job("seq/img001.bmp"), Job("seq/img002.bmp", -1, -1, "other.avi")}, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<ListedJob> jobs = c.named;
    MergeSameJobs(&jobs);
    ASSERT_EQ(jobs.size(), c.kept.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) EXPECT_EQ(jobs[i].argument, c.named[c.kept[i]].argument);
  }
}

TEST_F(JobListTest, AFrameOfAKnownRunIsTold) {
  const std::string run = dir_.Join(NativePath("seq/img002.bmp"));
  const std::pair<const char*, bool> cases[] = {
      {"seq/img001.bmp", true},  {"seq/img003.bmp", true},   {"seq/./img002.bmp", true},
      {"seq/img004.bmp", false},  // past the run's last number
      {"seq/img0002.png", false}, {"seq/img02.bmp", false},  {"seq/cover.bmp", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FrameOfRun(dir_.Join(NativePath(c.first)).c_str(), run.c_str(), 3, 1), c.second) << c.first;
  }
}

TEST_F(JobListTest, TwoJobsWritingOneFileAreFound) {
  struct Case {
    const char* what;
    std::vector<ListedJob> jobs;
    bool shared;
    std::size_t first, second;
  };
  const Case cases[] = {
      {"img001.bmp and img0001.png both give img.avi", {Job("seq/cover.bmp"), Job("seq/img001.bmp"), Job("seq/img0001.png")},
       true, 1, 2},
      {"one -o for two sequences", {Job("seq/img001.bmp", -1, -1, "out.avi"), Job("seq/img0001.png", -1, -1, "out.avi")},
       true, 0, 1},
      {"one output through another spelling of its folder",
       {Job("seq/img001.bmp", -1, -1, "seq/img.avi"), Job("seq/cover.bmp", -1, -1, "seq/../seq/img.avi")}, true, 0, 1},
      {"outputs of their own", {Job("seq/img001.bmp"), Job("seq/cover.bmp"), Job("seq/img0001.png", -1, -1, "png.avi")},
       false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::size_t first = 99, second = 99;
    EXPECT_EQ(FindSharedOutput(c.jobs, &first, &second), c.shared);
    if (c.shared) {
      EXPECT_EQ(first, c.first);
      EXPECT_EQ(second, c.second);
    }
  }
}

}  // namespace
}  // namespace zelvo
