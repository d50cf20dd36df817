#include "image/jpeg_transcode_posix.h"

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

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
// The coefficients of a whole frame are held at once (2 bytes a sample, 1.5 samples a
// pixel): frames past the read-ahead pool's smallest budget are read the usual way.
constexpr std::uint64_t kMaxPixels = (256u << 20) / 3;

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

// libjpeg's way out of a failed step is a jump back into Run; nothing is printed.
struct ErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
[[noreturn]] void Jump(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorTrap*>(info->err)->jump, 1); }
void Silent(j_common_ptr) {}

// Everything Run touches lives here, outside the frame a jump leaves.
struct Transcoding {
  ErrorTrap trap;
  jpeg_decompress_struct in;
  jpeg_compress_struct out;
  bool inMade = false, outMade = false;
  unsigned char* frame = nullptr;
  unsigned long frameSize = 0;
  ~Transcoding() {
    if (outMade) jpeg_destroy_compress(&out);
    if (inMade) jpeg_destroy_decompress(&in);
    std::free(frame);
  }
};

bool Suits(const jpeg_decompress_struct& in, const Offer& offer) {
  const jpeg_component_info* c = in.comp_info;
  const std::uint64_t pixels = static_cast<std::uint64_t>(in.image_width) * in.image_height;
  return in.num_components == 3 && in.jpeg_color_space == JCS_YCbCr && in.data_precision == 8 &&
         c[0].h_samp_factor == 2 && c[0].v_samp_factor == 2 && c[1].h_samp_factor == 1 &&
         c[1].v_samp_factor == 1 && c[2].h_samp_factor == 1 && c[2].v_samp_factor == 1 && pixels <= kMaxPixels &&
         (offer.width == 0 || offer.height == 0 ||
          (static_cast<int>(in.image_width) == offer.width && static_cast<int>(in.image_height) == offer.height));
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

// Reads `jpeg`'s coefficients and writes them requantised into t->frame; false when the
// file does not suit the offer, draws a warning, or fails.
bool Run(Transcoding* t, const std::uint8_t* jpeg, std::size_t size, const Offer& offer) {
  t->in.err = t->out.err = jpeg_std_error(&t->trap.manager);
  t->trap.manager.error_exit = Jump;
  t->trap.manager.output_message = Silent;
  if (setjmp(t->trap.jump)) return false;
  jpeg_create_decompress(&t->in);
  t->inMade = true;
  jpeg_mem_src(&t->in, jpeg, static_cast<unsigned long>(size));
  if (jpeg_read_header(&t->in, TRUE) != JPEG_HEADER_OK || !Suits(t->in, offer)) return false;
  jvirt_barray_ptr* planes = jpeg_read_coefficients(&t->in);
  // A damaged stream reads on with zeros and a warning: the usual reader says what it makes of it.
  if (planes == nullptr || t->trap.manager.num_warnings != 0) return false;

  std::uint16_t table[64];
  MjpegQuantTable(offer.qscale, table);
  Requantise(&t->in, planes, table);

  jpeg_create_compress(&t->out);
  t->outMade = true;
  jpeg_mem_dest(&t->out, &t->frame, &t->frameSize);
  jpeg_copy_critical_parameters(&t->in, &t->out);
  JQUANT_TBL* quant = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&t->out));
  for (int k = 0; k < DCTSIZE2; ++k) quant->quantval[k] = table[k];
  for (JQUANT_TBL*& slot : t->out.quant_tbl_ptrs) slot = nullptr;
  t->out.quant_tbl_ptrs[0] = quant;
  for (int ci = 0; ci < t->out.num_components; ++ci) t->out.comp_info[ci].quant_tbl_no = 0;
  // Huffman tables made for each frame, as libavcodec's encoder makes them by default.
  t->out.optimize_coding = TRUE;
  jpeg_write_coefficients(&t->out, planes);
  jpeg_finish_compress(&t->out);
  jpeg_finish_decompress(&t->in);
  return t->trap.manager.num_warnings == 0;
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
  const bool sized = width > 0 && height > 0 && width <= 0xffff && height <= 0xffff;
  const std::uint64_t packed =
      qscale < 2 || qscale > 31
          ? 0
          : static_cast<std::uint64_t>(qscale) << 32 |
                (sized ? static_cast<std::uint64_t>(width) << 16 | static_cast<std::uint64_t>(height) : 0);
  g_offer.store(packed, std::memory_order_relaxed);
}

PackedDib TranscodeToMjpeg(const std::uint8_t* jpeg, std::size_t size) {
  const Offer offer = CurrentOffer();
  if (offer.qscale == 0 || jpeg == nullptr || size == 0) return PackedDib();
  Transcoding t;
  if (!Run(&t, jpeg, size, offer) || t.frameSize == 0 || t.frameSize > 0xffffffffu - kDibHeaderSize) {
    return PackedDib();
  }
  PackedDib dib = PackedDib::AllocateForOverwrite(kDibHeaderSize + static_cast<std::uint64_t>(t.frameSize));
  if (!dib) return dib;
  DibHeader header = MakeDibHeader(static_cast<std::int32_t>(t.in.image_width),
                                   static_cast<std::int32_t>(t.in.image_height), 24,
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
