#pragma once
// The project's own AVI container writer for the Linux build: one video stream, and
// optionally a sound track of PCM, in a RIFF AVI file with an idx1 index, extended by
// OpenDML (AVI 2.0: an 'indx' super index per stream, one 'ix00' (video) and 'ix01'
// (sound) chunk index per RIFF, 'dmlh', RIFF 'AVIX' segments after the first ~1 GiB) so
// that files beyond 2 and 4 GiB keep both streams readable. Every header is written field
// by field in little-endian.
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

// A sound track of PCM, as WAVE files hold it: one tick of the stream per sample.
struct AviSoundStream {
  std::uint16_t formatTag = 1;       // strh fccHandler: WAVE_FORMAT_PCM, as the format says
  std::uint32_t sampleRate = 0;      // dwRate (dwScale 1)
  std::uint32_t blockAlign = 0;      // bytes of one sample of every channel: dwSampleSize
  std::vector<std::uint8_t> format;  // strf: the WAVEFORMATEX
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
  // closes it. `sound` (may be null) adds a second stream. kSystem with EINVAL when a
  // stream description is unusable; kSystem when the headers cannot be written. Nothing is
  // held on a failure.
  WriteResult Create(int fd, const AviVideoStream& stream, const AviSoundStream* sound = nullptr);
  // Appends one frame as a '00dc' chunk. On a failure the file keeps only the chunks before
  // it, and every later call fails the same way.
  WriteResult WriteFrame(const std::uint8_t* data, std::size_t size, bool keyFrame);
  // Appends whole samples of the sound track as a '01wb' chunk (`size` a multiple of the
  // block size); fails as WriteFrame does. kSystem with EINVAL without a sound stream or
  // for a part of a sample.
  WriteResult WriteSound(const std::uint8_t* data, std::size_t size);
  // Writes the indexes, then the final headers. On a failure here or earlier the headers
  // still claim no frames.
  WriteResult Finish();
  // Lets go of the file without completing it.
  void Discard();

  bool is_open() const { return fd_ >= 0; }
  std::uint32_t frames() const { return tracks_[kVideo].ticks; }
  std::uint32_t soundSamples() const { return tracks_[kSound].ticks; }
  // For tests and tools: a smaller segment size shows the AVIX machinery on small files.
  void set_segment_limit(std::uint64_t bytes) { segmentLimit_ = bytes; }

 private:
  enum Stream : std::uint8_t { kVideo = 0, kSound = 1 };
  struct Entry {
    std::uint64_t position;  // absolute offset of the chunk header
    std::uint32_t size;
    bool key;
    Stream stream;
  };
  struct Segment {
    std::uint64_t indexPosition;  // absolute offset of the stream's ix0N chunk
    std::uint32_t indexSize;      // whole chunk with header
    std::uint32_t duration;       // the stream's ticks (frames, samples) it indexes
  };
  // What each stream has written: its super index entries, ticks and largest chunk.
  struct Track {
    std::uint32_t chunkId = 0;  // '00dc', '01wb'
    std::vector<Segment> segments;
    std::uint32_t ticks = 0;
    std::uint32_t largestChunk = 0;
  };

  // The fields of a stream's strh that differ between the streams.
  struct StreamHeader {
    const char* type = "vids";  // fccType
    std::uint32_t handler = 0;
    std::uint32_t scale = 1;
    std::uint32_t rate = 1;
    std::uint32_t length = 0;
    std::uint32_t sampleSize = 0;
    std::uint16_t width = 0;  // rcFrame's right and bottom
    std::uint16_t height = 0;
  };

  std::vector<std::uint8_t> BuildHeader() const;
  // Appends a stream's strl list: strh, strf, its super index and, when given, strn.
  void AddStreamList(std::vector<std::uint8_t>* out, const StreamHeader& header, const std::vector<std::uint8_t>& format,
                     const Track& track, const std::string* name) const;
  // Appends the stream's 'indx' chunk at its full reserved size, so the header keeps its
  // length whatever number of segments the file ends with.
  void AddSuperIndex(std::vector<std::uint8_t>* out, const Track& track) const;
  // Bytes the current segment's indexes take once one more chunk of `stream` is added.
  std::uint64_t IndexBytesWith(Stream stream) const;
  WriteResult WriteChunk(Stream stream, const std::uint8_t* data, std::size_t size, bool key, std::uint32_t ticks);
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
  AviSoundStream sound_;
  bool hasSound_ = false;
  std::uint64_t segmentLimit_ = kDefaultSegmentLimit;

  std::vector<std::uint8_t> buffer_;
  std::uint64_t flushed_ = 0;    // bytes on disk
  std::uint64_t committed_ = 0;  // end of the last complete frame chunk

  std::uint64_t riffStart_ = 0;   // 'RIFF' of the current segment
  std::uint64_t moviFourcc_ = 0;  // 'movi' of the current segment: index offsets count from here
  std::vector<Entry> entries_;    // chunks of the current segment, in file order
  Track tracks_[2];
  std::uint32_t closedSegments_ = 0;
  std::uint32_t firstRiffFrames_ = 0;
  std::uint32_t firstRiffSize_ = 0;
  std::uint32_t firstMoviSize_ = 0;
  bool hasIdx1_ = false;
};

}  // namespace zelvo
