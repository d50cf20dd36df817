#include "convert/avi_saver_posix.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/messages_posix.h"

namespace zelvo {

namespace {

constexpr char kCaption[] = "AviSaver";
// The Windows writer's sentences, in English; the catalog gives them back in Japanese.
constexpr char kCannotOpenFile[] = N_("Could not open the file to save.");
constexpr char kCannotCompress[] = N_("Could not create the compressed stream.");
constexpr char kCannotSetFormat[] = N_("Could not set the format of the stream.");
constexpr char kCannotMakeCanvas[] = N_("Could not create the frame canvas.");

// The uncompressed stream's format: the canvas itself as a 24-bit bottom-up DIB.
std::vector<std::uint8_t> FullFrameFormat(int width, int height, std::uint64_t bytes) {
  std::vector<std::uint8_t> out(kDibHeaderSize, 0);
  StoreDibHeader(out.data(), MakeDibHeader(width, height, 24, static_cast<std::uint32_t>(bytes)));
  return out;
}

}  // namespace

void AviSaver::PrintMessage(const char* /*caption*/, const char* text) {
  std::fprintf(stderr, "AviSaver: %s\n", text);
}

AviSaver::AviSaver(Chooser chooser, MessageSink messages)
    : chooser_(std::move(chooser)), messages_(std::move(messages)) {}

AviSaver::~AviSaver() { Close(); }

void AviSaver::Message(const char* msgid, const std::string& detail) {
  if (!messages_) return;
  std::string text = Tr(msgid);
  if (!detail.empty()) text += "\n" + detail;
  messages_(kCaption, text.c_str());
}

bool AviSaver::Open(int width, int height, const char* path, int scale, int rate) {
  Close();
  // A top-down first frame reports a negative height; the video is as tall as the frame,
  // stored bottom-up like every canvas.
  const long long absHeight = height < 0 ? -static_cast<long long>(height) : height;

  CodecChoice choice;
  if (!chooser_ || !chooser_(&choice)) return false;  // cancelled: nothing made, nothing said
  choice_ = choice;

  if (width <= 0 || absHeight <= 0 || absHeight > 0x7fffffff || scale <= 0 || rate <= 0 || !path) {
    Message(kCannotSetFormat);
    return false;
  }
  const int frameHeight = static_cast<int>(absHeight);
  // The canvas's size check comes first: it also bounds every size written to the file.
  // The canvas itself is made when a frame needs drawing: frames of its exact shape are
  // written from their own blocks and never need it.
  if (!CheckedDibGeometry(width, frameHeight, 24, &frame_)) {
    Message(kCannotMakeCanvas);
    return false;
  }
  frameWidth_ = width;
  frameHeight_ = frameHeight;

  AviVideoStream stream;
  stream.width = width;
  stream.height = frameHeight;
  stream.scale = static_cast<std::uint32_t>(scale);
  stream.rate = static_cast<std::uint32_t>(rate);
  compressed_ = choice.codec != "dib";
  if (compressed_) {
    // Prepared before the file is created, so a codec that refuses the frame size or an
    // option leaves nothing on disk.
    std::string detail;
    if (!encoder_.Open(choice, width, frameHeight, scale, rate, &detail)) {
      Message(kCannotCompress, detail);
      canvas_.Reset();
      return false;
    }
    stream.handler = encoder_.fourcc();
    stream.format = encoder_.StreamFormat();
  } else {
    stream.handler = MakeFourcc('D', 'I', 'B', ' ');
    stream.format = FullFrameFormat(width, frameHeight, frame_.bytes);
  }

  file_.set_segment_limit(segmentLimit_);
  int error = 0;
  if (!file_.Create(path, stream, &error)) {
    // Which file, and the system's reason: a missing or read-only folder, a full disk.
    if (error == EINVAL)
      Message(kCannotSetFormat);
    else
      Message(kCannotOpenFile, std::string(path) + "\n" + std::strerror(error));
    encoder_.Close();
    canvas_.Reset();
    return false;
  }
  open_ = true;
  writeFailed_ = false;
  lastError_ = 0;
  nextFrame_ = 0;
  return true;
}

int AviSaver::DrawPackedDib(const PackedDib& image) {
  if (!open_) return 1;
  if (!EnsureCanvas()) return 1;
  return zelvo::DrawPackedDib(canvas_, image);
}

bool AviSaver::WriteFrame() { return WriteRows(EnsureCanvas() ? canvas_.data() : nullptr); }

bool AviSaver::EnsureCanvas() { return !canvas_.empty() || (open_ && canvas_.Create(frameWidth_, frameHeight_)); }

FrameCanvas& AviSaver::canvas() {
  EnsureCanvas();
  return canvas_;
}

FrameOutcome AviSaver::DrawAndWrite(const PackedDib& image) {
  DibView view;
  const bool canvasShaped = open_ && ViewDrawableDib(image, &view) == DibDrawable::kYes &&
                            view.header.bitCount == 24 && !view.topDown && view.header.width == frameWidth_ &&
                            view.geometry.rows == static_cast<std::uint64_t>(frameHeight_);
  // Drawing such a frame would copy every byte of it onto the canvas unchanged.
  if (!canvasShaped) return FrameWriter::DrawAndWrite(image);
  return WriteRows(view.pixels) ? FrameOutcome::kWritten : FrameOutcome::kNotWritten;
}

// Appends `rows` (bottom-up rows of the canvas's shape) as the next frame.
bool AviSaver::WriteRows(const std::uint8_t* rows) {
  if (!open_) return false;
  ++nextFrame_;  // the next frame goes to the following index whatever happens here
  if (writeFailed_) return false;
  if (rows == nullptr) {  // no memory for the canvas
    writeFailed_ = true;
    lastError_ = ENOMEM;
    return false;
  }
  bool ok;
  if (compressed_) {
    ok = encoder_.Encode(rows, static_cast<std::size_t>(frame_.stride),
                         [this](const std::uint8_t* data, std::size_t size, bool key) {
                           return file_.WriteFrame(data, size, key);
                         });
  } else {
    ok = file_.WriteFrame(rows, static_cast<std::size_t>(frame_.bytes), true);
  }
  if (!ok) {
    writeFailed_ = true;
    lastError_ = file_.error();
  }
  return ok;
}

bool AviSaver::Close() {
  if (!open_) return true;
  bool ok = !writeFailed_;
  if (compressed_ && ok) {
    ok = encoder_.Drain([this](const std::uint8_t* data, std::size_t size, bool key) {
      return file_.WriteFrame(data, size, key);
    });
  }
  if (ok) ok = file_.Finish();
  if (!ok && lastError_ == 0) lastError_ = file_.error();
  if (!ok) {
    file_.Discard();  // the headers keep claiming no frames
  }
  encoder_.Close();
  canvas_.Reset();
  open_ = false;
  compressed_ = false;
  nextFrame_ = 0;
  return ok;
}

}  // namespace zelvo
