#include "convert/codec_settings_posix.h"

#include "platform/messages_posix.h"

namespace zelvo {

namespace {

struct CodecUse {
  const char* codec;
  bool quality;
  bool keyFrames;
  bool dataRate;
};

const CodecUse kUses[] = {
    {"dib", false, false, false},   {"mjpeg", true, false, true}, {"ffv1", false, true, false},
    {"huffyuv", false, false, false}, {"mpeg4", true, true, true},  {"h264", true, true, true},
};

}  // namespace

bool CodecUses(const std::string& codec, CodecSetting setting) {
  for (const CodecUse& use : kUses) {
    if (codec != use.codec) continue;
    switch (setting) {
      case CodecSetting::kQuality: return use.quality;
      case CodecSetting::kKeyFrames: return use.keyFrames;
      case CodecSetting::kDataRate: return use.dataRate;
    }
  }
  return true;  // a codec of no entry is left to its encoder
}

std::vector<std::string> UnusedCodecSettings(const CodecChoice& choice) {
  std::vector<std::string> unused;
  const char* codec = choice.codec.c_str();
  if (choice.quality >= 0 && !CodecUses(choice.codec, CodecSetting::kQuality))
    unused.push_back(FormatText(Tr("the codec %s does not use --quality"), codec));
  else if (choice.quality >= 0 && choice.dataRate > 0)
    unused.push_back(Tr("--quality is not used: --bitrate sets the data rate instead"));
  if (choice.keyFrameEvery > 0 && !CodecUses(choice.codec, CodecSetting::kKeyFrames))
    unused.push_back(FormatText(Tr("the codec %s does not use --keyint: every frame is a key frame"), codec));
  if (choice.dataRate > 0 && !CodecUses(choice.codec, CodecSetting::kDataRate))
    unused.push_back(FormatText(Tr("the codec %s does not use --bitrate"), codec));
  return unused;
}

}  // namespace zelvo
