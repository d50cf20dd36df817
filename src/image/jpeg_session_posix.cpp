#include "image/jpeg_session_posix.h"

#include <jerror.h>

namespace zelvo {
namespace {

JpegErrors* ErrorsOf(j_common_ptr info) { return reinterpret_cast<JpegErrors*>(info->err); }

[[noreturn]] void JumpOut(j_common_ptr info) { std::longjmp(ErrorsOf(info)->exit, 1); }

// Warnings (level -1) are decided here, the rest (traces) dropped. A file cut short is
// read on, as the libav reader reads it, and said by the reader; corrupt data is decoded
// as well as it goes, as ffmpeg decodes it.
void KeepMessage(j_common_ptr info, int level) {
  if (level >= 0) return;
  ++info->err->num_warnings;  // counted as libjpeg counts them: a file read with none is whole
  if (info->err->msg_code == JWRN_JPEG_EOF) ErrorsOf(info)->ranOut = true;
}

void SayNothing(j_common_ptr) {}

void LimitScans(j_common_ptr info) {
  const j_decompress_ptr decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMostJpegScans) {
    ErrorsOf(info)->tooManyScans = true;
    JumpOut(info);
  }
}

struct Source {
  const std::uint8_t* data;
  std::size_t size;
};

void OpenStep(JpegSession* session, void* context) {
  const Source& source = *static_cast<const Source*>(context);
  jpeg_create_decompress(&session->info);
  session->progress.progress_monitor = LimitScans;
  session->info.progress = &session->progress;
  jpeg_mem_src(&session->info, source.data, static_cast<unsigned long>(source.size));
  jpeg_save_markers(&session->info, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&session->info, TRUE);
}

}  // namespace

JpegDecompressor::JpegDecompressor() : session_() {
  // Before the object exists: an error inside jpeg_create_decompress reaches these too.
  session_.info.err = jpeg_std_error(&session_.errors.manager);
  session_.errors.manager.error_exit = JumpOut;
  session_.errors.manager.emit_message = KeepMessage;
  session_.errors.manager.output_message = SayNothing;
}

// Safe whether or not Open created the object: libjpeg frees nothing it did not allocate.
JpegDecompressor::~JpegDecompressor() { jpeg_destroy_decompress(&session_.info); }

bool JpegDecompressor::Open(const std::uint8_t* data, std::size_t size) {
  Source source{data, size};
  return Run(OpenStep, &source);
}

bool JpegDecompressor::Run(JpegStep step, void* context) {
  if (setjmp(session_.errors.exit) != 0) return false;
  step(&session_, context);
  return true;
}

bool JpegDecompressor::Unsupported() const {
  if (session_.errors.tooManyScans) return false;
  switch (session_.errors.manager.msg_code) {
    case JERR_BAD_PRECISION:     // 12-bit samples
    case JERR_SOF_UNSUPPORTED:   // lossless, hierarchical
    case JERR_EMPTY_IMAGE:       // the height given later, by a DNL marker
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL:
    case JERR_ARITH_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_CCIR601_NOTIMPL:
    case JERR_BAD_MCU_SIZE:      // more blocks to a unit than libjpeg takes
    case JERR_COMPONENT_COUNT:
      return true;
    default:
      return false;
  }
}

FrameFailure JpegDecompressor::Failure() const {
  if (session_.errors.tooManyScans) return FrameFailure::kDamaged;
  switch (session_.errors.manager.msg_code) {
    case JERR_OUT_OF_MEMORY:
      return FrameFailure::kNoMemory;
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
    case JERR_NO_BACKING_STORE:  // working memory past the limit set on it
      return FrameFailure::kTooLarge;
    default:
      return FrameFailure::kDamaged;
  }
}

}  // namespace zelvo
