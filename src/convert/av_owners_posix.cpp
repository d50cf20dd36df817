#include "convert/av_owners_posix.h"

#include "image/av_calls_posix.h"

namespace zelvo {

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace zelvo
