#pragma once
// Owners of the libav objects the Linux codecs, containers and sound source hold, one per
// kind, and the sentence for a libav error code.
#include <memory>
#include <string>

#include "image/av_calls_posix.h"

namespace zelvo {

// libav's own text for `code` (an AVERROR value), in English.
std::string AvErrorText(int code);

struct AvDeleter {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
  void operator()(AVFrame* p) const { av_frame_free(&p); }
  void operator()(AVPacket* p) const { av_packet_free(&p); }
  void operator()(AVDictionary* p) const { av_dict_free(&p); }
  void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
  void operator()(SwsContext* p) const { sws_freeContext(p); }
  void operator()(SwrContext* p) const { swr_free(&p); }
  void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
// A demuxer's context is closed with its input; a muxer's is freed (its output is the
// caller's).
struct AvInputClose {
  void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct AvOutputFree {
  void operator()(AVFormatContext* p) const { avformat_free_context(p); }
};

template <typename T>
using AvOwner = std::unique_ptr<T, AvDeleter>;
using AvInput = std::unique_ptr<AVFormatContext, AvInputClose>;
using AvOutput = std::unique_ptr<AVFormatContext, AvOutputFree>;

}  // namespace zelvo
