#include "convert/avi_file_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/types.h>
#include <unistd.h>

namespace zelvo {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// Frames at least this large skip the buffer: they are written straight from the caller's
// memory, so a full frame costs no copy at all and small chunks cost one.
constexpr std::size_t kDirectWrite = kBufferSize / 2;
constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAvifIsInterleaved = 0x100;
constexpr std::uint32_t kAviifKeyFrame = 0x10;
constexpr std::uint32_t kIndexEntryNotKey = 0x80000000u;
constexpr std::uint32_t kDmlhSize = 248;
constexpr std::uint32_t kFrameChunk = MakeFourcc('0', '0', 'd', 'c');

// Little-endian field writer over a byte vector.
class Bytes {
 public:
  explicit Bytes(std::vector<std::uint8_t>* out) : out_(out) {}
  void U8(std::uint8_t v) { out_->push_back(v); }
  void U16(std::uint16_t v) { U8(v & 0xff); U8(v >> 8); }
  void U32(std::uint32_t v) { U16(v & 0xffff); U16(v >> 16); }
  void U64(std::uint64_t v) { U32(static_cast<std::uint32_t>(v)); U32(static_cast<std::uint32_t>(v >> 32)); }
  void Fourcc(std::uint32_t v) { U32(v); }
  void Tag(const char* s) { U32(MakeFourcc(s[0], s[1], s[2], s[3])); }
  void Raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out_->insert(out_->end(), b, b + n);
  }
  void Zeros(std::size_t n) { out_->insert(out_->end(), n, 0); }
  std::size_t Size() const { return out_->size(); }
  // Starts a chunk or list and returns where its size field is, to be set by End.
  std::size_t Begin(const char* tag) {
    Tag(tag);
    const std::size_t at = Size();
    U32(0);
    return at;
  }
  void End(std::size_t sizeAt) {
    const std::uint32_t size = static_cast<std::uint32_t>(Size() - sizeAt - 4);
    for (int i = 0; i < 4; ++i) (*out_)[sizeAt + i] = static_cast<std::uint8_t>(size >> (8 * i));
    if (size & 1) U8(0);  // chunks are padded to even lengths
  }

 private:
  std::vector<std::uint8_t>* out_;
};

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> AviFile::BuildHeader() const {
  std::vector<std::uint8_t> out;
  Bytes b(&out);
  b.Tag("RIFF");
  b.U32(firstRiffSize_);
  b.Tag("AVI ");
  const std::size_t hdrl = b.Begin("LIST");
  b.Tag("hdrl");

  const std::size_t avih = b.Begin("avih");
  const std::uint64_t microSeconds =
      stream_.rate ? (std::uint64_t{stream_.scale} * 1000000 + stream_.rate / 2) / stream_.rate : 0;
  b.U32(microSeconds > 0xffffffffu ? 0xffffffffu : static_cast<std::uint32_t>(microSeconds));
  const std::uint64_t bytesPerSecond =
      stream_.scale ? std::uint64_t{largestChunk_} * stream_.rate / stream_.scale : 0;
  b.U32(bytesPerSecond > 0xffffffffu ? 0xffffffffu : static_cast<std::uint32_t>(bytesPerSecond));
  b.U32(0);  // dwPaddingGranularity
  b.U32(hasIdx1_ ? kAvifHasIndex | kAvifIsInterleaved : 0);
  b.U32(firstRiffFrames_);  // frames an AVI 1.0 reader finds in the first RIFF
  b.U32(0);                 // dwInitialFrames
  b.U32(1);                 // dwStreams
  b.U32(largestChunk_);     // dwSuggestedBufferSize
  b.U32(static_cast<std::uint32_t>(stream_.width));
  b.U32(static_cast<std::uint32_t>(stream_.height));
  b.Zeros(16);
  b.End(avih);

  const std::size_t strl = b.Begin("LIST");
  b.Tag("strl");
  const std::size_t strh = b.Begin("strh");
  b.Tag("vids");
  b.Fourcc(stream_.handler);
  b.U32(0);  // dwFlags
  b.U16(0);  // wPriority
  b.U16(0);  // wLanguage
  b.U32(0);  // dwInitialFrames
  b.U32(stream_.scale);
  b.U32(stream_.rate);
  b.U32(0);  // dwStart
  b.U32(totalFrames_);  // dwLength
  b.U32(largestChunk_);
  b.U32(0xffffffffu);  // dwQuality: the codec's default
  b.U32(0);            // dwSampleSize
  b.U16(0);            // rcFrame: left, top, right, bottom
  b.U16(0);
  b.U16(static_cast<std::uint16_t>(stream_.width));
  b.U16(static_cast<std::uint16_t>(stream_.height));
  b.End(strh);

  const std::size_t strf = b.Begin("strf");
  b.Raw(stream_.format.data(), stream_.format.size());
  b.End(strf);

  // The super index always has its full reserved size, so the header keeps its length
  // whatever number of segments the file ends with.
  const std::size_t indx = b.Begin("indx");
  b.U16(4);  // wLongsPerEntry
  b.U8(0);   // bIndexSubType
  b.U8(0);   // bIndexType: AVI_INDEX_OF_INDEXES
  b.U32(static_cast<std::uint32_t>(segments_.size()));
  b.U32(kFrameChunk);
  b.Zeros(12);
  for (std::uint32_t i = 0; i < kSuperIndexEntries; ++i) {
    if (i < segments_.size()) {
      b.U64(segments_[i].indexPosition);
      b.U32(segments_[i].indexSize);
      b.U32(segments_[i].frames);
    } else {
      b.Zeros(16);
    }
  }
  b.End(indx);

  const std::size_t strn = b.Begin("strn");
  b.Raw(stream_.name.c_str(), stream_.name.size() + 1);
  b.End(strn);
  b.End(strl);

  const std::size_t odml = b.Begin("LIST");
  b.Tag("odml");
  const std::size_t dmlh = b.Begin("dmlh");
  b.U32(totalFrames_);
  b.Zeros(kDmlhSize - 4);
  b.End(dmlh);
  b.End(odml);
  b.End(hdrl);

  b.Tag("LIST");
  b.U32(firstMoviSize_);
  b.Tag("movi");
  return out;
}

WriteResult AviFile::Create(int fd, const AviVideoStream& stream) {
  Discard();
  if (fd < 0 || stream.width <= 0 || stream.height <= 0 || stream.scale == 0 || stream.rate == 0 ||
      stream.format.size() > 0x10000 || stream.name.size() > 0x10000) {
    return WriteResult::Failed(WriteFailure::kSystem, EINVAL);
  }
  stream_ = stream;
  failure_ = WriteResult();
  segments_.clear();
  entries_.clear();
  firstRiffFrames_ = firstRiffSize_ = firstMoviSize_ = totalFrames_ = largestChunk_ = 0;
  hasIdx1_ = false;
  flushed_ = committed_ = 0;
  try {
    buffer_.clear();
    buffer_.reserve(kBufferSize);
  } catch (const std::bad_alloc&) {
    return WriteResult::Failed(WriteFailure::kNoMemory);
  }
  fd_ = fd;
  const std::vector<std::uint8_t> header = BuildHeader();
  riffStart_ = 0;
  moviFourcc_ = header.size() - 4;
  if (!Put(header.data(), header.size()) || !Flush()) {
    const WriteResult failed = WriteResult::Failed(WriteFailure::kSystem, errno != 0 ? errno : EIO);
    Discard();
    return failed;
  }
  committed_ = flushed_;
  return WriteResult();
}

WriteResult AviFile::Fail(WriteFailure kind) {
  if (failure_) {
    failure_ = WriteResult::Failed(kind, kind == WriteFailure::kSystem ? (errno != 0 ? errno : EIO) : 0);
    buffer_.clear();
    // Cut off what follows the last whole frame (never extending the file when that frame
    // was still in the buffer): the headers claim no frames, and no partial chunk remains
    // that a forgiving reader might pick up.
    const std::uint64_t keep = committed_ < flushed_ ? committed_ : flushed_;
    if (fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(keep)) == 0) flushed_ = keep;
  }
  return failure_;
}

bool AviFile::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
    flushed_ += static_cast<std::uint64_t>(n);
  }
  buffer_.clear();
  return true;
}

bool AviFile::Put(const void* data, std::size_t size) {
  if (size >= kDirectWrite) {
    if (!Flush()) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const ssize_t n = ::write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = ENOSPC;
        return false;
      }
      p += n;
      size -= static_cast<std::size_t>(n);
      flushed_ += static_cast<std::uint64_t>(n);
    }
    return true;
  }
  if (buffer_.size() + size > kBufferSize && !Flush()) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  buffer_.insert(buffer_.end(), p, p + size);
  return true;
}

bool AviFile::WriteAt(std::uint64_t position, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
    position += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool AviFile::CloseSegment() {
  const bool first = segments_.empty() && riffStart_ == 0;
  std::vector<std::uint8_t> tail;
  Bytes b(&tail);
  const std::uint64_t here = flushed_ + buffer_.size();
  if (!entries_.empty()) {
    if (segments_.size() >= kSuperIndexEntries) return false;
    const std::size_t ix = b.Begin("ix00");
    b.U16(2);  // wLongsPerEntry
    b.U8(0);   // bIndexSubType
    b.U8(1);   // bIndexType: AVI_INDEX_OF_CHUNKS
    b.U32(static_cast<std::uint32_t>(entries_.size()));
    b.U32(kFrameChunk);
    b.U64(moviFourcc_);  // qwBaseOffset
    b.U32(0);
    for (const Entry& e : entries_) {
      b.U32(static_cast<std::uint32_t>(e.position + 8 - moviFourcc_));  // points at the data
      b.U32(e.size | (e.key ? 0 : kIndexEntryNotKey));
    }
    b.End(ix);
    segments_.push_back({here, static_cast<std::uint32_t>(tail.size()),
                         static_cast<std::uint32_t>(entries_.size())});
  }
  const std::uint64_t moviEnd = here + tail.size();
  const std::uint32_t moviSize = static_cast<std::uint32_t>(moviEnd - (moviFourcc_ - 4) - 4);
  if (first) {
    const std::size_t idx1 = b.Begin("idx1");
    for (const Entry& e : entries_) {
      b.U32(kFrameChunk);
      b.U32(e.key ? kAviifKeyFrame : 0);
      b.U32(static_cast<std::uint32_t>(e.position - moviFourcc_));
      b.U32(e.size);
    }
    b.End(idx1);
  }
  if (!Put(tail.data(), tail.size()) || !Flush()) return false;
  const std::uint32_t riffSize = static_cast<std::uint32_t>(flushed_ - riffStart_ - 8);
  if (first) {
    // Written with the final header, after everything else.
    firstRiffFrames_ = static_cast<std::uint32_t>(entries_.size());
    firstRiffSize_ = riffSize;
    firstMoviSize_ = moviSize;
    hasIdx1_ = true;
  } else {
    std::uint8_t size[4];
    PutU32(size, riffSize);
    if (!WriteAt(riffStart_ + 4, size, 4)) return false;
    PutU32(size, moviSize);
    if (!WriteAt(moviFourcc_ - 4, size, 4)) return false;
  }
  entries_.clear();
  return true;
}

bool AviFile::StartExtensionSegment() {
  std::vector<std::uint8_t> head;
  Bytes b(&head);
  riffStart_ = flushed_ + buffer_.size();
  b.Tag("RIFF");
  b.U32(0);  // set when the segment is closed
  b.Tag("AVIX");
  b.Tag("LIST");
  b.U32(0);
  b.Tag("movi");
  moviFourcc_ = riffStart_ + head.size() - 4;
  return Put(head.data(), head.size());
}

WriteResult AviFile::WriteFrame(const std::uint8_t* data, std::size_t size, bool keyFrame) {
  if (fd_ < 0) return WriteResult::Failed(WriteFailure::kSystem, EBADF);
  if (!failure_) return failure_;
  // An index entry holds the size in 31 bits; a segment must hold at least one frame.
  if (size > 0x7fffffffu || (size > 0 && !data)) return Fail(WriteFailure::kSizeLimit);
  const std::uint64_t padded = size + (size & 1);
  const std::uint64_t here = flushed_ + buffer_.size();
  const std::uint64_t indexes =
      24 + 8 * std::uint64_t{entries_.size() + 1} + (segments_.empty() ? 16 * std::uint64_t{entries_.size() + 1} : 0);
  if (!entries_.empty() && here - riffStart_ + 8 + padded + indexes + 16 > segmentLimit_) {
    if (segments_.size() + 1 >= kSuperIndexEntries) return Fail(WriteFailure::kSizeLimit);  // the super index is full
    if (!CloseSegment() || !StartExtensionSegment()) return Fail();
  }
  std::uint8_t head[8];
  PutU32(head, kFrameChunk);
  PutU32(head + 4, static_cast<std::uint32_t>(size));
  const std::uint64_t position = flushed_ + buffer_.size();
  static const std::uint8_t pad = 0;
  if (!Put(head, 8) || (size > 0 && !Put(data, size)) || ((size & 1) && !Put(&pad, 1))) return Fail();
  try {
    entries_.push_back({position, static_cast<std::uint32_t>(size), keyFrame});
  } catch (const std::bad_alloc&) {
    return Fail(WriteFailure::kNoMemory);
  }
  committed_ = position + 8 + padded;
  ++totalFrames_;
  if (size > largestChunk_) largestChunk_ = static_cast<std::uint32_t>(size);
  return WriteResult();
}

WriteResult AviFile::Finish() {
  if (fd_ < 0) return WriteResult::Failed(WriteFailure::kSystem, EBADF);
  if (failure_) {
    // Last of all: only now do the headers claim the frames, indexes and segments.
    bool ok = false;
    try {
      ok = CloseSegment() && Flush();
      if (ok) {
        const std::vector<std::uint8_t> header = BuildHeader();
        ok = WriteAt(0, header.data(), header.size());
      }
    } catch (const std::bad_alloc&) {
      Fail(WriteFailure::kNoMemory);
    }
    if (!ok) Fail();
  }
  const WriteResult finished = failure_;
  fd_ = -1;
  buffer_.clear();
  return finished;
}

void AviFile::Discard() {
  fd_ = -1;
  buffer_.clear();
}

}  // namespace zelvo
