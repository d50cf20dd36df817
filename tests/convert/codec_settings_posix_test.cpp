// Which settings each codec uses, checked against the encoders themselves: a setting said
// to be unused leaves every compressed byte as it was, a setting said to be used changes
// them.
#include "convert/codec_settings_posix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelvo {
namespace {

// Six 64x48 frames of moving stripes, encoded with `choice`: every packet's bytes in order.
std::vector<std::uint8_t> Encoded(const CodecChoice& choice) {
  constexpr int kWidth = 64, kHeight = 48;
  VideoEncoder encoder;
  std::string error;
  EXPECT_TRUE(encoder.Open(choice, kWidth, kHeight, 1000, 15000, &error)) << choice.codec << ": " << error;
  std::vector<std::uint8_t> out;
  const VideoEncoder::PacketSink sink = [&out](const std::uint8_t* data, std::size_t size, bool) {
    out.insert(out.end(), data, data + size);
    return true;
  };
  std::vector<std::uint8_t> canvas(kWidth * 3 * kHeight);
  for (int frame = 0; frame < 6; ++frame) {
    for (std::size_t i = 0; i < canvas.size(); ++i) canvas[i] = static_cast<std::uint8_t>((i / 3 + frame * 7) * 37 % 251);
    EXPECT_TRUE(encoder.Encode(canvas.data(), kWidth * 3, sink));
  }
  EXPECT_TRUE(encoder.Drain(sink));
  return out;
}

TEST(CodecUses, AgreesWithWhatTheEncodersDoWithEachSetting) {
  struct Setting {
    CodecSetting setting;
    void (*apply)(CodecChoice*);
  } settings[] = {
      {CodecSetting::kQuality, [](CodecChoice* c) { c->quality = 10; }},
      {CodecSetting::kKeyFrames, [](CodecChoice* c) { c->keyFrameEvery = 2; }},
      {CodecSetting::kDataRate, [](CodecChoice* c) { c->dataRate = 20; }},
  };
  for (const CodecInfo& info : ListCodecs()) {
    if (std::string(info.name) == "dib") continue;  // written without an encoder
    CodecChoice plain;
    plain.codec = info.name;
    plain.threads = 1;  // the same bytes on every run
    const std::vector<std::uint8_t> reference = Encoded(plain);
    for (const Setting& s : settings) {
      CodecChoice changed = plain;
      s.apply(&changed);
      SCOPED_TRACE(std::string(info.name) + " setting " + std::to_string(static_cast<int>(s.setting)));
      EXPECT_EQ(Encoded(changed) != reference, CodecUses(info.name, s.setting));
    }
  }
}

TEST(UnusedCodecSettings, NamesEachSettingTheCodecDropsOnce) {
  struct Case {
    const char* codec;
    int quality, keyFrameEvery, dataRate;
    std::vector<std::string> warnings;
  } cases[] = {
      {"dib", 50, 10, 100,
       {"the codec dib does not use --quality", "the codec dib does not use --keyint: every frame is a key frame",
        "the codec dib does not use --bitrate"}},
      {"dib", -1, 0, 0, {}},
      {"ffv1", 50, 10, 100, {"the codec ffv1 does not use --quality", "the codec ffv1 does not use --bitrate"}},
      {"mjpeg", 50, 10, 0, {"the codec mjpeg does not use --keyint: every frame is a key frame"}},
      {"h264", 50, 10, 0, {}},
      {"h264", 50, 0, 100, {"--quality is not used: --bitrate sets the data rate instead"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    CodecChoice choice;
    choice.codec = c.codec;
    choice.quality = c.quality;
    choice.keyFrameEvery = c.keyFrameEvery;
    choice.dataRate = c.dataRate;
    EXPECT_EQ(UnusedCodecSettings(choice), c.warnings);
  }
}

}  // namespace
}  // namespace zelvo
