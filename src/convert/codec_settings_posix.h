#pragma once
// Which of the settings quality, key frame interval and data rate each codec makes use of.
// A setting the chosen codec does not use would be dropped without a word; the program
// warns about it instead, and the codec menu does not ask for it.
#include <string>
#include <vector>

#include "convert/codec_posix.h"

namespace zelvo {

enum class CodecSetting { kQuality, kKeyFrames, kDataRate };

// Whether `codec` (a canonical name) uses the setting: quality only the lossy codecs
// (mjpeg, mpeg4, h264); a key frame interval only the codecs with frames between key
// frames (ffv1, mpeg4, h264; full frames, MJPEG and HuffYUV make every frame a key frame);
// a data rate only the lossy codecs, whose rate control aims at it.
bool CodecUses(const std::string& codec, CodecSetting setting);

// One sentence in the user's language for each setting of `choice` that its codec does not
// use (quality, key frame interval, data rate, named by their options), and for a quality
// that a data rate replaces. Empty when every setting given is used.
std::vector<std::string> UnusedCodecSettings(const CodecChoice& choice);

}  // namespace zelvo
