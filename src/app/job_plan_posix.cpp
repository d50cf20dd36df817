#include "app/job_plan_posix.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/command_line_posix.h"
#include "platform/messages_posix.h"
#include "sequence/sequence.h"

namespace zelvo {

namespace {

// The name of frame `n` of the job's sequence, escaped for the terminal.
std::string FrameName(const JobSettings& job, int n) {
  return TerminalSafe(FormatFrameName(ParseSequencePath(job.input.c_str()), n).c_str());
}

}  // namespace

int CheckSharedOutputs(const std::vector<ListedJob>& jobs) {
  std::size_t first = 0, second = 0;
  if (!FindSharedOutput(jobs, &first, &second)) return kGoOn;
  const ListedJob& a = jobs[first];
  const ListedJob& b = jobs[second];
  return UsageError(FormatText(Tr("'%s' and '%s' would both be written to '%s'"), TerminalSafe(a.argument.c_str()).c_str(),
                               TerminalSafe(b.argument.c_str()).c_str(), TerminalSafe(b.settings.output.c_str()).c_str()) +
                    " (" + Tr("convert them one at a time, or give each its own output with -o") + ")");
}

void NoticeGaps(const JobSettings& job) {
  const SequenceRun run = FindSequenceRun(job.input.c_str());
  if (run.first < 0) return;
  const int low = std::min(job.first, job.last);
  const int high = std::max(job.first, job.last);
  if (high == run.last && run.after >= 0) {
    std::fprintf(stderr, "zelvo: %s\n",
                 FormatText(Tr("%s is missing: the run ends at %s, though numbered frames go on from %s"),
                            FrameName(job, run.last + 1).c_str(), FrameName(job, run.last).c_str(),
                            FrameName(job, run.after).c_str())
                     .c_str());
  }
  if (low == run.first && run.before >= 0) {
    std::fprintf(stderr, "zelvo: %s\n",
                 FormatText(Tr("%s is missing: the run starts at %s, though numbered frames come before it, up to %s"),
                            FrameName(job, run.first - 1).c_str(), FrameName(job, run.first).c_str(),
                            FrameName(job, run.before).c_str())
                     .c_str());
  }
}

void PrintJob(std::FILE* out, const JobSettings& job) {
  const int count = (job.first <= job.last ? job.last - job.first : job.first - job.last) + 1;
  std::fprintf(out, "%s\n",
               FormatText(Tr("%s to %s, %d frame(s), into %s"), FrameName(job, job.first).c_str(),
                          FrameName(job, job.last).c_str(), count, TerminalSafe(job.output.c_str()).c_str())
                   .c_str());
}

}  // namespace zelvo
