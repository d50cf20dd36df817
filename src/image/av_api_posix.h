#pragma once
// The functions of libavutil, libavcodec, libavformat, libswscale and libswresample the
// Linux program calls, looked up when a job first needs them instead of linked. Linked,
// the five and the hundred-odd libraries they bring (x265, rav1e, gnutls, librsvg...)
// were mapped before the program read its options: some 30 MB of peak memory in every
// run, also in the jobs that read BMP and PNG into full frames and never call them.
//
// Callers include image/av_calls_posix.h, which names each function after its entry
// here, and call libav by its own names. Before the first call in a piece of work, the
// entry points (opening a codec, a container, a sound file or a scaler, reading a frame of
// a format libavcodec decodes, --version, the codec menu) call LoadLibav and fail in their
// own way, with its sentence, when the libraries cannot be had.
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avutil.h>
#include <libavutil/buffer.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

// X(library, function) for every function called: the library is the file it comes from
// (libavcodec.so.<its major version>...). A function added here needs its line in
// image/av_calls_posix.h too; a call whose line is missing fails to link.
#define ZELVO_LIBAV_FUNCTIONS(X) \
  X(avutil, av_audio_fifo_alloc) \
  X(avutil, av_audio_fifo_free) \
  X(avutil, av_audio_fifo_read) \
  X(avutil, av_audio_fifo_size) \
  X(avutil, av_audio_fifo_write) \
  X(avutil, av_buffer_allocz) \
  X(avutil, av_buffer_create) \
  X(avutil, av_buffer_pool_get) \
  X(avutil, av_buffer_pool_init) \
  X(avutil, av_buffer_pool_uninit) \
  X(avutil, av_channel_layout_copy) \
  X(avutil, av_channel_layout_default) \
  X(avutil, av_channel_layout_uninit) \
  X(avutil, av_cpu_count) \
  X(avutil, av_dict_free) \
  X(avutil, av_dict_get) \
  X(avutil, av_dict_parse_string) \
  X(avutil, av_dict_set) \
  X(avutil, av_frame_alloc) \
  X(avutil, av_frame_free) \
  X(avutil, av_frame_get_buffer) \
  X(avutil, av_frame_is_writable) \
  X(avutil, av_frame_unref) \
  X(avutil, av_free) \
  X(avutil, av_freep) \
  X(avutil, av_get_bytes_per_sample) \
  X(avutil, av_image_copy) \
  X(avutil, av_image_fill_arrays) \
  X(avutil, av_image_fill_black) \
  X(avutil, av_image_fill_linesizes) \
  X(avutil, av_image_fill_plane_sizes) \
  X(avutil, av_image_get_buffer_size) \
  X(avutil, av_log_default_callback) \
  X(avutil, av_log_get_level) \
  X(avutil, av_log_set_callback) \
  X(avutil, av_log_set_level) \
  X(avutil, av_malloc) \
  X(avutil, av_opt_set_double) \
  X(avutil, av_opt_set) \
  X(avutil, av_opt_set_int) \
  X(avutil, av_pix_fmt_desc_get) \
  X(avutil, av_reduce) \
  X(avutil, av_rescale_rnd) \
  X(avutil, av_samples_set_silence) \
  X(avutil, av_strerror) \
  X(avutil, avutil_version) \
  X(avcodec, av_fast_padded_malloc) \
  X(avcodec, av_packet_alloc) \
  X(avcodec, av_packet_free) \
  X(avcodec, av_packet_ref) \
  X(avcodec, av_packet_rescale_ts) \
  X(avcodec, av_packet_unref) \
  X(avcodec, avcodec_align_dimensions2) \
  X(avcodec, avcodec_alloc_context3) \
  X(avcodec, avcodec_find_best_pix_fmt_of_list) \
  X(avcodec, avcodec_find_decoder) \
  X(avcodec, avcodec_find_encoder) \
  X(avcodec, avcodec_free_context) \
  X(avcodec, avcodec_open2) \
  X(avcodec, avcodec_parameters_from_context) \
  X(avcodec, avcodec_parameters_to_context) \
  X(avcodec, avcodec_receive_frame) \
  X(avcodec, avcodec_receive_packet) \
  X(avcodec, avcodec_send_frame) \
  X(avcodec, avcodec_send_packet) \
  X(avcodec, avcodec_version) \
  X(avformat, av_find_best_stream) \
  X(avformat, av_guess_format) \
  X(avformat, av_interleaved_write_frame) \
  X(avformat, av_read_frame) \
  X(avformat, av_write_frame) \
  X(avformat, av_write_trailer) \
  X(avformat, avformat_alloc_context) \
  X(avformat, avformat_alloc_output_context2) \
  X(avformat, avformat_close_input) \
  X(avformat, avformat_find_stream_info) \
  X(avformat, avformat_free_context) \
  X(avformat, avformat_new_stream) \
  X(avformat, avformat_open_input) \
  X(avformat, avformat_version) \
  X(avformat, avformat_write_header) \
  X(avformat, avio_alloc_context) \
  X(avformat, avio_context_free) \
  X(avformat, avio_feof) \
  X(avformat, avio_flush) \
  X(swscale, sws_alloc_context) \
  X(swscale, sws_freeContext) \
  X(swscale, sws_getCachedContext) \
  X(swscale, sws_getCoefficients) \
  X(swscale, sws_getColorspaceDetails) \
  X(swscale, sws_init_context) \
  X(swscale, sws_isSupportedInput) \
  X(swscale, sws_isSupportedOutput) \
  X(swscale, sws_scale) \
  X(swscale, sws_scale_frame) \
  X(swscale, sws_setColorspaceDetails) \
  X(swscale, swscale_version) \
  X(swresample, swr_alloc_set_opts2) \
  X(swresample, swr_convert_frame) \
  X(swresample, swr_free) \
  X(swresample, swr_init) \
  X(swresample, swresample_version)

namespace zelvo {

struct LibavFunctions {
#define ZELVO_LIBAV_POINTER(library, function) decltype(&::function) function = nullptr;
  ZELVO_LIBAV_FUNCTIONS(ZELVO_LIBAV_POINTER)
#undef ZELVO_LIBAV_POINTER
};

// Loads the five libraries of the major versions the program was built against and looks
// up every function of the table, once in the process (the first caller does it, callers
// on other threads wait for it), then routes libav's log through the decoders' filter
// (see av_image_reader_posix.h). True when all are there; otherwise false, every time,
// with one sentence in the user's language in *why (may be null) that names the library
// or function and the system's reason.
bool LoadLibav(std::string* why = nullptr);

// The table, loaded. Callers that may run without the libraries check LoadLibav first: a
// call that finds them missing ends the program with LoadLibav's sentence.
const LibavFunctions& LibavApi();

}  // namespace zelvo
