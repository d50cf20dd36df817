#pragma once
// One image file through one libavcodec decoder: the whole file is one packet, the
// decoder's picture becomes a bottom-up 24-bit BGR packed DIB through libswscale, as
// ffmpeg converts it. Alpha is dropped, deeper samples are brought to 8 bits, OpenEXR's
// linear light is shown as sRGB and a JPEG's EXIF orientation is applied.
#include <cstdarg>
#include <cstdint>
#include <string>

#include "image/frame_read.h"
#include "image/packed_dib.h"

namespace zelvo {

// Files longer than this are refused before they are read: no frame of a video needs one.
constexpr std::uint64_t kMaxImageFileBytes = kMaxDibBlock;
// The largest picture a decoder may allocate, in bytes of its own pixel format (a 16-bit
// RGBA or a float picture takes several times the 24-bit frame), and in pixels: the
// frame it becomes must fit kMaxDibBlock. Both are checked before the memory is taken.
constexpr std::uint64_t kMaxDecodedBytes = kMaxDibBlock;
constexpr std::int64_t kMaxDecodedPixels = static_cast<std::int64_t>(kMaxDibBlock / 3);

// libav's log callback, which LoadLibav installs: drops what decoders say while a frame
// is read on that thread, keeps error lines for a KeptLibavLines there, and passes other
// lines on to libav's own output.
void LibavLogFilter(void* object, int level, const char* form, std::va_list args);

// While one lives, the error lines libav logs on the calling thread (an encoder that
// refuses its settings) are kept instead of printed: the program says them in its own
// message, which names the frame and the codec.
class KeptLibavLines {
 public:
  KeptLibavLines();
  ~KeptLibavLines();
  KeptLibavLines(const KeptLibavLines&) = delete;
  KeptLibavLines& operator=(const KeptLibavLines&) = delete;
  // The last error line, without its end of line; empty when none was logged.
  const std::string& Last() const { return last_; }

 private:
  friend void KeepLibavLine(const std::string& line);
  std::string last_;
  KeptLibavLines* outer_;
};

// Reads `frame` with libavcodec's decoder `codecId` (an AVCodecID), from its open file;
// kNoDecoder when libavcodec cannot be loaded or has no such decoder.
// The decoder runs on the calling thread (frames are read on several threads at once) and
// says nothing on the terminal: its failures come back as FrameRead::failure. Once the
// decoder knows the picture's size, and before it takes memory for it, frame.budget is
// asked for what the read holds (FrameRead::bytes): the 24-bit block and the decoder's own
// picture. A header read hands out a block of the 40-byte header alone (the picture's size,
// 24 bits): the decoders hand out no size without the picture, so the picture is decoded
// and the memory the calling thread keeps for its next frame let go, as a header is read on
// a thread that reads no frames afterwards when readers read ahead. Its result is kept for
// the next header read of the same unchanged file.
FrameRead ReadWithLibav(int codecId, const FrameSource& frame);

// Why ReadWithLibav failed a frame with kNoDecoder, in the user's language: libavcodec
// cannot be loaded (naming the library and the system's reason), or lacks the decoder.
std::string DescribeMissingDecoder();

}  // namespace zelvo
