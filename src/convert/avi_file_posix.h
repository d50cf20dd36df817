#pragma once
// The project's own AVI container writer for the Linux build: one video stream in a RIFF
// AVI file with an idx1 index, extended by OpenDML (AVI 2.0: an 'indx' super index, one
// 'ix00' chunk index per RIFF, 'dmlh', RIFF 'AVIX' segments after the first ~1 GiB) so
// that files beyond 2 and 4 GiB stay readable. Every header is written field by field in
// little-endian.
//
// The headers at the start of the file claim zero frames until Finish has written every
// frame and index; they are rewritten last, so a file left by a failed or interrupted
// writer never claims frames it does not hold.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/frame_writer.h"

namespace zelvo {

constexpr std::uint32_t MakeFourcc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

struct AviVideoStream {
  std::uint32_t handler = MakeFourcc('D', 'I', 'B', ' ');  // strh fccHandler
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t scale = 1000;  // dwScale, as given: never reduced
  std::uint32_t rate = 15000;  // dwRate, as given
  std::vector<std::uint8_t> format;  // strf: BITMAPINFOHEADER plus any codec data
  std::string name = "VIDEO";        // strn
};

class AviFile {
 public:
  // The first RIFF is closed once it would pass this size; every AVIX segment as well.
  static constexpr std::uint64_t kDefaultSegmentLimit = std::uint64_t{1} << 30;
  // Room reserved in the super index: 256 segments of ~1 GiB.
  static constexpr std::uint32_t kSuperIndexEntries = 256;

  AviFile() = default;
  AviFile(const AviFile&) = delete;
  AviFile& operator=(const AviFile&) = delete;

  // Starts the movie in the empty file open as `fd` (for writing, at offset 0), which
  // stays its owner's: the writer writes through it until Finish or Discard and never
  // closes it. kSystem with EINVAL when the stream description is unusable; kSystem when
  // the headers cannot be written. Nothing is held on a failure.
  WriteResult Create(int fd, const AviVideoStream& stream);
  // Appends one frame as a '00dc' chunk. On a failure the file keeps only the frames before
  // it, and every later call fails the same way.
  WriteResult WriteFrame(const std::uint8_t* data, std::size_t size, bool keyFrame);
  // Writes the indexes, then the final headers. On a failure here or earlier the headers
  // still claim no frames.
  WriteResult Finish();
  // Lets go of the file without completing it.
  void Discard();

  bool is_open() const { return fd_ >= 0; }
  std::uint32_t frames() const { return totalFrames_; }
  // For tests and tools: a smaller segment size shows the AVIX machinery on small files.
  void set_segment_limit(std::uint64_t bytes) { segmentLimit_ = bytes; }

 private:
  struct Entry {
    std::uint64_t position;  // absolute offset of the chunk header
    std::uint32_t size;
    bool key;
  };
  struct Segment {
    std::uint64_t indexPosition;  // absolute offset of its ix00 chunk
    std::uint32_t indexSize;      // whole ix00 chunk with header
    std::uint32_t frames;
  };

  std::vector<std::uint8_t> BuildHeader() const;
  bool Put(const void* data, std::size_t size);
  bool Flush();
  bool WriteAt(std::uint64_t position, const void* data, std::size_t size);
  bool CloseSegment();
  bool StartExtensionSegment();
  // Records the first failure (`kind`, the errno value for kSystem) and cuts the file back
  // to its last whole frame; returns the failure.
  WriteResult Fail(WriteFailure kind = WriteFailure::kSystem);

  int fd_ = -1;  // the owner's descriptor, written through while a movie is under way
  WriteResult failure_;
  AviVideoStream stream_;
  std::uint64_t segmentLimit_ = kDefaultSegmentLimit;

  std::vector<std::uint8_t> buffer_;
  std::uint64_t flushed_ = 0;    // bytes on disk
  std::uint64_t committed_ = 0;  // end of the last complete frame chunk

  std::uint64_t riffStart_ = 0;   // 'RIFF' of the current segment
  std::uint64_t moviFourcc_ = 0;  // 'movi' of the current segment: index offsets count from here
  std::vector<Entry> entries_;    // frames of the current segment
  std::vector<Segment> segments_;
  std::uint32_t firstRiffFrames_ = 0;
  std::uint32_t firstRiffSize_ = 0;
  std::uint32_t firstMoviSize_ = 0;
  std::uint32_t totalFrames_ = 0;
  std::uint32_t largestChunk_ = 0;
  bool hasIdx1_ = false;
};

}  // namespace zelvo
