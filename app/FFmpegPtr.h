// Owners of FFmpeg's C objects, written once and used by every engine. Each is a
// unique_ptr with the matching free call, so an early return releases everything.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tw {

// The largest single block the media libraries may allocate. A damaged or hostile file can
// declare a tag of gigabytes, which a demuxer allocates and clears before it finds the file
// shorter (a 155-byte WAV took 2 GB); no real media needs one block of this size.
constexpr std::size_t kMediaAllocationLimit = std::size_t{512} << 20;
// Applies the limit to the whole process; every program calls it once at start.
inline void LimitMediaAllocations() { av_max_alloc(kMediaAllocationLimit); }

struct FormatInputDeleter {
  void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
// An output context; closes its file (when it opened one) and frees the context.
struct FormatOutputDeleter {
  void operator()(AVFormatContext* ctx) const {
    if (!ctx) return;
    if (ctx->oformat && !(ctx->oformat->flags & AVFMT_NOFILE) && ctx->pb) avio_closep(&ctx->pb);
    avformat_free_context(ctx);
  }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwrDeleter {
  void operator()(SwrContext* swr) const { swr_free(&swr); }
};
struct SwsDeleter {
  void operator()(SwsContext* sws) const { sws_freeContext(sws); }
};
struct AudioFifoDeleter {
  void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
struct FilterGraphDeleter {
  void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};

using FormatInputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using FormatOutputPtr = std::unique_ptr<AVFormatContext, FormatOutputDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

inline FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }

// Opens a file for demuxing (no format hint, no options); null on failure.
inline FormatInputPtr OpenInput(const std::string& pathUtf8) {
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, pathUtf8.c_str(), nullptr, nullptr) < 0) return nullptr;
  return FormatInputPtr(ctx);
}

// Opens a file for demuxing with an interrupt callback, so that a blocking read can be cut
// short; null on failure with the library's code in *error.
inline FormatInputPtr OpenInput(const std::string& pathUtf8, AVIOInterruptCB interrupt, int* error) {
  AVFormatContext* ctx = avformat_alloc_context();
  if (!ctx) {
    *error = AVERROR(ENOMEM);
    return nullptr;
  }
  ctx->interrupt_callback = interrupt;
  // On failure avformat_open_input frees the context itself.
  *error = avformat_open_input(&ctx, pathUtf8.c_str(), nullptr, nullptr);
  if (*error < 0) return nullptr;
  return FormatInputPtr(ctx);
}

// A decoder context for a stream, opened; null when no decoder exists or it cannot open.
inline CodecContextPtr OpenDecoder(const AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return nullptr;
  CodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return nullptr;
  if (avcodec_parameters_to_context(ctx.get(), stream->codecpar) < 0) return nullptr;
  ctx->pkt_timebase = stream->time_base;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
  return ctx;
}

}  // namespace tw
