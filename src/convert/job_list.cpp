#include "convert/job_list.h"

#include <algorithm>
#include <cstring>

#include "platform/file.h"
#include "platform/path_buffer.h"
#include "sequence/sequence.h"

namespace zelvo {

namespace {

// The folder part of `path` as a key equal for every spelling of one existing folder; the
// text itself for a folder that does not exist.
std::string FolderKey(const std::string& folder) {
  const std::string identity = FileIdentity(folder.empty() ? "." : folder.c_str());
  return identity.empty() ? "?" + folder : identity;
}

// The folder key and the name of the file within it.
std::string PlaceKey(const char* path) {
  const PathSplit split = SplitPath(path);
  return FolderKey(std::string(path, split.name)) + '\n' + std::string(path + split.name);
}

// True when the two paths name frames of one sequence.
bool SameSequence(const SequenceSpec& x, const SequenceSpec& y) {
  return x.prefix == y.prefix && x.width == y.width && x.extension == y.extension &&
         FolderKey(x.directory) == FolderKey(y.directory);
}

}  // namespace

bool SameOutput(const char* a, const char* b) {
  if (std::strcmp(a, b) == 0 || PlaceKey(a) == PlaceKey(b)) return true;
  const std::string identity = FileIdentity(a);
  return !identity.empty() && identity == FileIdentity(b);
}

bool SameJob(const JobSettings& a, const JobSettings& b) {
  if (a.first != b.first || a.last != b.last || a.rate != b.rate || a.scale != b.scale) return false;
  return SameSequence(ParseSequencePath(a.input.c_str()), ParseSequencePath(b.input.c_str())) &&
         SameOutput(a.output.c_str(), b.output.c_str());
}

bool FrameOfRun(const char* framePath, const char* runFrame, int first, int last) {
  const SequenceSpec frame = ParseSequencePath(framePath);
  if (frame.width == 0 || frame.number < std::min(first, last) || frame.number > std::max(first, last)) return false;
  return SameSequence(frame, ParseSequencePath(runFrame));
}

void MergeSameJobs(std::vector<ListedJob>* jobs) {
  std::vector<ListedJob> kept;
  for (ListedJob& job : *jobs) {
    bool seen = false;
    for (const ListedJob& earlier : kept) {
      if (SameJob(earlier.settings, job.settings)) {
        seen = true;
        break;
      }
    }
    if (!seen) kept.push_back(std::move(job));
  }
  jobs->swap(kept);
}

bool FindSharedOutput(const std::vector<ListedJob>& jobs, std::size_t* first, std::size_t* second) {
  for (std::size_t j = 1; j < jobs.size(); ++j) {
    for (std::size_t i = 0; i < j; ++i) {
      if (SameOutput(jobs[i].settings.output.c_str(), jobs[j].settings.output.c_str())) {
        *first = i;
        *second = j;
        return true;
      }
    }
  }
  return false;
}

}  // namespace zelvo
