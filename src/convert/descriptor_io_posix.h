#pragma once
// libavformat's byte I/O over a descriptor the caller has opened and keeps: reads with
// pread and writes with pwrite at the context's own position, so two contexts on one
// descriptor (a muxer writing and its second pass reading back) never move each other's
// place, and no file is ever opened by name.
#include <memory>

struct AVIOContext;

namespace zelvo {

// A context reading (or, when `writable`, writing) `fd` from offset 0. The descriptor is
// borrowed: it must stay open while the context lives and is never closed by it. Null
// when memory is short.
AVIOContext* OpenDescriptorIo(int fd, bool writable);
// Frees the context and its buffer (not the descriptor); sets *context to null.
void CloseDescriptorIo(AVIOContext** context);
// The errno of the context's first failed read, write or seek; 0 when none failed.
int DescriptorIoError(const AVIOContext* context);

struct DescriptorIoClose {
  void operator()(AVIOContext* context) const { CloseDescriptorIo(&context); }
};
using DescriptorIo = std::unique_ptr<AVIOContext, DescriptorIoClose>;

}  // namespace zelvo
