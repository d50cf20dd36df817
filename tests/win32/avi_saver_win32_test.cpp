// The Video for Windows writer under Wine: files it writes are read back through AVIFile's
// own reader, the GDI canvas is compared byte for byte with the portable canvas, and the
// compressor choice is replaced by a seam (the real dialog is driven by the end-to-end
// script through the RealCompressorDialog cases, which skip unless it asks for them).
#include "convert/avi_saver_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/frame_canvas.h"
#include "image/bmp_reader.h"
#include "image/png_reader.h"
#include "support/temp_dir.h"
#include "win32/avi_files_win32.h"
#include "win32/message_watch_win32.h"

namespace zelvo {
namespace {

namespace fs = std::filesystem;
using test::gMessages;
using test::MessageWatch;
using test::OutputFolder;
using test::ReadAvi;
using test::ReadBack;

const DWORD kDib = mmioFOURCC('D', 'I', 'B', ' ');

// ---- the compressor seam ----------------------------------------------------------

COMPVARS gSeenPreset;
int gChooserCalls = 0;
LONG gChosenKey = 0, gChosenRate = 0, gChosenQuality = ICQUALITY_DEFAULT;

BOOL AcceptChooser(HWND, BITMAPINFOHEADER*, COMPVARS* compressor) {
  gSeenPreset = *compressor;
  ++gChooserCalls;
  compressor->lKey = gChosenKey;
  compressor->lDataRate = gChosenRate;
  compressor->lQ = gChosenQuality;
  return TRUE;
}

BOOL CancelChooser(HWND, BITMAPINFOHEADER*, COMPVARS* compressor) {
  gSeenPreset = *compressor;
  ++gChooserCalls;
  return FALSE;
}

// What AcceptChooser answers next; resets the count of choices.
void ChooseNext(LONG key = 0, LONG rate = 0, LONG quality = ICQUALITY_DEFAULT) {
  gChooserCalls = 0;
  gChosenKey = key;
  gChosenRate = rate;
  gChosenQuality = quality;
}

// ---- files ------------------------------------------------------------------------

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---- images -----------------------------------------------------------------------

std::uint32_t gSeed = 12345;
std::uint8_t NextByte() {
  gSeed = gSeed * 1103515245u + 12345u;
  return static_cast<std::uint8_t>(gSeed >> 16);
}

// A packed DIB with pseudo-random pixels and colour table; `height` negative for top-down.
PackedDib MakeImage(int width, int height, int bits) {
  const int rows = height < 0 ? -height : height;
  const int stride = DibStride(width, bits);
  const int offset = DibPixelOffset(bits);
  PackedDib dib = PackedDib::Allocate(static_cast<std::uint64_t>(offset) + static_cast<std::uint64_t>(stride) * rows);
  DibHeader h;
  InitDibHeader(&h);
  h.width = width;
  h.height = height;
  h.bitCount = static_cast<std::uint16_t>(bits);
  dib.set_header(h);
  for (std::size_t i = kDibHeaderSize; i < dib.size(); ++i) dib.data()[i] = NextByte();
  return dib;
}

// A GDI canvas like the writer's: a 24-bit bottom-up DIB section in a memory DC.
class GdiCanvas {
 public:
  GdiCanvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~GdiCanvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  std::vector<std::uint8_t> Bytes() const {
    GdiFlush();
    const std::size_t size = static_cast<std::size_t>(CanvasStride(width_)) * static_cast<std::size_t>(height_);
    const std::uint8_t* p = static_cast<const std::uint8_t*>(bits_);
    return std::vector<std::uint8_t>(p, p + size);
  }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

std::vector<std::uint8_t> CanvasBytes(const FrameCanvas& canvas) {
  return std::vector<std::uint8_t>(canvas.data(), canvas.data() + canvas.bytes());
}

// Draws the images in turn on both canvases of the given size; empty when they agree,
// else where the first difference lies.
std::string CompareCanvases(int width, int height, const std::vector<const PackedDib*>& images) {
  GdiCanvas gdi(width, height);
  FrameCanvas portable;
  if (!portable.Create(width, height)) return "portable canvas not created";
  for (const PackedDib* image : images) {
    const int gdiResult = DrawPackedDib(gdi.dc(), *image);
    const int portableResult = DrawPackedDib(portable, *image);
    if (gdiResult != portableResult) {
      return "results differ: GDI " + std::to_string(gdiResult) + ", portable " + std::to_string(portableResult);
    }
  }
  const std::vector<std::uint8_t> a = gdi.Bytes(), b = CanvasBytes(portable);
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t rowInPicture = static_cast<std::size_t>(height) - 1 - i / portable.stride();
    const std::size_t column = (i % portable.stride()) / 3;
    if (i % portable.stride() >= static_cast<std::size_t>(width) * 3) continue;  // row padding
    if (a[i] != b[i]) {
      return "pixel (" + std::to_string(column) + ", " + std::to_string(rowInPicture) + ") byte " +
             std::to_string(i % 3) + ": GDI " + std::to_string(a[i]) + ", portable " + std::to_string(b[i]);
    }
  }
  return std::string();
}

// Fills the open writer's canvas through DrawPackedDib and returns what it holds.
std::vector<std::uint8_t> DrawFrame(AviSaver& saver, const PackedDib& image) {
  EXPECT_EQ(saver.DrawPackedDib(image), 0);
  GdiFlush();
  const unsigned char* bits = saver.canvasBits();
  return std::vector<std::uint8_t>(bits, bits + saver.frameBytes());
}

// ---- the writer -------------------------------------------------------------------

struct SizeCase {
  int width, height, scale, rate, stride;
};

TEST(AviSaver, FullFramesFileReadsBackFrameForFrame) {
  const SizeCase cases[] = {
      {1, 1, 1000, 15000, 4}, {5, 3, 1000, 15000, 16}, {16, 9, 1000, 29970, 48}, {7, 2, 1001, 30000, 24}};
  OutputFolder out;
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    ChooseNext();
    const std::string path = out.File("full_" + std::to_string(c.width) + "x" + std::to_string(c.height) + ".avi");
    std::vector<std::vector<std::uint8_t>> written;
    {
      AviSaver saver(nullptr, AcceptChooser);
      HDC dc = saver.Open(nullptr, c.width, c.height, path.c_str(), c.scale, c.rate);
      ASSERT_NE(dc, nullptr);
      EXPECT_EQ(dc, saver.canvasDc());
      EXPECT_EQ(saver.frameBytes(), c.stride * c.height);
      for (int i = 0; i < 4; ++i) {
        written.push_back(DrawFrame(saver, MakeImage(c.width, c.height, 24)));
        EXPECT_TRUE(saver.WriteFrame());
        EXPECT_EQ(saver.nextFrame(), i + 1);
      }
    }  // the destructor completes the file
    const ReadBack back = ReadAvi(path);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.info.fccType, streamtypeVIDEO);
    EXPECT_EQ(back.info.fccHandler, kDib);
    EXPECT_EQ(back.info.dwScale, static_cast<DWORD>(c.scale));
    EXPECT_EQ(back.info.dwRate, static_cast<DWORD>(c.rate));
    EXPECT_EQ(back.info.dwLength, 4u);
    EXPECT_STREQ(back.info.szName, "VIDEO");
    EXPECT_EQ(back.info.rcFrame.right, c.width);
    EXPECT_EQ(back.info.rcFrame.bottom, c.height);
    EXPECT_EQ(back.format.biWidth, c.width);
    EXPECT_EQ(back.format.biHeight, c.height);
    EXPECT_EQ(back.format.biBitCount, 24);
    EXPECT_EQ(back.frames, written);
  }
}

TEST(AviSaver, PresetsFullFramesBeforeTheChoice) {
  ChooseNext();
  OutputFolder out;
  AviSaver saver(nullptr, AcceptChooser);
  ASSERT_NE(saver.Open(nullptr, 3, 2, out.File("preset.avi").c_str(), 1000, 15000), nullptr);
  EXPECT_EQ(gSeenPreset.cbSize, static_cast<LONG>(sizeof(COMPVARS)));
  EXPECT_EQ(gSeenPreset.dwFlags, static_cast<DWORD>(ICMF_COMPVARS_VALID));
  EXPECT_EQ(gSeenPreset.fccHandler, kDib);
  EXPECT_EQ(gSeenPreset.lQ, ICQUALITY_DEFAULT);
  EXPECT_EQ(gSeenPreset.hic, nullptr);
  EXPECT_EQ(gSeenPreset.lKey, 0);
  EXPECT_EQ(gSeenPreset.lDataRate, 0);
  EXPECT_EQ(gSeenPreset.lpState, nullptr);
  EXPECT_EQ(saver.streamInfo().dwQuality, static_cast<DWORD>(-1));
}

struct OptionCase {
  LONG key, kilobytes, quality;
  DWORD flags, bytesPerSecond;
};

// The dialog's data rate is in kilobytes per second; the compressing stream wants bytes.
TEST(AviSaver, CompressionOptionsFollowTheChoice) {
  const OptionCase cases[] = {
      {0, 0, ICQUALITY_DEFAULT, 0, 0},
      {15, 0, 7500, AVICOMPRESSF_KEYFRAMES, 0},
      {0, 300, 5000, AVICOMPRESSF_DATARATE, 300 * 1024},
      {1, 1, 10000, AVICOMPRESSF_DATARATE | AVICOMPRESSF_KEYFRAMES, 1024},
      {0, 0x7fffffff, 0, AVICOMPRESSF_DATARATE, 0xffffffffu},  // saturates, never wraps
  };
  OutputFolder out;
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.kilobytes);
    ChooseNext(c.key, c.kilobytes, c.quality);
    AviSaver saver(nullptr, AcceptChooser);
    ASSERT_NE(saver.Open(nullptr, 4, 4, out.File("options.avi").c_str(), 1000, 15000), nullptr);
    const AVICOMPRESSOPTIONS& o = saver.compressOptions();
    EXPECT_EQ(o.fccType, streamtypeVIDEO);
    EXPECT_EQ(o.fccHandler, kDib);
    EXPECT_EQ(o.dwKeyFrameEvery, static_cast<DWORD>(c.key));
    EXPECT_EQ(o.dwQuality, static_cast<DWORD>(c.quality));
    EXPECT_EQ(o.dwBytesPerSecond, c.bytesPerSecond);
    EXPECT_EQ(o.dwFlags, c.flags);
    EXPECT_EQ(o.lpFormat, nullptr);
    EXPECT_EQ(o.dwInterleaveEvery, 0u);
  }
}

TEST(AviSaver, CancelledChoiceCreatesNothingAndSaysNothing) {
  ChooseNext();
  MessageWatch messages;
  OutputFolder out;
  const std::string path = out.File("cancelled.avi");
  AviSaver saver(nullptr, CancelChooser);
  EXPECT_EQ(saver.Open(nullptr, 8, 8, path.c_str(), 1000, 15000), nullptr);
  EXPECT_EQ(gChooserCalls, 1);
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(gMessages.empty());
  EXPECT_FALSE(saver.WriteFrame());
}

TEST(AviSaver, WriteFrameOutsideAnOpenFileWritesNothing) {
  ChooseNext();
  OutputFolder out;
  AviSaver saver(nullptr, AcceptChooser);
  EXPECT_FALSE(saver.WriteFrame());
  EXPECT_EQ(saver.nextFrame(), 0);
  ASSERT_TRUE(saver.Open(2, 2, out.File("closed.avi").c_str(), 1000, 15000));
  EXPECT_TRUE(saver.WriteFrame());
  EXPECT_TRUE(saver.Close());
  EXPECT_FALSE(saver.WriteFrame());
  EXPECT_EQ(saver.nextFrame(), 0);
  EXPECT_EQ(ReadAvi(out.File("closed.avi")).frames.size(), 1u);
}

TEST(AviSaver, SecondOpenCompletesTheFirstFile) {
  ChooseNext();
  OutputFolder out;
  AviSaver saver(nullptr, AcceptChooser);
  ASSERT_TRUE(saver.Open(3, 3, out.File("first.avi").c_str(), 1000, 15000));
  EXPECT_TRUE(saver.WriteFrame());
  EXPECT_TRUE(saver.WriteFrame());
  ASSERT_TRUE(saver.Open(2, 5, out.File("second.avi").c_str(), 1000, 15000));
  EXPECT_EQ(saver.nextFrame(), 0);
  EXPECT_TRUE(saver.WriteFrame());
  const ReadBack first = ReadAvi(out.File("first.avi"));
  ASSERT_TRUE(first.ok);
  EXPECT_EQ(first.frames.size(), 2u);
  EXPECT_EQ(first.format.biHeight, 3);
}

// Every AVIFileInit of a writer is matched by exactly one AVIFileExit, whatever the order
// of Open and Close calls and however Open ends.
TEST(AviSaver, LibraryUseIsPairedExactlyOnce) {
  struct Step {
    const char* what;
    void (*run)(const std::string& folder);
  };
  const Step steps[] = {
      {"open, close, close",
       [](const std::string& f) {
         ChooseNext();
         AviSaver s(nullptr, AcceptChooser);
         ASSERT_TRUE(s.Open(2, 2, test::JoinPath(f, "a.avi").c_str(), 1000, 15000));
         EXPECT_EQ(AviSaver::LibraryUses(), 1);
         s.Close();
         EXPECT_EQ(AviSaver::LibraryUses(), 0);
         s.Close();
       }},
      {"open twice, close twice",
       [](const std::string& f) {
         ChooseNext();
         AviSaver s(nullptr, AcceptChooser);
         ASSERT_TRUE(s.Open(2, 2, test::JoinPath(f, "a.avi").c_str(), 1000, 15000));
         ASSERT_TRUE(s.Open(2, 2, test::JoinPath(f, "b.avi").c_str(), 1000, 15000));
         EXPECT_EQ(AviSaver::LibraryUses(), 1);
         s.Close();
         s.Close();
       }},
      {"two writers, destroyed",
       [](const std::string& f) {
         ChooseNext();
         AviSaver a(nullptr, AcceptChooser), b(nullptr, AcceptChooser);
         ASSERT_TRUE(a.Open(2, 2, test::JoinPath(f, "a.avi").c_str(), 1000, 15000));
         ASSERT_TRUE(b.Open(2, 2, test::JoinPath(f, "b.avi").c_str(), 1000, 15000));
         EXPECT_EQ(AviSaver::LibraryUses(), 2);
       }},
      {"cancelled open, then close and destroy",
       [](const std::string& f) {
         ChooseNext();
         AviSaver s(nullptr, CancelChooser);
         EXPECT_FALSE(s.Open(2, 2, test::JoinPath(f, "c.avi").c_str(), 1000, 15000));
         EXPECT_EQ(AviSaver::LibraryUses(), 0);
         s.Close();
       }},
      {"failed open, then close",
       [](const std::string& f) {
         ChooseNext();
         MessageWatch messages;
         AviSaver s(nullptr, AcceptChooser);
         EXPECT_FALSE(s.Open(2, 2, test::JoinPath(f, "missing\\d.avi").c_str(), 1000, 15000));
         EXPECT_EQ(AviSaver::LibraryUses(), 0);
         s.Close();
       }},
  };
  OutputFolder out;
  const std::string folder = out.File("");
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.run(folder);
    EXPECT_EQ(AviSaver::LibraryUses(), 0);
  }
}

// A top-down first frame: the stream gets its true height and bottom-up rows.
TEST(AviSaver, NegativeHeightBecomesBottomUpFrames) {
  ChooseNext();
  OutputFolder out;
  const std::string path = out.File("topdown.avi");
  PackedDib image = MakeImage(6, -4, 24);
  std::vector<std::uint8_t> expected;
  {
    AviSaver saver(nullptr, AcceptChooser);
    ASSERT_TRUE(saver.Open(6, -4, path.c_str(), 1000, 15000));
    EXPECT_EQ(saver.frameHeight(), 4);
    EXPECT_EQ(saver.frameBytes(), 20 * 4);
    EXPECT_EQ(saver.streamInfo().rcFrame.bottom, 4);
    expected = DrawFrame(saver, image);
    EXPECT_TRUE(saver.WriteFrame());
  }
  FrameCanvas portable;
  ASSERT_TRUE(portable.Create(6, 4));
  ASSERT_EQ(DrawPackedDib(portable, image), 0);
  EXPECT_EQ(expected, CanvasBytes(portable));
  const ReadBack back = ReadAvi(path);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.format.biHeight, 4);
  ASSERT_EQ(back.frames.size(), 1u);
  EXPECT_EQ(back.frames[0], expected);
}

struct FailureCase {
  const char* what;
  int width, height;
  const char* file;  // relative to the output folder
  const char* message;
};

TEST(AviSaver, FailedOpenShowsItsMessageAndLeavesTheWriterClosed) {
  const FailureCase cases[] = {
      {"folder missing", 4, 4, "no such folder\\x.avi", "保存するファイルが開けませんでした。"},
      {"zero width", 0, 4, "zero.avi", "HBITMAPが作れませんでした。"},
      {"zero height", 4, 0, "zero.avi", "HBITMAPが作れませんでした。"},
      {"frame beyond any canvas", 40000, 40000, "huge.avi", "HBITMAPが作れませんでした。"},
  };
  OutputFolder out;
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    ChooseNext();
    MessageWatch messages;
    AviSaver saver(nullptr, AcceptChooser);
    EXPECT_EQ(saver.Open(nullptr, c.width, c.height, out.File(c.file).c_str(), 1000, 15000), nullptr);
    ASSERT_EQ(gMessages.size(), 1u);
    EXPECT_EQ(gMessages[0].caption, "AviSaver");
    EXPECT_EQ(gMessages[0].text, c.message);
    EXPECT_FALSE(saver.WriteFrame());
    EXPECT_EQ(saver.canvasDc(), nullptr);
  }
}

// ---- the AVI 1.0 size limit, lowered -------------------------------------------------

std::uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A compressor installed in this process for the test ('ZTST'): takes 24-bit frames and
// gives each one as many bytes as gCompressedSizes says, in turn.
const DWORD kTestCodec = mmioFOURCC('Z', 'T', 'S', 'T');
std::vector<DWORD> gCompressedSizes;
std::size_t gCompressedFrames = 0;

LRESULT CALLBACK TestCodecProc(DWORD_PTR, HDRVR, UINT message, LPARAM in, LPARAM out) {
  switch (message) {
    case DRV_LOAD: case DRV_FREE: case DRV_ENABLE: case DRV_DISABLE: case DRV_OPEN: case DRV_CLOSE:
      return 1;
    case ICM_GETINFO: {
      ICINFO* info = reinterpret_cast<ICINFO*>(in);
      *info = {};
      info->dwSize = sizeof(ICINFO);
      info->fccType = ICTYPE_VIDEO;
      info->fccHandler = kTestCodec;
      return sizeof(ICINFO);
    }
    case ICM_COMPRESS_QUERY:
      return reinterpret_cast<const BITMAPINFO*>(in)->bmiHeader.biBitCount == 24 ? ICERR_OK : ICERR_BADFORMAT;
    case ICM_COMPRESS_GET_FORMAT:
      if (out == 0) return sizeof(BITMAPINFOHEADER);
      *reinterpret_cast<BITMAPINFOHEADER*>(out) = reinterpret_cast<const BITMAPINFO*>(in)->bmiHeader;
      reinterpret_cast<BITMAPINFOHEADER*>(out)->biCompression = kTestCodec;
      return ICERR_OK;
    case ICM_COMPRESS_GET_SIZE:
      return 1 << 20;
    case ICM_COMPRESS: {
      ICCOMPRESS* frame = reinterpret_cast<ICCOMPRESS*>(in);
      const DWORD size = gCompressedSizes[std::min(gCompressedFrames++, gCompressedSizes.size() - 1)];
      std::memset(frame->lpOutput, 0x5a, size);
      frame->lpbiOutput->biSizeImage = size;
      if (frame->lpdwFlags != nullptr) *frame->lpdwFlags = AVIIF_KEYFRAME;
      return ICERR_OK;
    }
    case ICM_COMPRESS_BEGIN: case ICM_COMPRESS_END: case ICM_COMPRESS_FRAMES_INFO:
      return ICERR_OK;
    default:
      return ICERR_UNSUPPORTED;
  }
}

BOOL TestCodecChooser(HWND, BITMAPINFOHEADER*, COMPVARS* compressor) {
  compressor->fccHandler = kTestCodec;
  return TRUE;
}

// Full frames: the writer stops at the first frame that would take the finished file past
// the limit, keeps the frames before it complete, and stops no more than a frame (plus the
// room it keeps for the headers) early.
TEST(AviSaverSizeLimit, FullFramesStopAtTheFirstFrameThatWouldPassTheLimit) {
  struct Case {
    int width, height;
    std::uint64_t limit;
  };
  const Case cases[] = {
      {256, 200, 1000000}, {256, 200, 700000}, {37, 20, 100000}, {256, 200, 60000}, {640, 480, 4000000}};
  OutputFolder out;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " under " + std::to_string(c.limit));
    ChooseNext();
    const std::string path = out.File("limit.avi");
    AviSaver saver(nullptr, AcceptChooser);
    saver.SetSizeLimit(c.limit);
    ASSERT_TRUE(saver.Open(c.width, c.height, path.c_str(), 1000, 15000));
    const std::uint64_t frame = static_cast<std::uint64_t>(saver.frameBytes());
    int accepted = 0;
    while (accepted < 1000 && saver.WriteFrame()) ++accepted;
    EXPECT_TRUE(saver.PastSizeLimit());
    EXPECT_FALSE(saver.WriteFrame());
    EXPECT_TRUE(saver.PastSizeLimit());
    EXPECT_TRUE(saver.Close());
    EXPECT_FALSE(saver.PastSizeLimit());
    const std::uint64_t size = FileSize(path);
    EXPECT_LE(size, c.limit);
    EXPECT_GT(size + frame + 24 + 64 * 1024, c.limit);
    EXPECT_EQ(ReadAvi(path).frames.size(), static_cast<std::size_t>(accepted));
  }
}

// A compressor's output size is known once it has compressed the frame: the frame whose
// output passes the limit is refused, and none after it is taken. Small frames first,
// then one that passes the limit, which the uncompressed size (9,216 bytes) would not.
TEST(AviSaverSizeLimit, CompressedFramesStopAtTheFrameWhoseOutputPassesTheLimit) {
  ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, kTestCodec, reinterpret_cast<LPARAM>(TestCodecProc), nullptr,
                        ICINSTALL_FUNCTION));
  gCompressedSizes = {1001, 1001, 1001, 150000, 1000};
  gCompressedFrames = 0;
  OutputFolder out;
  {
    ChooseNext();
    MessageWatch messages;
    AviSaver saver(nullptr, TestCodecChooser);
    saver.SetSizeLimit(200000);
    ASSERT_TRUE(saver.Open(64, 48, out.File("limit_codec.avi").c_str(), 1000, 15000));
    EXPECT_EQ(saver.streamInfo().fccHandler, kTestCodec);
    int accepted = 0;
    while (accepted < 100 && saver.WriteFrame()) ++accepted;
    EXPECT_EQ(accepted, 3);
    EXPECT_TRUE(saver.PastSizeLimit());
    EXPECT_EQ(gCompressedFrames, 4u);
    EXPECT_FALSE(saver.WriteFrame());
    EXPECT_EQ(gCompressedFrames, 4u);  // nothing more reaches the compressor
    EXPECT_TRUE(gMessages.empty());
  }
  ICRemove(ICTYPE_VIDEO, kTestCodec, 0);
}

// A write that fails for another reason is not a size limit.
TEST(AviSaverSizeLimit, OtherFailuresAreNotTheSizeLimit) {
  AviSaver saver;
  saver.SetSizeLimit(0);
  EXPECT_FALSE(saver.WriteFrame());  // nothing open
  EXPECT_FALSE(saver.PastSizeLimit());
}

// ---- the canvas: GDI and portable give the same bytes --------------------------------

TEST(AviSaverCanvas, DrawsEveryDepthLikeThePortableCanvas) {
  struct Case {
    int width, height, bits;
  };
  const Case cases[] = {{1, 1, 1},  {13, 5, 1},  {9, 4, 2},   {3, -3, 2}, {7, 6, 4},  {11, 3, 8},
                        {5, -4, 8}, {6, 5, 16},  {3, 3, 16},  {5, 3, 24}, {4, -5, 24}, {9, 2, 32},
                        {2, -2, 32}, {31, 17, 4}, {33, 9, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.bits));
    const PackedDib image = MakeImage(c.width, c.height, c.bits);
    EXPECT_EQ(CompareCanvases(c.width, c.height < 0 ? -c.height : c.height, {&image}), "");
  }
}

TEST(AviSaverCanvas, SmallerFramesSitOnBlackAndLargerOnesAreClipped) {
  const PackedDib base = MakeImage(9, 7, 24);
  const PackedDib small = MakeImage(4, 3, 8);
  const PackedDib smallTopDown = MakeImage(3, -2, 16);
  const PackedDib large = MakeImage(12, 10, 32);
  const PackedDib twoBitLarge = MakeImage(15, 11, 2);
  EXPECT_EQ(CompareCanvases(9, 7, {&base, &small}), "");
  EXPECT_EQ(CompareCanvases(9, 7, {&base, &smallTopDown}), "");
  EXPECT_EQ(CompareCanvases(9, 7, {&large}), "");
  EXPECT_EQ(CompareCanvases(9, 7, {&base, &twoBitLarge, &small}), "");
}

TEST(AviSaverCanvas, RefusesBlocksShorterThanTheirHeaderClaims) {
  PackedDib image = MakeImage(8, 8, 24);
  DibHeader h = image.header();
  h.height = 9;  // one row more than the block holds
  image.set_header(h);
  GdiCanvas gdi(8, 8);
  EXPECT_EQ(DrawPackedDib(gdi.dc(), image), 1);
  h.height = 8;
  h.compression = BI_RLE8;
  image.set_header(h);
  EXPECT_EQ(DrawPackedDib(gdi.dc(), image), 1);
  EXPECT_EQ(DrawPackedDib(gdi.dc(), PackedDib()), 1);
}

void CompareFolder(const fs::path& folder, const char* extension, PackedDib (*read)(const char*)) {
  if (!fs::is_directory(folder)) GTEST_SKIP() << folder.string() << " is absent";
  int compared = 0;
  std::vector<std::string> differing;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    if (file.extension() != extension) continue;
    const PackedDib image = read(file.string().c_str());
    if (!image) continue;
    const int width = GetDibWidth(image), height = GetDibHeight(image);
    if (width <= 0 || height == 0) continue;
    const std::string difference = CompareCanvases(width, height < 0 ? -height : height, {&image});
    if (!difference.empty()) differing.push_back(file.filename().string() + ": " + difference);
    ++compared;
  }
  EXPECT_GT(compared, 0);
  EXPECT_TRUE(differing.empty()) << differing.size() << " of " << compared << " differ, first: "
                                 << (differing.empty() ? std::string() : differing.front());
  std::printf("[ canvas   ] %s: %d images compared\n", folder.string().c_str(), compared);
}

const fs::path kBmpSuite = fs::path(ZELVO_SOURCE_DIR) / ".." / "shared" / "corpus" / "bmpsuite";
const fs::path kPngSuite = fs::path(ZELVO_SOURCE_DIR) / ".cache" / "libpng" / "contrib" / "pngsuite";

PackedDib ReadWholeBmp(const char* path) { return ReadBmp(path); }

TEST(AviSaverCanvas, BmpSuiteGoodImagesDrawAlike) { CompareFolder(kBmpSuite / "g", ".bmp", ReadWholeBmp); }
TEST(AviSaverCanvas, BmpSuiteQuestionableImagesDrawAlike) { CompareFolder(kBmpSuite / "q", ".bmp", ReadWholeBmp); }
TEST(AviSaverCanvas, PngSuiteImagesDrawAlike) { CompareFolder(kPngSuite, ".png", ReadPng); }

// ---- the real compressor dialog (driven from outside by the end-to-end script) --------

// ZELVO_REAL_COMPRESSOR_DIALOG=accept|cancel; the frames and the expected decoded pictures
// (top row first, RGB) go to ZELVO_WIN_TEST_OUT for ffprobe and ffmpeg.
const char* RealDialogMode() {
  const char* mode = std::getenv("ZELVO_REAL_COMPRESSOR_DIALOG");
  return mode != nullptr ? mode : "";
}

// Writes `frames` random 37x20 frames through the open writer and the pictures ffmpeg
// should decode from them (top row first, RGB) to `rgb`.
void WriteRandomFrames(AviSaver& saver, int frames, const std::string& rgb) {
  const int width = saver.frameWidth(), height = saver.frameHeight();
  std::ofstream expected(rgb, std::ios::binary);
  for (int i = 0; i < frames; ++i) {
    const std::vector<std::uint8_t> canvas = DrawFrame(saver, MakeImage(width, height, 24));
    ASSERT_TRUE(saver.WriteFrame());
    const std::size_t stride = static_cast<std::size_t>(CanvasStride(width));
    for (int y = height - 1; y >= 0; --y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = canvas.data() + static_cast<std::size_t>(y) * stride + 3 * x;
        const char bytes[3] = {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
        expected.write(bytes, 3);
      }
    }
  }
}

TEST(RealCompressorDialog, AcceptedFullFramesWritesTheFrames) {
  if (std::string(RealDialogMode()) != "accept") GTEST_SKIP() << "run by the end-to-end script";
  const char* folder = std::getenv("ZELVO_WIN_TEST_OUT");
  ASSERT_NE(folder, nullptr);
  const std::string path = test::JoinPath(folder, "dialog.avi");
  {
    AviSaver saver;
    ASSERT_NE(saver.Open(nullptr, 37, 20, path.c_str(), 1000, 15000), nullptr);
    EXPECT_EQ(saver.streamInfo().fccHandler, kDib);
    WriteRandomFrames(saver, 5, test::JoinPath(folder, "dialog.rgb"));
  }
  const ReadBack back = ReadAvi(path);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.frames.size(), 5u);
}

// The real dialog with a key frame every 5 frames, quality 5000 and 300 KB/s preset as a
// user types them into its fields on Windows: Wine's dialog shows none of these fields and
// hands back what it was given, so this is how what the writer makes of them reaches the
// codec chosen in it.
BOOL RealDialogWithSettings(HWND owner, BITMAPINFOHEADER* format, COMPVARS* compressor) {
  compressor->lKey = 5;
  compressor->lQ = 5000;
  compressor->lDataRate = 300;
  return ChooseCompressorDialog(owner, format, compressor);
}

// ZELVO_REAL_COMPRESSOR_DIALOG=codec: the script chooses the test compressor, reads what it
// was handed from its log and decodes codec.avi against codec.rgb.
TEST(RealCompressorDialog, ChosenCodecGetsTheKeyFrameRateQualityAndDataRate) {
  if (std::string(RealDialogMode()) != "codec") GTEST_SKIP() << "run by the end-to-end script";
  const char* folder = std::getenv("ZELVO_WIN_TEST_OUT");
  ASSERT_NE(folder, nullptr);
  AviSaver saver(nullptr, RealDialogWithSettings);
  ASSERT_NE(saver.Open(nullptr, 37, 20, test::JoinPath(folder, "codec.avi").c_str(), 1000, 15000), nullptr);
  EXPECT_EQ(saver.streamInfo().fccHandler, mmioFOURCC('Z', 'L', 'I', 'B'));
  const AVICOMPRESSOPTIONS& o = saver.compressOptions();
  EXPECT_EQ(o.dwKeyFrameEvery, 5u);
  EXPECT_EQ(o.dwQuality, 5000u);
  EXPECT_EQ(o.dwBytesPerSecond, 300u * 1024u);
  WriteRandomFrames(saver, 12, test::JoinPath(folder, "codec.rgb"));
  EXPECT_TRUE(saver.Close());
}

TEST(RealCompressorDialog, CancelledCreatesNothing) {
  if (std::string(RealDialogMode()) != "cancel") GTEST_SKIP() << "run by the end-to-end script";
  const char* folder = std::getenv("ZELVO_WIN_TEST_OUT");
  ASSERT_NE(folder, nullptr);
  const std::string path = test::JoinPath(folder, "cancelled.avi");
  gMessages.clear();  // a message box here would hang the script, which then fails
  AviSaver saver;
  EXPECT_EQ(saver.Open(nullptr, 16, 16, path.c_str(), 1000, 15000), nullptr);
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(gMessages.empty());
}

// Run by the end-to-end script under a file size limit (ZELVO_FILE_SIZE_LIMITED=1): frames
// the limit refuses are reported, by WriteFrame or at the latest by Close (the library
// buffers its writes), and each write uses up its index either way.
TEST(AviSaverLimit, WritePastTheFileSizeLimitFails) {
  const char* limited = std::getenv("ZELVO_FILE_SIZE_LIMITED");
  if (limited == nullptr || std::string(limited) != "1") GTEST_SKIP() << "run by the end-to-end script";
  ChooseNext();
  OutputFolder out;
  AviSaver saver(nullptr, AcceptChooser);
  ASSERT_TRUE(saver.Open(256, 200, out.File("limited.avi").c_str(), 1000, 15000));  // 150 KB frames
  int failed = 0;
  for (int i = 0; i < 20; ++i) {
    if (!saver.WriteFrame()) ++failed;
    EXPECT_EQ(saver.nextFrame(), i + 1);
  }
  EXPECT_FALSE(saver.PastSizeLimit());  // the disk refused, not the AVI size limit
  const bool closed = saver.Close();
  EXPECT_TRUE(failed > 0 || !closed);
}

// A full-frames file written by the Linux program, read back by Video for Windows' own
// AVIFile functions: a second reader, independent of ffmpeg, for the native container.
// ZELVO_FOREIGN_AVI names the file, ZELVO_FOREIGN_RGB the frames ffmpeg decoded from it
// (top row first, RGB); the end-to-end script sets both.
TEST(LinuxWrittenFile, ReadsBackThroughAviFile) {
  const char* avi = std::getenv("ZELVO_FOREIGN_AVI");
  const char* rgb = std::getenv("ZELVO_FOREIGN_RGB");
  if (avi == nullptr || rgb == nullptr) GTEST_SKIP() << "run by the end-to-end script";
  std::ifstream in(rgb, std::ios::binary);
  const std::vector<std::uint8_t> expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const ReadBack back = ReadAvi(avi);
  ASSERT_TRUE(back.ok);
  ASSERT_FALSE(back.frames.empty());
  EXPECT_EQ(back.info.fccType, streamtypeVIDEO);
  EXPECT_EQ(back.info.fccHandler, kDib);
  EXPECT_EQ(back.info.dwScale, 1000u);
  EXPECT_EQ(back.info.dwRate, 15000u);
  EXPECT_STREQ(back.info.szName, "VIDEO");
  EXPECT_EQ(back.format.biBitCount, 24);
  const int width = back.format.biWidth;
  const int height = back.format.biHeight;
  ASSERT_GT(width, 0);
  ASSERT_GT(height, 0);
  const std::size_t stride = static_cast<std::size_t>(CanvasStride(width));
  const std::size_t frameRgb = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
  ASSERT_EQ(expected.size(), back.frames.size() * frameRgb);
  for (std::size_t f = 0; f < back.frames.size(); ++f) {
    ASSERT_GE(back.frames[f].size(), stride * static_cast<std::size_t>(height)) << f;
    std::size_t mismatches = 0;
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = back.frames[f].data() + static_cast<std::size_t>(height - 1 - y) * stride;
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* want = expected.data() + f * frameRgb + (static_cast<std::size_t>(y) * width + x) * 3;
        if (row[3 * x + 2] != want[0] || row[3 * x + 1] != want[1] || row[3 * x] != want[2]) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0u) << "frame " << f;
  }
}

}  // namespace
}  // namespace zelvo
