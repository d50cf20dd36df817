#pragma once
// The jobs of one command line that names several frames. A shell's glob names every frame
// of a run (seq/*.bmp), and two sequences may derive one output name (img001.bmp and
// img0001.png both give img.avi): the frames of one run make one job, and two jobs that
// would write one file are refused before anything is asked or written.
#include <cstddef>
#include <string>
#include <vector>

#include "convert/conversion_job.h"

namespace zelvo {

struct ListedJob {
  std::string argument;  // the frame as the user named it
  JobSettings settings;
};

// True when `a` and `b` name one file: one name in one folder (however the folder is
// spelled), or two names of one existing file (a link and where it leads).
bool SameOutput(const char* a, const char* b);

// True when the two jobs write the same frames, in the same order and at the same rate,
// into the same file: one folder (any spelling), prefix, digit count and extension, the
// same first and last number.
bool SameJob(const JobSettings& a, const JobSettings& b);

// True when `framePath` names a frame numbered from `first` to `last` (either order) of
// the sequence `runFrame` belongs to: one folder (any spelling), prefix, digit count and
// extension. A command line skips such an argument once the run is a job.
bool FrameOfRun(const char* framePath, const char* runFrame, int first, int last);

// Keeps the first job of each SameJob group, in the order the jobs were named.
void MergeSameJobs(std::vector<ListedJob>* jobs);

// The first two jobs (first < second) that would write one file; false when there are none.
bool FindSharedOutput(const std::vector<ListedJob>& jobs, std::size_t* first, std::size_t* second);

}  // namespace zelvo
