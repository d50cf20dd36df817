#include "image/jpeg_transcode_posix.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "image/jpeg_layout_posix.h"
#include "image/jpeg_session_posix.h"

namespace zelvo {
namespace {

// libavcodec's MJPEG encoder starts from MPEG-1's intra matrix (natural order).
constexpr std::uint8_t kMpeg1Intra[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27,
    29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69,
    27, 29, 35, 38, 46, 56, 69, 83,
};
// Its quantiser rounds AC magnitudes up from 5/8 of a step, DC to the nearest step.
constexpr float kAcBias = 0.375f;
constexpr float kDcBias = 0.5f;
// Baseline JPEG codes 8-bit samples' coefficients in at most 10 bits of magnitude.
constexpr int kMaxCoefficient = 1023;

// The quantiser in the high half, the width and height in 16 bits each below; 0: none.
std::atomic<std::uint64_t> g_offer{0};

struct Offer {
  int qscale = 0, width = 0, height = 0;
};
Offer CurrentOffer() {
  const std::uint64_t packed = g_offer.load(std::memory_order_relaxed);
  return Offer{static_cast<int>(packed >> 32), static_cast<int>(packed >> 16 & 0xffff),
               static_cast<int>(packed & 0xffff)};
}

// What the transcoding step works with: plain data, as the step may be left by longjmp;
// the compress object and the frame are let go of by the caller.
struct Transcoding {
  std::uint16_t table[64];
  jpeg_compress_struct out;
  bool outMade = false;
  unsigned char* frame = nullptr;
  unsigned long frameSize = 0;
  ~Transcoding() {
    if (outMade) jpeg_destroy_compress(&out);
    std::free(frame);
  }
};

bool Suits(jpeg_decompress_struct& in, const Offer& offer) {
  const jpeg_component_info* c = in.comp_info;
  return in.num_components == 3 && in.jpeg_color_space == JCS_YCbCr && in.data_precision == 8 &&
         c[0].h_samp_factor == 2 && c[0].v_samp_factor == 2 && c[1].h_samp_factor == 1 &&
         c[1].v_samp_factor == 1 && c[2].h_samp_factor == 1 && c[2].v_samp_factor == 1 &&
         static_cast<int>(in.image_width) == offer.width && static_cast<int>(in.image_height) == offer.height &&
         JpegOrientation(in) == 1;
}

// Each coefficient to the step of `to`, from the step of its own table, in place.
void Requantise(jpeg_decompress_struct* in, jvirt_barray_ptr* planes, const std::uint16_t to[64]) {
  for (int ci = 0; ci < in->num_components; ++ci) {
    const jpeg_component_info& component = in->comp_info[ci];
    float ratio[64], bias[64];
    for (int k = 0; k < 64; ++k) {
      ratio[k] = static_cast<float>(component.quant_table->quantval[k]) / static_cast<float>(to[k]);
      bias[k] = k == 0 ? kDcBias : kAcBias;
    }
    for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
      JBLOCKARRAY blocks = in->mem->access_virt_barray(reinterpret_cast<j_common_ptr>(in), planes[ci], row, 1, TRUE);
      JCOEFPTR c = blocks[0][0];
      for (JDIMENSION b = 0; b < component.width_in_blocks; ++b, c += DCTSIZE2) {
        for (int k = 0; k < DCTSIZE2; ++k) {
          const int v = c[k];
          int q = static_cast<int>(static_cast<float>(v < 0 ? -v : v) * ratio[k] + bias[k]);
          if (q > kMaxCoefficient) q = kMaxCoefficient;
          c[k] = static_cast<JCOEF>(v < 0 ? -q : q);
        }
      }
    }
  }
}

// Reads the coefficients and writes them requantised into the frame. A file that draws a
// warning (damaged, cut short) is left with no frame: the usual reader says what it makes
// of it. The compress object reports to the session's errors, so its failures end the step
// as the decompressor's do.
void TranscodeStep(JpegSession* session, void* context) {
  Transcoding& t = *static_cast<Transcoding*>(context);
  jpeg_decompress_struct* in = &session->info;
  jvirt_barray_ptr* planes = jpeg_read_coefficients(in);
  if (planes == nullptr || in->err->num_warnings != 0) return;
  Requantise(in, planes, t.table);
  t.out.err = in->err;
  jpeg_create_compress(&t.out);
  t.outMade = true;
  jpeg_mem_dest(&t.out, &t.frame, &t.frameSize);
  jpeg_copy_critical_parameters(in, &t.out);
  JQUANT_TBL* quant = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&t.out));
  for (int k = 0; k < DCTSIZE2; ++k) quant->quantval[k] = t.table[k];
  for (JQUANT_TBL*& slot : t.out.quant_tbl_ptrs) slot = nullptr;
  t.out.quant_tbl_ptrs[0] = quant;
  for (int ci = 0; ci < t.out.num_components; ++ci) t.out.comp_info[ci].quant_tbl_no = 0;
  // Huffman tables made for each frame, as libavcodec's encoder makes them by default.
  t.out.optimize_coding = TRUE;
  jpeg_write_coefficients(&t.out, planes);
  jpeg_finish_compress(&t.out);
  jpeg_finish_decompress(in);
  if (in->err->num_warnings != 0) t.frameSize = 0;
}

}  // namespace

void MjpegQuantTable(int qscale, std::uint16_t table[64]) {
  table[0] = 8;
  for (int k = 1; k < 64; ++k) {
    const int step = kMpeg1Intra[k] * qscale >> 3;
    table[k] = static_cast<std::uint16_t>(step < 1 ? 1 : step > 255 ? 255 : step);
  }
}

void OfferMjpegFrames(int qscale, int width, int height) {
  const bool offered = qscale >= 2 && qscale <= 31 && width > 0 && height > 0 && width <= 0xffff && height <= 0xffff;
  g_offer.store(offered ? static_cast<std::uint64_t>(qscale) << 32 | static_cast<std::uint64_t>(width) << 16 |
                              static_cast<std::uint64_t>(height)
                        : 0,
                std::memory_order_relaxed);
}

std::uint64_t MjpegOfferBytes() {
  const Offer offer = CurrentOffer();
  if (offer.qscale == 0) return 0;
  // Whole 16 x 16 units of 4:2:0, 1.5 samples a pixel of 2 bytes each.
  const std::uint64_t pixels = static_cast<std::uint64_t>((offer.width + 15) / 16 * 16) * ((offer.height + 15) / 16 * 16);
  return 2 * 3 * pixels;
}

PackedDib TranscodeToMjpeg(const std::uint8_t* jpeg, std::size_t size) {
  const Offer offer = CurrentOffer();
  if (offer.qscale == 0 || jpeg == nullptr || size == 0) return PackedDib();
  JpegDecompressor decoder;
  if (!decoder.Open(jpeg, size) || !Suits(decoder.info(), offer)) return PackedDib();
  Transcoding t;
  MjpegQuantTable(offer.qscale, t.table);
  if (!decoder.Run(TranscodeStep, &t) || t.frameSize == 0 || t.frameSize > 0xffffffffu - kDibHeaderSize) {
    return PackedDib();
  }
  PackedDib dib = PackedDib::AllocateForOverwrite(kDibHeaderSize + static_cast<std::uint64_t>(t.frameSize));
  if (!dib) return dib;
  DibHeader header = MakeDibHeader(static_cast<std::int32_t>(decoder.info().image_width),
                                   static_cast<std::int32_t>(decoder.info().image_height), 24,
                                   static_cast<std::uint32_t>(t.frameSize));
  header.compression = kMjpegFourcc;
  dib.set_header(header);
  std::memcpy(dib.data() + kDibHeaderSize, t.frame, t.frameSize);
  return dib;
}

const std::uint8_t* MjpegFrameOf(const PackedDib& dib, std::size_t* size) {
  if (!dib || dib.size() < static_cast<std::size_t>(kDibHeaderSize)) return nullptr;
  const DibHeader header = dib.header();
  if (header.compression != kMjpegFourcc || header.sizeImage != dib.size() - kDibHeaderSize) return nullptr;
  if (size) *size = header.sizeImage;
  return dib.data() + kDibHeaderSize;
}

}  // namespace zelvo
