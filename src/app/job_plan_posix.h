#pragma once
// The Linux program's jobs between the frame arguments and the first question (the jobs of
// one run are merged by MergeSameJobs first): no two jobs into one file, a word about a
// run that stops at a gap, and the list --dry-run prints.
#include <cstdio>
#include <vector>

#include "convert/job_list.h"

namespace zelvo {

// A usage error, said on standard error, when two of the jobs would write one file:
// kUsageError, else kGoOn.
int CheckSharedOutputs(const std::vector<ListedJob>& jobs);

// Says on standard error, for a job that runs up to a gap in the numbers beyond which
// numbered frames of its sequence go on, which frame is missing. The job goes on as it is.
void NoticeGaps(const JobSettings& job);

// One line on `out` for --dry-run: the job's first and last frame, their count and the output.
void PrintJob(std::FILE* out, const JobSettings& job);

}  // namespace zelvo
