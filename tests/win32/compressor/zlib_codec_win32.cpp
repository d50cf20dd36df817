// The test compressor: a Video for Windows compressor driver that takes 24-bit BI_RGB
// frames and writes them in the LCL "ZLIB" format, which ffmpeg's zlib decoder reads, so
// the end-to-end tests can decode every frame zelvo.exe compresses and compare its pixels.
// Wine offers no compressor that takes 24-bit frames; this one stands in for the codecs
// Windows users have. A test fixture: registered in the test prefix by the scripts, never
// shipped.
//
// Each frame is the canvas's bytes as they are (bottom-up rows padded to 4 bytes), deflated
// as one zlib stream at the level the quality gives. Every frame is a whole picture, but
// only the frames the compressing stream asks to be key frames are marked so, which lets a
// test see the key-frame rate arrive in the file's index.
//
// What the codec is handed is written, one line per event, to the file that the
// environment variable ZELVO_TEST_CODEC_LOG names (when set):
//   frames-info quality=Q keyrate=K datarate=BYTES_PER_SECOND rate=R scale=S
//   begin width=W height=H level=L
//   frame=N key=0|1 quality=Q request=BYTES size=BYTES       (or "frame=N failed")
//   end
// Two more variables make it misbehave on purpose: ZELVO_TEST_CODEC_FAIL_AT=N refuses to
// compress frame N, and ZELVO_TEST_CODEC_PAD=BYTES appends that many zero bytes to every
// frame (ffmpeg ignores them), so that a file grows large from small frames.
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>
#include <zlib.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const DWORD kFourcc = mmioFOURCC('Z', 'L', 'I', 'B');
constexpr LONG kDefaultQuality = 7500;
constexpr DWORD kDefaultKeyRate = 15;
// The LCL extradata after the bitmap header: image type RGB24 (2) at offset 4, the zlib
// level at 5, no flags at 6, codec ZLIB (3) at 7.
constexpr int kExtraBytes = 8;
constexpr std::uint64_t kLargestFrame = std::uint64_t{1} << 28;

struct Format {
  BITMAPINFOHEADER header;
  BYTE extra[kExtraBytes];
};

struct Instance {
  LONG quality = kDefaultQuality;  // from ICM_COMPRESS_FRAMES_INFO, for the format's level
  DWORD pad = 0;
  LONG failAt = -1;
  char log[MAX_PATH] = {};
};

DWORD EnvironmentNumber(const char* name, DWORD fallback) {
  char text[32] = {};
  const DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
  if (n == 0 || n >= sizeof text) return fallback;
  return static_cast<DWORD>(std::strtoul(text, nullptr, 10));
}

void Log(const Instance& codec, const char* format, ...) {
  if (codec.log[0] == '\0') return;
  char line[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line - 2, format, args);
  va_end(args);
  if (n <= 0) return;
  const std::size_t length = std::strlen(line);
  line[length] = '\n';
  // Appended whole at the end of the file, also when several instances write at once.
  const HANDLE file = CreateFileA(codec.log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(length + 1), &written, nullptr);
  CloseHandle(file);
}

// zlib levels 0 to 9 over the qualities 0 to 10000; the default quality for -1.
int LevelOf(LONG quality) {
  if (quality < 0) quality = kDefaultQuality;
  if (quality > ICQUALITY_HIGH) quality = ICQUALITY_HIGH;
  return static_cast<int>(quality * 9 / ICQUALITY_HIGH);
}

// The bytes of one uncompressed frame, or 0 for anything but a bottom-up 24-bit BI_RGB
// picture of a sane size.
std::uint64_t InputBytes(const BITMAPINFOHEADER* in) {
  if (in == nullptr || in->biCompression != BI_RGB || in->biBitCount != 24 || in->biPlanes != 1) return 0;
  if (in->biWidth <= 0 || in->biHeight <= 0) return 0;
  const std::uint64_t stride = (static_cast<std::uint64_t>(in->biWidth) * 24 + 31) / 32 * 4;
  const std::uint64_t bytes = stride * static_cast<std::uint64_t>(in->biHeight);
  return bytes <= kLargestFrame ? bytes : 0;
}

std::uint64_t OutputBound(const Instance& codec, std::uint64_t inputBytes) {
  return compressBound(static_cast<uLong>(inputBytes)) + codec.pad;
}

bool IsOurOutput(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  return out->biCompression == kFourcc && out->biWidth == in->biWidth && out->biHeight == in->biHeight;
}

LRESULT Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (InputBytes(in) == 0) return ICERR_BADFORMAT;
  if (out != nullptr && !IsOurOutput(in, out)) return ICERR_BADFORMAT;
  return ICERR_OK;
}

LRESULT GetFormat(const Instance& codec, const BITMAPINFOHEADER* in, Format* out) {
  if (out == nullptr) return sizeof(Format);
  if (InputBytes(in) == 0) return ICERR_BADFORMAT;
  std::memset(out, 0, sizeof *out);
  out->header = *in;
  // The header's size covers the extradata: readers find the frame data after it.
  out->header.biSize = sizeof(Format);
  out->header.biCompression = kFourcc;
  out->header.biSizeImage = static_cast<DWORD>(OutputBound(codec, InputBytes(in)));
  out->header.biClrUsed = 0;
  out->header.biClrImportant = 0;
  out->extra[4] = 2;
  out->extra[5] = static_cast<BYTE>(LevelOf(codec.quality));
  out->extra[7] = 3;
  return ICERR_OK;
}

LRESULT Compress(const Instance& codec, ICCOMPRESS* frame) {
  const std::uint64_t bytes = InputBytes(frame->lpbiInput);
  if (bytes == 0 || frame->lpOutput == nullptr || frame->lpbiOutput == nullptr) return ICERR_BADFORMAT;
  if (frame->lFrameNum == codec.failAt) {
    Log(codec, "frame=%ld failed", frame->lFrameNum);
    return ICERR_ERROR;
  }
  uLongf size = compressBound(static_cast<uLong>(bytes));
  const int level = LevelOf(static_cast<LONG>(frame->dwQuality));
  if (compress2(static_cast<Bytef*>(frame->lpOutput), &size, static_cast<const Bytef*>(frame->lpInput),
                static_cast<uLong>(bytes), level) != Z_OK) {
    return ICERR_ERROR;
  }
  std::memset(static_cast<BYTE*>(frame->lpOutput) + size, 0, codec.pad);
  const DWORD total = static_cast<DWORD>(size + codec.pad);
  frame->lpbiOutput->biSizeImage = total;
  const bool key = (frame->dwFlags & ICCOMPRESS_KEYFRAME) != 0;
  if (frame->lpdwFlags != nullptr) *frame->lpdwFlags = key ? AVIIF_KEYFRAME : 0;
  if (frame->lpckid != nullptr) *frame->lpckid = aviTWOCC('d', 'c');
  Log(codec, "frame=%ld key=%d quality=%ld request=%lu size=%lu", frame->lFrameNum, key ? 1 : 0,
      static_cast<LONG>(frame->dwQuality), frame->dwFrameSize, total);
  return ICERR_OK;
}

LRESULT FramesInfo(Instance& codec, const ICCOMPRESSFRAMES* info) {
  if (info == nullptr) return ICERR_BADPARAM;
  codec.quality = info->lQuality;
  Log(codec, "frames-info quality=%ld keyrate=%ld datarate=%ld rate=%lu scale=%lu", info->lQuality, info->lKeyRate,
      info->lDataRate, info->dwRate, info->dwScale);
  return ICERR_OK;
}

void FillInfo(ICINFO* info) {
  std::memset(info, 0, sizeof *info);
  info->dwSize = sizeof *info;
  info->fccType = ICTYPE_VIDEO;
  info->fccHandler = kFourcc;
  // Quality and "crunch" take a data rate; temporal takes a key-frame rate, and "fast
  // temporal" says it needs no earlier frame to compress one.
  info->dwFlags = VIDCF_QUALITY | VIDCF_CRUNCH | VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC | VIDCF_COMPRESSFRAMES;
  info->dwVersion = 1;
  info->dwVersionICM = ICVERSION;
  lstrcpyW(info->szName, L"ZLIB");
  lstrcpyW(info->szDescription, L"Zelvo test codec (LCL ZLIB)");
}

Instance* OpenInstance(ICOPEN* open) {
  if (open != nullptr && open->fccType != ICTYPE_VIDEO) return nullptr;
  Instance* codec = new (std::nothrow) Instance;
  if (codec == nullptr) return nullptr;
  codec->pad = EnvironmentNumber("ZELVO_TEST_CODEC_PAD", 0);
  if (codec->pad > kLargestFrame) codec->pad = 0;
  codec->failAt = static_cast<LONG>(EnvironmentNumber("ZELVO_TEST_CODEC_FAIL_AT", static_cast<DWORD>(-1)));
  const DWORD n = GetEnvironmentVariableA("ZELVO_TEST_CODEC_LOG", codec->log, sizeof codec->log);
  if (n >= sizeof codec->log) codec->log[0] = '\0';
  if (open != nullptr) open->dwError = ICERR_OK;
  return codec;
}

}  // namespace

extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2) {
  Instance* codec = reinterpret_cast<Instance*>(id);
  switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
      return DRV_OK;
    case DRV_OPEN:
      return reinterpret_cast<LRESULT>(OpenInstance(reinterpret_cast<ICOPEN*>(p2)));
    case DRV_CLOSE:
      delete codec;
      return DRV_OK;
    case DRV_QUERYCONFIGURE:
      return 0;  // no configuration dialog
    default:
      break;
  }
  if (codec == nullptr) return DefDriverProc(id, driver, message, p1, p2);
  switch (message) {
    case ICM_GETINFO:
      if (p1 == 0 || static_cast<DWORD>(p2) < sizeof(ICINFO)) return 0;
      FillInfo(reinterpret_cast<ICINFO*>(p1));
      return sizeof(ICINFO);
    case ICM_GETDEFAULTQUALITY:
      if (p1 == 0) return ICERR_BADPARAM;
      *reinterpret_cast<DWORD*>(p1) = kDefaultQuality;
      return ICERR_OK;
    case ICM_GETDEFAULTKEYFRAMERATE:
      if (p1 == 0) return ICERR_BADPARAM;
      *reinterpret_cast<DWORD*>(p1) = kDefaultKeyRate;
      return ICERR_OK;
    case ICM_GETSTATE:
      return 0;  // no settings of its own to keep
    case ICM_SETSTATE:
      return 0;
    case ICM_COMPRESS_QUERY:
      return Query(reinterpret_cast<const BITMAPINFOHEADER*>(p1), reinterpret_cast<const BITMAPINFOHEADER*>(p2));
    case ICM_COMPRESS_GET_FORMAT:
      return GetFormat(*codec, reinterpret_cast<const BITMAPINFOHEADER*>(p1), reinterpret_cast<Format*>(p2));
    case ICM_COMPRESS_GET_SIZE: {
      const std::uint64_t bytes = InputBytes(reinterpret_cast<const BITMAPINFOHEADER*>(p1));
      return bytes == 0 ? 0 : static_cast<LRESULT>(OutputBound(*codec, bytes));
    }
    case ICM_COMPRESS_FRAMES_INFO:
      return FramesInfo(*codec, reinterpret_cast<const ICCOMPRESSFRAMES*>(p1));
    case ICM_COMPRESS_BEGIN: {
      const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
      const LRESULT ok = Query(in, reinterpret_cast<const BITMAPINFOHEADER*>(p2));
      if (ok == ICERR_OK) {
        Log(*codec, "begin width=%ld height=%ld level=%d", in->biWidth, in->biHeight, LevelOf(codec->quality));
      }
      return ok;
    }
    case ICM_COMPRESS:
      return Compress(*codec, reinterpret_cast<ICCOMPRESS*>(p1));
    case ICM_COMPRESS_END:
      Log(*codec, "end");
      return ICERR_OK;
    default:
      return message >= DRV_USER ? ICERR_UNSUPPORTED : DefDriverProc(id, driver, message, p1, p2);
  }
}
