#include "convert/avi_saver_win32.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/path_buffer.h"
#include "platform/window_win32.h"

namespace zelvo {

namespace {

const char kCaption[] = "AviSaver";
const char kNoCanvas[] = "HBITMAPが作れませんでした。";

void ShowFailure(HWND owner, const char* text) { OwnedMessageBox(owner, text, kCaption, MB_OK); }

// Kilobytes per second (the dialog's unit, 1 KB = 1024 bytes) to the bytes per second
// that the compressing stream aims at; saturates instead of wrapping.
DWORD BytesPerSecond(LONG kilobytes) {
  if (kilobytes <= 0) return 0;
  const std::uint64_t bytes = static_cast<std::uint64_t>(kilobytes) * 1024u;
  return bytes > 0xffffffffu ? 0xffffffffu : static_cast<DWORD>(bytes);
}

// What a finished file holds besides its frame chunks, at most: the headers (AVIFile pads
// them to 2 KiB; room is left for a codec's format and state) and the index's own header.
constexpr std::uint64_t kFileOverhead = 64 * 1024;

// What one frame of `bytes` adds to the finished file: its chunk header, its data padded
// to an even length, and its 16-byte entry in the index written at the end.
std::uint64_t FrameFileBytes(std::uint64_t bytes) { return 8 + bytes + (bytes & 1) + 16; }

// BITMAPINFO with room for a full 8-bit colour table.
struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

// The 40 bytes of the portable header as GDI and AVIFile take them.
BITMAPINFOHEADER ToBitmapInfoHeader(const DibHeader& header) {
  static_assert(sizeof(BITMAPINFOHEADER) == kDibHeaderSize, "BITMAPINFOHEADER is the 40-byte header");
  std::uint8_t bytes[kDibHeaderSize];
  StoreDibHeader(bytes, header);
  BITMAPINFOHEADER out;
  std::memcpy(&out, bytes, sizeof out);
  return out;
}

// The AVI file handler (CLSID_AVIFile; mingw declares it, but no import library defines
// it). Named explicitly, so that the handler never follows the file name's extension: a
// temporary name near the path limit has none, and ".wav" or ".au" would pick the
// handler of sound files, in which no video stream can be created.
const CLSID kAviFileHandler = {0x00020000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// AVIFile's file layer (mmioOpen) takes names of at most 127 characters. A longer path
// of an existing file (the job creates its temporary file before the writer opens it) is
// given by its short 8.3 form where the file system keeps one; `name` holds kPathSize
// bytes.
void OpenableName(const char* path, char* name) {
  constexpr std::size_t kMmioNameLimit = 128;
  std::snprintf(name, kPathSize, "%s", path);
  if (std::strlen(path) < kMmioNameLimit) return;
  char shortName[kPathSize];
  const DWORD n = GetShortPathNameA(path, shortName, sizeof shortName);
  if (n > 0 && n < std::strlen(path)) std::memcpy(name, shortName, n + 1);
}

}  // namespace

BOOL ChooseCompressorDialog(HWND owner, BITMAPINFOHEADER* format, COMPVARS* compressor) {
  KeepOwnerDisabled keep(owner);
  return ICCompressorChoose(owner, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, format, nullptr, compressor,
                            nullptr);
}

int AviSaver::LibraryUses() { return AviFileLibrary::Count(); }

AviSaver::~AviSaver() { Close(); }

bool AviSaver::Open(int width, int height, const char* path, int scale, int rate) {
  return Open(owner_, width, height, path, scale, rate) != nullptr;
}

HDC AviSaver::Open(HWND owner, int width, int height, const char* path, int scale, int rate) {
  Close();
  if (!SetFrameFormat(width, height, scale, rate)) {
    // No canvas of that size can exist: refuse before the dialog and before any file.
    ShowFailure(owner, kNoCanvas);
    return nullptr;
  }
  // Declared so that a failing step releases what the steps before it acquired as Close
  // does: the streams and the file, then the canvas, then the library.
  AviFileLibrary library = AviFileLibrary::Begin();
  DibSection bitmap;
  MemoryDc memoryDc;
  AviFile file;
  AviStream stream;
  AviStream compressed;
  if (!ChooseCodec(owner)) return nullptr;
  try {
    path_ = path;
  } catch (const std::bad_alloc&) {
    path_.clear();
  }
  if (!OpenStreams(owner, path, &file, &stream, &compressed) || !CreateCanvas(owner, &bitmap, &memoryDc)) {
    return nullptr;
  }
  library_ = std::move(library);
  bitmap_ = std::move(bitmap);
  memoryDc_ = std::move(memoryDc);
  file_ = std::move(file);
  stream_ = std::move(stream);
  compressedStream_ = std::move(compressed);
  return memoryDc_.get();
}

bool AviSaver::SetFrameFormat(int width, int height, int scale, int rate) {
  // A top-down first frame arrives with a negative height; the stream always holds
  // bottom-up rows of the picture's true height, never a negative frame size.
  DibGeometry geometry;
  if (width <= 0 || height == 0 || !CheckedDibGeometry(width, height, 24, &geometry)) return false;
  frameWidth_ = width;
  frameHeight_ = static_cast<int>(geometry.rows);
  frameBytes_ = static_cast<int>(geometry.bytes);
  format_ = ToBitmapInfoHeader(MakeDibHeader(frameWidth_, frameHeight_, 24, static_cast<std::uint32_t>(frameBytes_)));

  streamInfo_ = {};
  streamInfo_.fccType = streamtypeVIDEO;
  streamInfo_.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
  streamInfo_.dwScale = static_cast<DWORD>(scale);
  streamInfo_.dwRate = static_cast<DWORD>(rate);
  streamInfo_.dwQuality = static_cast<DWORD>(-1);
  SetRect(&streamInfo_.rcFrame, 0, 0, frameWidth_, frameHeight_);
  std::strcpy(streamInfo_.szName, "VIDEO");
  return true;
}

bool AviSaver::ChooseCodec(HWND owner) {
  // Full frames preselected, so accepting the dialog as it opens writes uncompressed video.
  compressor_ = {};
  compressor_.cbSize = sizeof(COMPVARS);
  compressor_.dwFlags = ICMF_COMPVARS_VALID;
  compressor_.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
  compressor_.lQ = ICQUALITY_DEFAULT;
  if (!chooser_(owner, &format_, &compressor_)) return false;

  streamInfo_.fccHandler = compressor_.fccHandler;
  compressOptions_ = {};
  compressOptions_.fccType = streamtypeVIDEO;
  compressOptions_.fccHandler = compressor_.fccHandler;
  compressOptions_.dwKeyFrameEvery = static_cast<DWORD>(compressor_.lKey);
  compressOptions_.dwQuality = static_cast<DWORD>(compressor_.lQ);
  compressOptions_.dwBytesPerSecond = BytesPerSecond(compressor_.lDataRate);
  compressOptions_.dwFlags = (compressor_.lDataRate > 0 ? AVICOMPRESSF_DATARATE : 0) |
                             (compressor_.lKey > 0 ? AVICOMPRESSF_KEYFRAMES : 0);
  compressOptions_.lpFormat = nullptr;
  compressOptions_.cbFormat = 0;
  compressOptions_.lpParms = compressor_.lpState;
  compressOptions_.cbParms = static_cast<DWORD>(compressor_.cbState);
  compressOptions_.dwInterleaveEvery = 0;
  return true;
}

bool AviSaver::OpenStreams(HWND owner, const char* path, AviFile* file, AviStream* stream, AviStream* compressed) {
  char name[kPathSize];
  OpenableName(path, name);
  CLSID handler = kAviFileHandler;  // AVIFileOpenA takes a pointer to a modifiable CLSID
  if (AVIFileOpenA(file->receive(), name, OF_CREATE | OF_SHARE_EXCLUSIVE | OF_WRITE, &handler) != 0) {
    file->release();  // a failed open leaves no file to release
    ShowFailure(owner, "保存するファイルが開けませんでした。");
    return false;
  }
  if (AVIFileCreateStreamA(file->get(), stream->receive(), &streamInfo_) != 0) {
    stream->release();
    ShowFailure(owner, "編集用ストリームが作られませんでした。");
    return false;
  }
  AVICOMPRESSOPTIONS options = compressOptions_;  // the call may adjust its copy
  if (AVIMakeCompressedStream(compressed->receive(), stream->get(), &options, nullptr) != 0) {
    compressed->release();
    ShowFailure(owner, "圧縮ストリームの作成に失敗しました。");
    return false;
  }
  if (AVIStreamSetFormat(compressed->get(), 0, &format_, sizeof(format_)) != 0) {
    ShowFailure(owner, "ストリームのフォーマットを設定するのに失敗しました。");
    return false;
  }
  return true;
}

bool AviSaver::CreateCanvas(HWND owner, DibSection* bitmap, MemoryDc* memoryDc) {
  WindowDc windowDc(owner);
  if (!windowDc) {
    ShowFailure(owner, "HDCが取得できませんでした。");
    return false;
  }
  *memoryDc = MemoryDc(CreateCompatibleDC(windowDc.get()));
  if (!*memoryDc) {
    ShowFailure(owner, "メモリDCが作れませんでした。");
    return false;
  }
  if (!windowDc.reset()) {
    ShowFailure(owner, "HDCを開放できませんでした。");
    return false;
  }
  *bitmap = DibSection::Create(memoryDc->get(), reinterpret_cast<const BITMAPINFO*>(&format_));
  if (!*bitmap) {
    ShowFailure(owner, kNoCanvas);
    return false;
  }
  memoryDc->Select(bitmap->get());
  return true;
}

// The compressed stream, the stream and the file, in that order; true when a file was
// held (it is complete on disk after its release).
bool AviSaver::ReleaseStreamsAndFile() {
  compressedStream_.reset();
  stream_.reset();
  if (!file_) return false;
  file_.reset();
  return true;
}

bool AviSaver::WriteFrame() {
  void* bits = bitmap_.bits();
  if (!stream_ || !compressedStream_ || bits == nullptr) return false;
  // GDI may still hold drawing calls in its batch; the section's memory must show them.
  GdiFlush();
  const LONG n = nextFrame_;
  nextFrame_ = n + 1;  // a failed write still uses up its index
  // The size limit. Full frames are stored as they are, so the next frame's size is known
  // and the frame that would pass the limit is refused before anything of it is written.
  // A compressor's output size is known only once it has compressed the frame: the
  // frame is checked before with nothing for its data, and after the write with the size
  // the stream reports; a frame that passed the limit then is refused all the same (the
  // job discards the file, so the bytes written past it never reach the output).
  if (pastSizeLimit_) return false;
  const bool fullFrames = compressOptions_.fccHandler == mmioFOURCC('D', 'I', 'B', ' ');
  const std::uint64_t expected = fullFrames ? static_cast<std::uint64_t>(frameBytes_) : 0;
  if (finishedBytes_ + FrameFileBytes(expected) > sizeLimit_) {
    pastSizeLimit_ = true;
    return false;
  }
  // Full frames are key frames each. A compressor's frame is one only where the compressing
  // stream asked it for one (every dwKeyFrameEvery frames): the stream adds the flag to the
  // index itself, and a flag given here would mark every frame as a key frame, so that a
  // player seeking to one that needs the frames before it would show garbage.
  const DWORD keyFrame = fullFrames ? AVIIF_KEYFRAME : 0;
  LONG written = 0;
  if (AVIStreamWrite(compressedStream_.get(), n, 1, bits, frameBytes_, keyFrame, nullptr, &written) != 0) {
    return false;
  }
  // The bytes the file holds for this frame, asked of the file's own stream: a
  // compressing stream reports 1 (one sample) under Wine, not the size it produced.
  LONG inFile = 0;
  if (AVIStreamRead(stream_.get(), n, 1, nullptr, 0, &inFile, nullptr) == 0 && inFile > written) written = inFile;
  const std::uint64_t stored = static_cast<std::uint64_t>(written > 0 ? written : 0);
  acceptedBytes_ += stored + 8;  // data and chunk header
  finishedBytes_ += FrameFileBytes(stored);
  if (finishedBytes_ > sizeLimit_) {
    pastSizeLimit_ = true;
    return false;
  }
  return true;
}

bool AviSaver::Close() {
  bool complete = true;
  if (ReleaseStreamsAndFile()) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data)) {
      const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      complete = size >= acceptedBytes_;
    } else {
      complete = false;
    }
  }
  memoryDc_.reset();  // gives the bitmap back before the DC goes
  bitmap_.reset();
  // Frees the codec instance and the state the dialog allocated; harmless on a cleared
  // record (the constructor's, or one freed before).
  ICCompressorFree(&compressor_);
  compressor_ = {};
  nextFrame_ = 0;
  acceptedBytes_ = 0;
  finishedBytes_ = kFileOverhead;
  pastSizeLimit_ = false;
  path_.clear();
  library_.reset();
  return complete;
}

int AviSaver::DrawPackedDib(const PackedDib& image) {
  if (!memoryDc_) return 1;
  return zelvo::DrawPackedDib(memoryDc_.get(), image);
}

namespace {

// The canvas bitmap's size, from the bitmap selected into `canvas`.
bool CanvasSize(HDC canvas, int* width, int* height) {
  BITMAP bitmap = {};
  HGDIOBJ target = GetCurrentObject(canvas, OBJ_BITMAP);
  if (target == nullptr || GetObjectA(target, sizeof(bitmap), &bitmap) == 0) return false;
  *width = bitmap.bmWidth;
  *height = bitmap.bmHeight < 0 ? -bitmap.bmHeight : bitmap.bmHeight;
  return true;
}

// Blackens what a frame of columns x rows (from the top left) leaves uncovered, so that
// no pixel of an earlier, larger frame shows through a smaller one.
void ClearUncovered(HDC canvas, int columns, int rows) {
  int width = 0, height = 0;
  if (!CanvasSize(canvas, &width, &height)) return;
  if (columns < width) PatBlt(canvas, columns, 0, width - columns, rows < height ? rows : height, BLACKNESS);
  if (rows < height) PatBlt(canvas, 0, rows, width, height - rows, BLACKNESS);
}

// GDI has no 2-bit DIBs: the indices are widened to bytes with the same table. Only the
// part that lands on the canvas is converted. False when the memory cannot be had.
bool WidenTwoBitRows(HDC canvas, const DibView& view, std::vector<std::uint8_t>* widened, int* drawWidth,
                     std::int64_t* drawRows) {
  int canvasWidth = 0, canvasHeight = 0;
  if (CanvasSize(canvas, &canvasWidth, &canvasHeight)) {
    if (canvasWidth < *drawWidth) *drawWidth = canvasWidth;
    if (canvasHeight < *drawRows) *drawRows = canvasHeight;
  }
  if (*drawWidth <= 0 || *drawRows <= 0) return true;
  const std::size_t outStride = static_cast<std::size_t>(DibStride(*drawWidth, 8));
  try {
    widened->assign(outStride * static_cast<std::size_t>(*drawRows), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::int64_t rows = static_cast<std::int64_t>(view.geometry.rows);
  for (std::int64_t y = 0; y < *drawRows; ++y) {  // y counts picture rows from the top
    const std::int64_t srcRow = view.topDown ? y : rows - 1 - y;
    const std::uint8_t* in = view.pixels + static_cast<std::uint64_t>(srcRow) * view.geometry.stride;
    std::uint8_t* out = widened->data() + static_cast<std::size_t>(*drawRows - 1 - y) * outStride;
    for (int x = 0; x < *drawWidth; ++x) out[x] = (in[x >> 2] >> (6 - 2 * (x & 3))) & 3;
  }
  return true;
}

}  // namespace

int DrawPackedDib(HDC canvas, const PackedDib& image) {
  if (canvas == nullptr) return 1;
  DibView view;
  switch (ViewDrawableDib(image, &view)) {
    case DibDrawable::kNo: return 1;
    case DibDrawable::kNothing:
      ClearUncovered(canvas, 0, 0);
      GdiFlush();
      return 0;
    case DibDrawable::kYes: break;
  }
  const int bits = view.header.bitCount;
  DibInfo info = {};
  info.header = ToBitmapInfoHeader(MakeDibHeader(view.header.width, view.header.height, bits, 0));
  // The block always holds the full table of 2^bits entries; a clrUsed below that would
  // make GDI read some indices differently from the portable canvas.
  std::memcpy(info.colors, view.colors, static_cast<std::size_t>(DibColorCount(bits)) * 4);
  const void* pixels = view.pixels;

  std::vector<std::uint8_t> widened;
  int drawWidth = view.header.width;
  std::int64_t drawRows = static_cast<std::int64_t>(view.geometry.rows);
  if (bits == 2) {
    if (!WidenTwoBitRows(canvas, view, &widened, &drawWidth, &drawRows)) return 1;
    if (drawWidth <= 0 || drawRows <= 0) return 0;
    info.header.biWidth = drawWidth;
    info.header.biHeight = static_cast<LONG>(drawRows);
    info.header.biBitCount = 8;
    pixels = widened.data();
  }

  const int height = static_cast<int>(drawRows);
  const int result = StretchDIBits(canvas, 0, 0, drawWidth, height, 0, 0, drawWidth, height, pixels,
                                   reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY);
  if (result != static_cast<int>(GDI_ERROR)) ClearUncovered(canvas, drawWidth, height);
  GdiFlush();
  return result == static_cast<int>(GDI_ERROR) ? 1 : 0;
}

WriteResult AviSaver::Begin(int width, int height, const OutputFile& output, int scale, int rate) {
  return Open(width, height, output.temporaryPath().c_str(), scale, rate) ? WriteResult()
                                                                           : WriteResult::Failed(WriteFailure::kStopped);
}

WriteResult AviSaver::Append(const PackedDib& image) {
  if (DrawPackedDib(image) != 0) return WriteResult::Failed(WriteFailure::kNotDrawn);
  if (WriteFrame()) return WriteResult();
  return WriteResult::Failed(pastSizeLimit_ ? WriteFailure::kSizeLimit : WriteFailure::kSystem);
}

WriteResult AviSaver::Finish() { return Close() ? WriteResult() : WriteResult::Failed(WriteFailure::kSystem); }

}  // namespace zelvo
