#include "convert/descriptor_io_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "image/av_calls_posix.h"

namespace zelvo {

namespace {

constexpr int kBufferSize = 1 << 16;

struct Place {
  int fd = -1;
  std::int64_t position = 0;
  int error = 0;  // errno of the first failure
};

int Failed(Place* place, int error) {
  if (place->error == 0) place->error = error;
  return AVERROR(error);
}

int ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
  Place* place = static_cast<Place*>(opaque);
  for (;;) {
    const ssize_t got = pread(place->fd, buffer, static_cast<std::size_t>(size), place->position);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Failed(place, errno);
    if (got == 0) return AVERROR_EOF;
    place->position += got;
    return static_cast<int>(got);
  }
}

int WritePacket(void* opaque, std::uint8_t* buffer, int size) {
  Place* place = static_cast<Place*>(opaque);
  int done = 0;
  while (done < size) {
    const ssize_t put = pwrite(place->fd, buffer + done, static_cast<std::size_t>(size - done), place->position);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return Failed(place, errno);
    if (put == 0) return Failed(place, EIO);
    place->position += put;
    done += static_cast<int>(put);
  }
  return size;
}

std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
  Place* place = static_cast<Place*>(opaque);
  struct stat st;
  const bool needSize = (whence & ~AVSEEK_FORCE) == AVSEEK_SIZE || (whence & ~AVSEEK_FORCE) == SEEK_END;
  if (needSize && fstat(place->fd, &st) != 0) return Failed(place, errno);
  std::int64_t target;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return st.st_size;
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = place->position + offset; break;
    case SEEK_END: target = st.st_size + offset; break;
    default: return AVERROR(EINVAL);
  }
  if (target < 0) return AVERROR(EINVAL);
  place->position = target;
  return target;
}

}  // namespace

AVIOContext* OpenDescriptorIo(int fd, bool writable) {
  std::uint8_t* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferSize));
  Place* place = new (std::nothrow) Place;
  AVIOContext* context = nullptr;
  if (buffer && place) {
    place->fd = fd;
    context = avio_alloc_context(buffer, kBufferSize, writable ? 1 : 0, place, writable ? nullptr : ReadPacket,
                                 writable ? WritePacket : nullptr, Seek);
  }
  if (!context) {
    av_free(buffer);
    delete place;
  }
  return context;
}

void CloseDescriptorIo(AVIOContext** context) {
  if (!context || !*context) return;
  delete static_cast<Place*>((*context)->opaque);
  av_freep(&(*context)->buffer);
  avio_context_free(context);
}

int DescriptorIoError(const AVIOContext* context) {
  return context ? static_cast<const Place*>(context->opaque)->error : 0;
}

}  // namespace zelvo
