#pragma once
// Cleared memory that costs nothing until it is written. libavcodec 5.1 clears every
// encoder's packet buffer in full when it first grows it (av_fast_padded_malloc through
// av_fast_mallocz), and FFV1 asks for its worst case, 148 bytes a pixel: 307 MB at
// 1920x1080 made resident at the first frame, of which a frame writes a few hundred KB.
// This unit defines av_fast_mallocz itself, with libavutil's contract, so that
// libavcodec's calls come here (the program exports its definition, which comes first in
// the dynamic linker's order, also for the libraries it loads later) and the kernel
// supplies the zeros page by page as they are touched. Its own calls into libavutil go
// through the table of image/av_api_posix.h, loaded by then: libavcodec is the caller.
#include <cstddef>

namespace zelvo {

// Makes the n bytes at p read as zero: the bytes that share a page with memory around
// them are written, the whole pages between are given back to the kernel, which maps
// zeroed ones in when they are next touched. p is the caller's own private memory.
void ClearLazily(void* p, std::size_t n);

}  // namespace zelvo
