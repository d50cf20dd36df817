#include "convert/movie_picture_posix.h"

#include "convert/codec_posix.h"
#include "platform/messages_posix.h"

namespace zelvo {

bool MoviePicture::Start(int width, int height, int fitWidth, int fitHeight, const std::string& codec,
                         const NoticeSink& notice) {
  Reset();
  width_ = height_ = 0;
  fit_ = fitWidth > 0 && fitHeight > 0;
  // A top-down first frame reports a negative height; the picture is as tall as the frame,
  // stored bottom-up like every canvas.
  const long long frameHeight = height < 0 ? -static_cast<long long>(height) : height;
  if (width <= 0 || frameHeight <= 0 || frameHeight > 0x7fffffff) return false;
  int pictureWidth = fit_ ? fitWidth : width;
  int pictureHeight = fit_ ? fitHeight : static_cast<int>(frameHeight);
  // With one size for every frame that size is the user's, checked against the codec
  // before the job.
  const bool padded = !fit_ && PadToCodecSize(codec, &pictureWidth, &pictureHeight);
  // The canvas's size check: it also bounds every size the writers put in their files.
  if (!CheckedDibGeometry(pictureWidth, pictureHeight, 24, &geometry_)) return false;
  width_ = pictureWidth;
  height_ = pictureHeight;
  if (padded && notice) {
    notice(FormatText(Tr("%s takes only even sizes: frames of %dx%d are padded with black to %dx%d"), codec.c_str(),
                      width, static_cast<int>(frameHeight), width_, height_));
  }
  return true;
}

bool MoviePicture::EnsureCanvas() { return !canvas_.empty() || (width_ > 0 && canvas_.Create(width_, height_)); }

FrameCanvas& MoviePicture::canvas() {
  EnsureCanvas();
  return canvas_;
}

void MoviePicture::Reset() { canvas_.Reset(); }

WriteFailure MoviePicture::Paint(const PackedDib& image, const std::uint8_t** rows) {
  DibView view;
  const bool pictureShaped = ViewDrawableDib(image, &view) == DibDrawable::kYes && view.header.bitCount == 24 &&
                             !view.topDown && view.header.width == width_ &&
                             view.geometry.rows == static_cast<std::uint64_t>(height_);
  // Drawing such a frame would copy every byte of it onto the canvas unchanged.
  if (pictureShaped) {
    *rows = view.pixels;
    return WriteFailure::kNone;
  }
  if (!EnsureCanvas()) return WriteFailure::kNoMemory;
  const int drawn = fit_ ? fitter_.Draw(canvas_, image) : DrawPackedDib(canvas_, image);
  if (drawn != 0) return WriteFailure::kNotDrawn;
  *rows = canvas_.data();
  return WriteFailure::kNone;
}

}  // namespace zelvo
