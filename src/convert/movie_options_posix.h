#pragma once
// What the Linux program asks of a movie besides its codec and rate, the same for every
// container: a sound track and one size for every frame. The writers take it when they
// are made, before the job asks for the codec.
#include <functional>
#include <string>

#include "convert/codec_posix.h"

namespace zelvo {

struct MovieOptions {
  Container container = Container::kAvi;
  std::string soundPath;  // --audio: any file libavformat reads; empty for none
  int fitWidth = 0;       // --size: every frame scaled to fit inside fitWidth x fitHeight;
  int fitHeight = 0;      // 0 x 0 keeps the first frame's size
  // Told what the user may want to know that does not stop the job (frames padded to an
  // even size), in the user's language; null says nothing.
  std::function<void(const std::string& text)> notice;
};

}  // namespace zelvo
