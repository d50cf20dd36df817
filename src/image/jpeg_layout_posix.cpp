#include "image/jpeg_layout_posix.h"

#include "image/jpeg_markers.h"

namespace zelvo {
namespace {

// Where libjpeg shows the file's chroma as ffmpeg does: where chroma is not subsampled, or
// halved across (4:2:2) or both ways (4:2:0), which libswscale's unscaled conversion repeats
// as libjpeg repeats it. ffmpeg interpolates the chroma of 4:4:0, 4:1:1 and other layouts
// (libjpeg differs there by dozens of levels at sharp edges), so those go to libavcodec.
// libjpeg also takes at most 10 blocks to a unit. `whole`: no component subsampled.
bool ChromaShownAlike(const jpeg_decompress_struct& info, bool* whole) {
  const jpeg_component_info* c = info.comp_info;
  *whole = true;
  if (info.num_components == 1) return true;
  int blocks = c[0].h_samp_factor * c[0].v_samp_factor;
  for (int i = 1; i < info.num_components; ++i) {
    if (c[i].h_samp_factor != c[1].h_samp_factor || c[i].v_samp_factor != c[1].v_samp_factor) return false;
    blocks += c[i].h_samp_factor * c[i].v_samp_factor;
  }
  if (blocks > D_MAX_BLOCKS_IN_MCU || c[0].h_samp_factor % c[1].h_samp_factor != 0 ||
      c[0].v_samp_factor % c[1].v_samp_factor != 0)
    return false;
  const int across = c[0].h_samp_factor / c[1].h_samp_factor;
  const int down = c[0].v_samp_factor / c[1].v_samp_factor;
  *whole = across == 1 && down == 1;
  return *whole || (across == 2 && (down == 1 || down == 2));
}

// The colour space ffmpeg's decoder reads the file in, where libjpeg shows it alike: grey;
// three components in YCbCr, or in RGB when an Adobe segment says so (transform 0) or
// their ids are ffmpeg's other RGB mark ('Q', 'F', 'A'), unsubsampled; four unsubsampled
// components in Adobe CMYK or YCCK. JCS_UNKNOWN for the rest, which go to libavcodec.
J_COLOR_SPACE ColourSpaceOf(const jpeg_decompress_struct& info) {
  bool whole = false;
  if (!ChromaShownAlike(info, &whole)) return JCS_UNKNOWN;
  const bool adobe = info.saw_Adobe_marker;
  switch (info.num_components) {
    case 1:
      return JCS_GRAYSCALE;
    case 3: {
      const jpeg_component_info* c = info.comp_info;
      const bool marked = c[0].component_id == 'Q' && c[1].component_id == 'F' && c[2].component_id == 'A';
      return whole && ((adobe && info.Adobe_transform == 0) || marked) ? JCS_RGB : JCS_YCbCr;
    }
    case 4:
      if (!whole || !adobe) return JCS_UNKNOWN;
      return info.Adobe_transform == 0 ? JCS_CMYK : info.Adobe_transform == 2 ? JCS_YCCK : JCS_UNKNOWN;
    default:
      return JCS_UNKNOWN;
  }
}


}  // namespace

bool PlanJpegLayout(jpeg_decompress_struct* info, JpegLayout* layout) {
  const J_COLOR_SPACE space = ColourSpaceOf(*info);
  if (space == JCS_UNKNOWN) return false;
  info->jpeg_color_space = space;
  // Four components come as stored: ffmpeg combines them with K in its own way.
  info->out_color_space = space == JCS_CMYK || space == JCS_YCCK ? space : JCS_EXT_BGR;
  info->dct_method = JDCT_ISLOW;
  info->do_fancy_upsampling = FALSE;
  info->mem->max_memory_to_use = static_cast<long>(kMostJpegWorkingBytes);
  layout->out = info->out_color_space;
  layout->orientation = JpegOrientation(*info);
  layout->width = static_cast<int>(info->image_width);
  layout->height = static_cast<int>(info->image_height);
  const bool across = layout->orientation >= 5;
  layout->outWidth = across ? layout->height : layout->width;
  layout->outHeight = across ? layout->width : layout->height;
  layout->direct = layout->out == JCS_EXT_BGR && !across;
  return true;
}

std::uint64_t JpegWorkingBytes(jpeg_decompress_struct* info, std::uint64_t rowBytes) {
  const bool buffered = jpeg_has_multiple_scans(info);
  std::uint64_t bytes = rowBytes;
  for (int c = 0; c < info->num_components; ++c) {
    const jpeg_component_info& comp = info->comp_info[c];
    const std::uint64_t across = (std::uint64_t{comp.width_in_blocks} + comp.h_samp_factor - 1) / comp.h_samp_factor *
                                 comp.h_samp_factor;
    const std::uint64_t down = (std::uint64_t{comp.height_in_blocks} + comp.v_samp_factor - 1) / comp.v_samp_factor *
                               comp.v_samp_factor;
    if (buffered) bytes += across * down * sizeof(JBLOCK);
    bytes += 2 * across * DCTSIZE * std::uint64_t{static_cast<unsigned>(info->max_v_samp_factor)} * DCTSIZE;
  }
  return bytes;
}

// The first EXIF orientation among the APP1 segments libjpeg kept; 1 when none gives one.
int JpegOrientation(const jpeg_decompress_struct& info) {
  for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 1) continue;
    const int orientation = ExifOrientation(m->data, m->data_length);
    if (orientation != 0) return orientation;
  }
  return 1;
}

}  // namespace zelvo
