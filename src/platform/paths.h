#pragma once
// Path utilities shared by the entry point, the main dialog and the conversion job.

namespace zelvo {

// 0: nothing of that name exists (or the path is empty); 1: an existing file that opens
// for reading; 2: something of that name exists but does not open as a file (a folder,
// a path ending in a separator, a forbidden file). Callers treat 1 and 2 alike.
int ProbePath(const char* path);

// Rewrites `path` into the names stored on disk (long names, stored letter case) into
// `out`. False, with `out` untouched, when the path names nothing or the result would not
// be shorter than `limit`.
bool ResolveLongPath(char* out, const char* path, int limit);

}  // namespace zelvo
