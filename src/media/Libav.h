// SPDX-License-Identifier: GPL-2.0-or-later
// The libav* functions the MP4 writer and the recording decoder call, loaded from the shared
// libraries when first needed: linked in, their hundred-odd dependencies would load with every
// start of the program. libavformat, whose dependencies weigh most, only for decoding.
#pragma once
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace media {

// One row per function: the library it comes from, its name.
#define LIBAV_FUNCTIONS(X)                                                                          \
  X(avutil, av_log_set_level) X(avutil, av_strerror) X(avutil, av_malloc) X(avutil, av_free)        \
  X(avutil, av_freep) X(avutil, av_strdup) X(avutil, av_dict_set) X(avutil, av_dict_set_int)         \
  X(avutil, av_dict_free) X(avutil, av_frame_alloc) X(avutil, av_frame_free)                         \
  X(avutil, av_frame_get_buffer) X(avutil, av_frame_unref) X(avutil, av_channel_layout_default)      \
  X(avutil, av_channel_layout_copy) X(avutil, av_channel_layout_uninit) X(avutil, av_samples_alloc)  \
  X(avutil, av_audio_fifo_alloc) X(avutil, av_audio_fifo_free) X(avutil, av_audio_fifo_size)         \
  X(avutil, av_audio_fifo_write) X(avutil, av_audio_fifo_read)                                       \
  X(avcodec, avcodec_find_encoder) X(avcodec, avcodec_find_encoder_by_name)                          \
  X(avcodec, avcodec_alloc_context3) X(avcodec, avcodec_open2) X(avcodec, avcodec_free_context)      \
  X(avcodec, avcodec_parameters_from_context) X(avcodec, avcodec_send_frame)                         \
  X(avcodec, avcodec_receive_packet) X(avcodec, av_packet_alloc) X(avcodec, av_packet_free)          \
  X(avcodec, avcodec_find_decoder) X(avcodec, avcodec_parameters_to_context)                         \
  X(avcodec, avcodec_send_packet) X(avcodec, avcodec_receive_frame) X(avcodec, av_packet_unref)      \
  X(swscale, sws_getContext) X(swscale, sws_setColorspaceDetails) X(swscale, sws_getCoefficients)   \
  X(swscale, sws_scale) X(swscale, sws_freeContext)                                                  \
  X(swresample, swr_alloc_set_opts2) X(swresample, swr_init) X(swresample, swr_free)                 \
  X(swresample, swr_get_out_samples) X(swresample, swr_convert)

// The container reader's, for decoding a stored recording.
#define LIBAV_FORMAT_FUNCTIONS(X)                                                                   \
  X(avformat, avio_alloc_context) X(avformat, avio_context_free) X(avformat, avformat_alloc_context) \
  X(avformat, avformat_open_input) X(avformat, avformat_find_stream_info)                           \
  X(avformat, av_find_best_stream) X(avformat, avformat_close_input) X(avformat, av_read_frame)

struct Libav {
#define LIBAV_POINTER(library, name) decltype(&::name) name = nullptr;
  LIBAV_FUNCTIONS(LIBAV_POINTER)
  LIBAV_FORMAT_FUNCTIONS(LIBAV_POINTER)
#undef LIBAV_POINTER
};

// The functions, loaded once (the libraries whose major versions the program was built against);
// nullptr, with why in words, when a library or a function is missing. LoadLibav leaves the
// container reader's out; LoadLibavWithFormats loads them too.
const Libav* LoadLibav(std::string* why);
const Libav* LoadLibavWithFormats(std::string* why);

}  // namespace media
