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
constexpr std::uint32_t kSoundChunk = MakeFourcc('0', '1', 'w', 'b');

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

void AviFile::AddStreamList(std::vector<std::uint8_t>* out, const StreamHeader& header,
                            const std::vector<std::uint8_t>& format, const Track& track,
                            const std::string* name) const {
  Bytes b(out);
  const std::size_t strl = b.Begin("LIST");
  b.Tag("strl");
  const std::size_t strh = b.Begin("strh");
  b.Tag(header.type);
  b.Fourcc(header.handler);
  b.U32(0);  // dwFlags
  b.U16(0);  // wPriority
  b.U16(0);  // wLanguage
  b.U32(0);  // dwInitialFrames
  b.U32(header.scale);
  b.U32(header.rate);
  b.U32(0);  // dwStart
  b.U32(header.length);
  b.U32(track.largestChunk);  // dwSuggestedBufferSize
  b.U32(0xffffffffu);         // dwQuality: the codec's default
  b.U32(header.sampleSize);
  b.U16(0);  // rcFrame: left, top, right, bottom
  b.U16(0);
  b.U16(header.width);
  b.U16(header.height);
  b.End(strh);
  const std::size_t strf = b.Begin("strf");
  b.Raw(format.data(), format.size());
  b.End(strf);
  AddSuperIndex(out, track);
  if (name) {
    const std::size_t strn = b.Begin("strn");
    b.Raw(name->c_str(), name->size() + 1);
    b.End(strn);
  }
  b.End(strl);
}

void AviFile::AddSuperIndex(std::vector<std::uint8_t>* out, const Track& track) const {
  Bytes b(out);
  const std::size_t indx = b.Begin("indx");
  b.U16(4);  // wLongsPerEntry
  b.U8(0);   // bIndexSubType
  b.U8(0);   // bIndexType: AVI_INDEX_OF_INDEXES
  b.U32(static_cast<std::uint32_t>(track.segments.size()));
  b.U32(track.chunkId);
  b.Zeros(12);
  for (std::uint32_t i = 0; i < kSuperIndexEntries; ++i) {
    if (i < track.segments.size()) {
      b.U64(track.segments[i].indexPosition);
      b.U32(track.segments[i].indexSize);
      b.U32(track.segments[i].duration);
    } else {
      b.Zeros(16);
    }
  }
  b.End(indx);
}

std::vector<std::uint8_t> AviFile::BuildHeader() const {
  const Track& video = tracks_[kVideo];
  const Track& sound = tracks_[kSound];
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
  std::uint64_t bytesPerSecond =
      stream_.scale ? std::uint64_t{video.largestChunk} * stream_.rate / stream_.scale : 0;
  if (hasSound_) bytesPerSecond += std::uint64_t{sound_.sampleRate} * sound_.blockAlign;
  b.U32(bytesPerSecond > 0xffffffffu ? 0xffffffffu : static_cast<std::uint32_t>(bytesPerSecond));
  b.U32(0);  // dwPaddingGranularity
  b.U32(hasIdx1_ ? kAvifHasIndex | kAvifIsInterleaved : 0);
  b.U32(firstRiffFrames_);   // frames an AVI 1.0 reader finds in the first RIFF
  b.U32(0);                  // dwInitialFrames
  b.U32(hasSound_ ? 2 : 1);  // dwStreams
  b.U32(video.largestChunk > sound.largestChunk ? video.largestChunk : sound.largestChunk);  // dwSuggestedBufferSize
  b.U32(static_cast<std::uint32_t>(stream_.width));
  b.U32(static_cast<std::uint32_t>(stream_.height));
  b.Zeros(16);
  b.End(avih);

  StreamHeader videoHeader;
  videoHeader.type = "vids";
  videoHeader.handler = stream_.handler;
  videoHeader.scale = stream_.scale;
  videoHeader.rate = stream_.rate;
  videoHeader.length = video.ticks;
  videoHeader.width = static_cast<std::uint16_t>(stream_.width);
  videoHeader.height = static_cast<std::uint16_t>(stream_.height);
  AddStreamList(&out, videoHeader, stream_.format, video, &stream_.name);
  if (hasSound_) {
    StreamHeader soundHeader;
    soundHeader.type = "auds";
    soundHeader.handler = sound_.formatTag;
    soundHeader.scale = 1;  // one tick per sample
    soundHeader.rate = sound_.sampleRate;
    soundHeader.length = sound.ticks;
    soundHeader.sampleSize = sound_.blockAlign;
    AddStreamList(&out, soundHeader, sound_.format, sound, nullptr);
  }

  const std::size_t odml = b.Begin("LIST");
  b.Tag("odml");
  const std::size_t dmlh = b.Begin("dmlh");
  b.U32(video.ticks);
  b.Zeros(kDmlhSize - 4);
  b.End(dmlh);
  b.End(odml);
  b.End(hdrl);

  b.Tag("LIST");
  b.U32(firstMoviSize_);
  b.Tag("movi");
  return out;
}

WriteResult AviFile::Create(int fd, const AviVideoStream& stream, const AviSoundStream* sound) {
  Discard();
  if (fd < 0 || stream.width <= 0 || stream.height <= 0 || stream.scale == 0 || stream.rate == 0 ||
      stream.format.size() > 0x10000 || stream.name.size() > 0x10000 ||
      (sound && (sound->sampleRate == 0 || sound->blockAlign == 0 || sound->format.size() > 0x10000))) {
    return WriteResult::Failed(WriteFailure::kSystem, EINVAL);
  }
  stream_ = stream;
  hasSound_ = sound != nullptr;
  sound_ = sound ? *sound : AviSoundStream();
  failure_ = WriteResult();
  entries_.clear();
  tracks_[kVideo] = Track();
  tracks_[kVideo].chunkId = kFrameChunk;
  tracks_[kSound] = Track();
  tracks_[kSound].chunkId = kSoundChunk;
  closedSegments_ = 0;
  firstRiffFrames_ = firstRiffSize_ = firstMoviSize_ = 0;
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

std::uint64_t AviFile::IndexBytesWith(Stream stream) const {
  std::uint64_t counts[2] = {0, 0};
  for (const Entry& e : entries_) ++counts[e.stream];
  ++counts[stream];
  std::uint64_t bytes = 0;
  for (std::uint64_t n : counts) {
    if (n > 0) bytes += 8 + 24 + 8 * n;  // ix0N
  }
  if (closedSegments_ == 0) bytes += 8 + 16 * (counts[0] + counts[1]);  // idx1
  return bytes;
}

bool AviFile::CloseSegment() {
  const bool first = closedSegments_ == 0;
  std::vector<std::uint8_t> tail;
  Bytes b(&tail);
  const std::uint64_t here = flushed_ + buffer_.size();
  for (Stream stream : {kVideo, kSound}) {
    Track& track = tracks_[stream];
    std::uint32_t count = 0;
    std::uint64_t duration = 0;
    for (const Entry& e : entries_) {
      if (e.stream != stream) continue;
      ++count;
      duration += stream == kVideo ? 1 : e.size / sound_.blockAlign;
    }
    if (count == 0) continue;
    if (track.segments.size() >= kSuperIndexEntries) return false;
    const std::size_t at = tail.size();
    const std::size_t ix = b.Begin(stream == kVideo ? "ix00" : "ix01");
    b.U16(2);  // wLongsPerEntry
    b.U8(0);   // bIndexSubType
    b.U8(1);   // bIndexType: AVI_INDEX_OF_CHUNKS
    b.U32(count);
    b.U32(track.chunkId);
    b.U64(moviFourcc_);  // qwBaseOffset
    b.U32(0);
    for (const Entry& e : entries_) {
      if (e.stream != stream) continue;
      b.U32(static_cast<std::uint32_t>(e.position + 8 - moviFourcc_));  // points at the data
      b.U32(e.size | (e.key ? 0 : kIndexEntryNotKey));
    }
    b.End(ix);
    track.segments.push_back(
        {here + at, static_cast<std::uint32_t>(tail.size() - at), static_cast<std::uint32_t>(duration)});
  }
  const std::uint64_t moviEnd = here + tail.size();
  const std::uint32_t moviSize = static_cast<std::uint32_t>(moviEnd - (moviFourcc_ - 4) - 4);
  std::uint32_t frames = 0;
  if (first) {
    const std::size_t idx1 = b.Begin("idx1");
    for (const Entry& e : entries_) {
      b.U32(tracks_[e.stream].chunkId);
      b.U32(e.key ? kAviifKeyFrame : 0);
      b.U32(static_cast<std::uint32_t>(e.position - moviFourcc_));
      b.U32(e.size);
      if (e.stream == kVideo) ++frames;
    }
    b.End(idx1);
  }
  if (!Put(tail.data(), tail.size()) || !Flush()) return false;
  const std::uint32_t riffSize = static_cast<std::uint32_t>(flushed_ - riffStart_ - 8);
  if (first) {
    // Written with the final header, after everything else.
    firstRiffFrames_ = frames;
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
  ++closedSegments_;
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
  return WriteChunk(kVideo, data, size, keyFrame, 1);
}

WriteResult AviFile::WriteSound(const std::uint8_t* data, std::size_t size) {
  if (fd_ >= 0 && (!hasSound_ || size % sound_.blockAlign != 0)) return WriteResult::Failed(WriteFailure::kSystem, EINVAL);
  return WriteChunk(kSound, data, size, true, hasSound_ ? static_cast<std::uint32_t>(size / sound_.blockAlign) : 0);
}

WriteResult AviFile::WriteChunk(Stream stream, const std::uint8_t* data, std::size_t size, bool key,
                                std::uint32_t ticks) {
  if (fd_ < 0) return WriteResult::Failed(WriteFailure::kSystem, EBADF);
  if (!failure_) return failure_;
  Track& track = tracks_[stream];
  // An index entry holds the size in 31 bits, a stream's length its ticks in 32; a segment
  // must hold at least one chunk.
  if (size > 0x7fffffffu || (size > 0 && !data) || ticks > 0xffffffffu - track.ticks) {
    return Fail(WriteFailure::kSizeLimit);
  }
  const std::uint64_t padded = size + (size & 1);
  const std::uint64_t here = flushed_ + buffer_.size();
  if (!entries_.empty() && here - riffStart_ + 8 + padded + IndexBytesWith(stream) > segmentLimit_) {
    if (closedSegments_ + 1 >= kSuperIndexEntries) return Fail(WriteFailure::kSizeLimit);  // the super index is full
    if (!CloseSegment() || !StartExtensionSegment()) return Fail();
  }
  std::uint8_t head[8];
  PutU32(head, track.chunkId);
  PutU32(head + 4, static_cast<std::uint32_t>(size));
  const std::uint64_t position = flushed_ + buffer_.size();
  static const std::uint8_t pad = 0;
  if (!Put(head, 8) || (size > 0 && !Put(data, size)) || ((size & 1) && !Put(&pad, 1))) return Fail();
  try {
    entries_.push_back({position, static_cast<std::uint32_t>(size), key, stream});
  } catch (const std::bad_alloc&) {
    return Fail(WriteFailure::kNoMemory);
  }
  committed_ = position + 8 + padded;
  track.ticks += ticks;
  if (size > track.largestChunk) track.largestChunk = static_cast<std::uint32_t>(size);
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
