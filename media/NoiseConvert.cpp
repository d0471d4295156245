#include "media/NoiseConvert.h"

#include <glog/logging.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "media/AudioInput.h"
#include "media/NoiseRecords.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace tw {

namespace {

constexpr auto kSpaceWait = std::chrono::milliseconds(100);
constexpr auto kDataWait = std::chrono::milliseconds(10);
// How long the muxer waits for one side before it checks whether the other side's FIFO is
// full (the decoder then waits for room there and cannot deliver what the muxer wants).
constexpr int kWaitsBeforeSwitch = 20;

}  // namespace

const char* NoiseCrfForSelector(int selector) {
  switch (selector) {
    case 1:
      return "34";
    case 2:
      return "38";
    default:
      return "23";
  }
}

NoiseConvert::NoiseConvert(MessageSink* window, int itemId, std::string outputPath)
    : window_(window), itemId_(itemId), outputPath_(std::move(outputPath)), result_(outputPath_) {}

NoiseConvert::~NoiseConvert() {
  abandoned_ = true;
  stop_ = true;
  if (finishThread_.joinable()) finishThread_.join();
  if (decodeThread_.joinable()) decodeThread_.join();
  if (encodeThread_.joinable()) encodeThread_.join();
}

int NoiseConvert::Start(const std::string& inputPath, int qualitySelector, int fifoWidth, int fifoHeight,
                        int audioChannels, int audioRate, int64_t audioBitRate, int policy) {
  qualitySelector_ = qualitySelector;
  fifoWidth_ = fifoWidth;
  fifoHeight_ = fifoHeight;
  audioChannels_ = audioChannels == 1 ? 1 : 2;
  audioRate_ = audioRate > 0 ? audioRate : 44100;
  audioBitRate_ = audioBitRate;
  policy_ = policy;
  if (Open(inputPath) < 0) {
    Abandon();
    return -1;
  }
  try {
    decodeThread_ = std::thread(&NoiseConvert::DecodeThread, this);
    encodeThread_ = std::thread(&NoiseConvert::EncodeThread, this);
    finishThread_ = std::thread(&NoiseConvert::FinishThread, this);
  } catch (const std::system_error& e) {
    fprintf(stderr, "NoiseConvert thread start failed: %s\n", e.what());
    abandoned_ = true;
    stop_ = true;
    if (decodeThread_.joinable()) decodeThread_.join();
    if (encodeThread_.joinable()) encodeThread_.join();
    Abandon();
    return -1;
  }
  return 0;
}

void NoiseConvert::Abandon() {
  output_.reset();
  videoEncoder_.reset();
  audioEncoder_.reset();
  videoDecoder_.reset();
  audioDecoder_.reset();
  input_.reset();
  if (createdOutput_) {
    PublishPartFile(result_, false);
    createdOutput_ = false;
  }
}

void NoiseConvert::Fail(const char* what, int averror) {
  int none = 0;
  if (averror < 0) writeError_.compare_exchange_strong(none, AVUNERROR(averror));
  if (!failed_.exchange(true)) LOG(ERROR) << "noise job of row " << itemId_ << " fails: " << what;
  stop_ = true;
}

int NoiseConvert::Open(const std::string& inputPath) {
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, LocalFileUrl(inputPath).c_str(), nullptr, nullptr) < 0) {
    fprintf(stderr, "Could not open source file %s\n", inputPath.c_str());
    return -1;
  }
  input_.reset(in);
  if (avformat_find_stream_info(in, nullptr) < 0) {
    fprintf(stderr, "Could not find stream information\n");
    return -1;
  }
  totalSeconds_ = in->duration > 0 ? static_cast<double>(in->duration) / AV_TIME_BASE : 0;
  originUs_ = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
  if (OpenOutput(pictureCopyAllowed_) == 0) return 0;
  if (!copyPicture_) return -1;
  // The container named the picture's codec among its own but refused it when writing.
  fprintf(stderr, "The picture cannot be copied into %s; it is encoded again\n", outputPath_.c_str());
  ResetOutput();
  return OpenOutput(false);
}

// Undoes a set-up of the output that failed: the streams, codecs and part file it made.
void NoiseConvert::ResetOutput() {
  output_.reset();
  if (createdOutput_) {
    PublishPartFile(result_, false);
    createdOutput_ = false;
  }
  videoEncoder_.reset();
  videoDecoder_.reset();
  audioEncoder_.reset();
  audioDecoder_.reset();
  videoInStream_ = audioInStream_ = nullptr;
  videoOutStream_ = audioOutStream_ = nullptr;
  videoStreamIndex_ = audioStreamIndex_ = -1;
  copyPicture_ = false;
  covers_.clear();
  scaler_.reset();
  scaled_.reset();
  videoOptions_.clear();
}

bool NoiseConvert::CanCopyPicture(const AVStream* stream) const {
  const AVCodecID codec = stream->codecpar->codec_id;
  // 1: the container holds the codec; a negative answer means it does not know, and the header
  // will tell.
  return codec != AV_CODEC_ID_NONE &&
         avformat_query_codec(output_->oformat, codec, FF_COMPLIANCE_NORMAL) != 0;
}

int NoiseConvert::OpenOutput(bool copyPicture) {
  AVFormatContext* out = nullptr;
  if (avformat_alloc_output_context2(&out, nullptr, nullptr, outputPath_.c_str()) < 0 || !out) {
    fprintf(stderr, "Could not find output format for %s\n", outputPath_.c_str());
    return -1;
  }
  output_.reset(out);
  AVFormatContext* in = input_.get();
  // The first picture stream (cover pictures are no video) and the sound stream every engine
  // takes (ChooseSoundStream); the rest is left out.
  const int sound = ChooseSoundStream(in);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream* stream = in->streams[i];
    const AVMediaType type = stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO && !videoInStream_ &&
        !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      if ((copyPicture && CanCopyPicture(stream) ? OpenVideoCopy(stream) : OpenVideo(stream)) < 0) return -1;
    } else if (static_cast<int>(i) == sound) {
      if (OpenAudio(stream) < 0) return -1;
    }
  }
  if (!videoInStream_ && !audioInStream_) {
    fprintf(stderr, "Could not find a video or audio stream\n");
    return -1;
  }
  CopyResultTags(in, audioInStream_, out);
  if (!AddCoverStreams(in, out, outputPath_, covers_)) {
    fprintf(stderr, "Could not add the cover picture\n");
    return -1;
  }
  av_dump_format(out, 0, outputPath_.c_str(), 1);
  if (!(out->oformat->flags & AVFMT_NOFILE)) {
    if (OpenPartFile(out, result_) < 0) {
      fprintf(stderr, "Could not open output file '%s'\n", outputPath_.c_str());
      return -1;
    }
    createdOutput_ = true;
  }
  if (avformat_write_header(out, nullptr) < 0) {
    fprintf(stderr, "Error occurred when opening output file\n");
    return -1;
  }
  if (WriteCovers(out, covers_) < 0) {
    fprintf(stderr, "Could not write the cover picture\n");
    return -1;
  }
  return 0;
}

// The picture stream passed through as it is: its packets and their own times, shifted like
// the sound to start where the input starts.
int NoiseConvert::OpenVideoCopy(AVStream* stream) {
  AVStream* outStream = avformat_new_stream(output_.get(), nullptr);
  if (!outStream || avcodec_parameters_copy(outStream->codecpar, stream->codecpar) < 0) {
    fprintf(stderr, "Could not initialize stream parameters\n");
    return -1;
  }
  // The source's codec tag stays where the container knows it for the codec ("hvc1" in MP4).
  const AVOutputFormat* format = output_->oformat;
  if (!format->codec_tag ||
      av_codec_get_id(format->codec_tag, stream->codecpar->codec_tag) != stream->codecpar->codec_id)
    outStream->codecpar->codec_tag = 0;
  AVRational rate = av_guess_frame_rate(input_.get(), stream, nullptr);
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  // AVI counts frames rather than times: its pictures take one tick each.
  outStream->time_base = std::strcmp(format->name, "avi") == 0 ? av_inv_q(rate) : stream->time_base;
  outStream->avg_frame_rate = stream->avg_frame_rate;
  outStream->r_frame_rate = stream->r_frame_rate;
  outStream->sample_aspect_ratio = stream->sample_aspect_ratio;
  outStream->disposition = stream->disposition;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(stream->metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    if (IsDescriptiveTag(entry->key, entry->value))
      av_dict_set(&outStream->metadata, entry->key, entry->value, 0);
  }
  for (int i = 0; i < stream->nb_side_data; ++i) {
    const AVPacketSideData& side = stream->side_data[i];
    if (uint8_t* copy = av_stream_new_side_data(outStream, side.type, side.size))
      std::memcpy(copy, side.data, side.size);
  }
  const double seconds = stream->duration > 0 && stream->duration != AV_NOPTS_VALUE
                             ? stream->duration * av_q2d(stream->time_base)
                             : totalSeconds_;
  totalFrames_ = static_cast<int64_t>(seconds * av_q2d(rate));
  videoInStream_ = stream;
  videoStreamIndex_ = stream->index;
  videoOutStream_ = outStream;
  copyPicture_ = true;
  return 0;
}

int NoiseConvert::OpenVideo(AVStream* stream) {
  const AVCodec* decoderCodec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!decoderCodec) {
    fprintf(stderr, "Failed to find video decoder\n");
    return -1;
  }
  CodecContextPtr decoder(avcodec_alloc_context3(decoderCodec));
  if (!decoder) {
    fprintf(stderr, "Failed to allocate the video codec context\n");
    return -1;
  }
  if (avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) {
    fprintf(stderr, "Failed to copy video codec parameters to decoder context\n");
    return -1;
  }
  decoder->pkt_timebase = stream->time_base;
  AVRational rate = av_guess_frame_rate(input_.get(), stream, nullptr);
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  decoder->framerate = rate;
  // Decoding large pictures on one thread would leave the encoder waiting for pictures.
  decoder->thread_count = 2;
  if (avcodec_open2(decoder.get(), decoderCodec, nullptr) < 0) {
    fprintf(stderr, "Failed to open video codec\n");
    return -1;
  }
  const double seconds =
      stream->duration > 0 && stream->duration != AV_NOPTS_VALUE
          ? stream->duration * av_q2d(stream->time_base)
          : (input_->duration > 0 ? static_cast<double>(input_->duration) / AV_TIME_BASE : 0);
  const AVRational average =
      stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0 ? stream->avg_frame_rate : rate;
  totalFrames_ = static_cast<int64_t>(seconds * av_q2d(average));
  // The encoder writes 4:2:0 pictures, whose sides are even: an odd side is scaled to the even
  // size below it rather than refused.
  const int width = std::max(2, stream->codecpar->width & ~1);
  const int height = std::max(2, stream->codecpar->height & ~1);
  if (fifoWidth_ == 0 && fifoHeight_ == 0) {
    fifoWidth_ = decoder->width;
    fifoHeight_ = decoder->height;
  }

  const AVCodec* encoderCodec = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (!encoderCodec) {
    fprintf(stderr, "Failed to find video encoder\n");
    return -1;
  }
  CodecContextPtr encoder(avcodec_alloc_context3(encoderCodec));
  if (!encoder) {
    fprintf(stderr, "Failed to allocate the video encode context\n");
    return -1;
  }
  encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  encoder->width = width;
  encoder->height = height;
  encoder->sample_aspect_ratio = stream->codecpar->sample_aspect_ratio;
  encoder->pix_fmt = AV_PIX_FMT_YUV420P;
  // The source's own time base (when it is at least as fine as a frame) carries the source's
  // picture times over unchanged: a phone's variable frame rate stays in step with its sound.
  const AVRational frameTime = av_inv_q(rate);
  encoder->time_base =
      stream->time_base.num > 0 && stream->time_base.den > 0 && av_cmp_q(stream->time_base, frameTime) <= 0
          ? stream->time_base
          : frameTime;
  encoder->framerate = rate;
  encoder->thread_type = FF_THREAD_FRAME;
  encoder->thread_count = 2;
  const char* crf = NoiseCrfForSelector(qualitySelector_);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "preset", "ultrafast", 0);
  av_dict_set(&options, "tune", "zerolatency", 0);
  av_dict_set(&options, "profile", "main", 0);
  av_dict_set(&options, "crf", crf, 0);
  videoOptions_ = std::string("preset=ultrafast tune=zerolatency profile=main crf=") + crf;
  const int opened = avcodec_open2(encoder.get(), encoderCodec, &options);
  av_dict_free(&options);
  if (opened < 0) {
    fprintf(stderr, "Failed to open video encodec\n");
    return -1;
  }
  AVStream* outStream = avformat_new_stream(output_.get(), nullptr);
  if (!outStream || avcodec_parameters_from_context(outStream->codecpar, encoder.get()) < 0) {
    fprintf(stderr, "Could not initialize stream parameters\n");
    return -1;
  }
  outStream->time_base = encoder->time_base;
  outStream->avg_frame_rate = rate;
  outStream->sample_aspect_ratio = encoder->sample_aspect_ratio;
  // The rotation of a phone video: the old metadata tag and the display matrix that
  // current demuxers give instead.
  if (const AVDictionaryEntry* rotate = av_dict_get(stream->metadata, "rotate", nullptr, 0)) {
    av_dict_set(&outStream->metadata, "rotate", rotate->value, 0);
  }
  size_t matrixSize = 0;
  if (const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize)) {
    if (uint8_t* copy = av_stream_new_side_data(outStream, AV_PKT_DATA_DISPLAYMATRIX, matrixSize)) {
      std::memcpy(copy, matrix, matrixSize);
    }
  }
  const size_t pictureBytes = static_cast<size_t>(fifoWidth_) * fifoHeight_ * 3 / 2;
  pictureFifo_.Configure(width, height, pictureBytes * kFifoPictures);
  scaled_ = MakeFrame();
  if (!scaled_) {
    fprintf(stderr, "video fifo alloc failed\n");
    return -1;
  }
  scaled_->format = AV_PIX_FMT_YUV420P;
  scaled_->width = width;
  scaled_->height = height;
  if (av_frame_get_buffer(scaled_.get(), 0) < 0) {
    printf("av_image_fill_arrays err\n");
    return -1;
  }
  videoInStream_ = stream;
  videoStreamIndex_ = stream->index;
  videoOutStream_ = outStream;
  videoDecoder_ = std::move(decoder);
  videoEncoder_ = std::move(encoder);
  return 0;
}

int NoiseConvert::OpenAudio(AVStream* stream) {
  const AVCodec* decoderCodec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!decoderCodec) {
    fprintf(stderr, "Failed to find audio decoder\n");
    return -1;
  }
  CodecContextPtr decoder(avcodec_alloc_context3(decoderCodec));
  if (!decoder) {
    fprintf(stderr, "Failed to allocate the audio codec context\n");
    return -1;
  }
  if (avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) {
    fprintf(stderr, "Failed to copy video codec parameters to decoder context\n");
    return -1;
  }
  decoder->pkt_timebase = stream->time_base;
  if (avcodec_open2(decoder.get(), decoderCodec, nullptr) < 0) {
    fprintf(stderr, "Failed to open video codec\n");
    return -1;
  }
  if (decoder->sample_rate != 0 && !UsableSampleRate(decoder->sample_rate)) {
    LOG(ERROR) << "sample rate out of range: " << decoder->sample_rate;
    return -1;
  }
  const AVCodec* encoderCodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!encoderCodec) {
    fprintf(stderr, "Failed to find video encoder\n");
    return -1;
  }
  CodecContextPtr encoder(avcodec_alloc_context3(encoderCodec));
  if (!encoder) {
    fprintf(stderr, "Failed to allocate the video encoder context\n");
    return -1;
  }
  const AVChannelLayout layout =
      audioChannels_ == 1 ? AVChannelLayout AV_CHANNEL_LAYOUT_MONO : AVChannelLayout AV_CHANNEL_LAYOUT_STEREO;
  encoder->bit_rate = audioBitRate_;
  encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
  encoder->sample_rate = audioRate_;
  av_channel_layout_copy(&encoder->ch_layout, &layout);
  encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  encoder->codec_tag = 0;
  encoder->time_base = AVRational{1, audioRate_};
  if (avcodec_open2(encoder.get(), encoderCodec, nullptr) < 0) {
    fprintf(stderr, "Failed to open audio encoder\n");
    return -1;
  }
  AVStream* outStream = avformat_new_stream(output_.get(), nullptr);
  if (!outStream || avcodec_parameters_from_context(outStream->codecpar, encoder.get()) < 0) {
    fprintf(stderr, "Could not initialize stream parameters\n");
    return -1;
  }
  outStream->codecpar->codec_tag = 0;
  outStream->time_base = encoder->time_base;
  if (audioFifo_.Alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels, audioRate_ * kFifoSeconds) < 0) {
    fprintf(stderr, "Could not allocate audio fifo\n");
    return -1;
  }
  if (cleaner_.Open(encoder->ch_layout, encoder->sample_rate, encoder->sample_fmt) < 0) {
    fprintf(stderr, "swr init error\n");
    return -1;
  }
  audioInStream_ = stream;
  audioStreamIndex_ = stream->index;
  audioOutStream_ = outStream;
  audioDecoder_ = std::move(decoder);
  audioEncoder_ = std::move(encoder);
  return 0;
}

// ---------------------------------------------------------------------------------------
// Decode thread

// The picture's time in the encoder's time base, counted from the start of the input (which
// both streams share): the source frame's own time, or one frame after the last without one.
int64_t NoiseConvert::PictureTime(const AVFrame* frame) {
  const AVRational tb = videoEncoder_->time_base;
  int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
  if (pts == AV_NOPTS_VALUE) {
    pts = nextPictureTime_;
  } else {
    pts = av_rescale_q(pts, videoInStream_->time_base, tb) - av_rescale_q(originUs_, AV_TIME_BASE_Q, tb);
  }
  nextPictureTime_ = pts + std::max<int64_t>(1, av_rescale_q(1, av_inv_q(videoEncoder_->framerate), tb));
  return pts;
}

bool NoiseConvert::PutPicture(const AVFrame* frame) {
  const AVFrame* picture = frame;
  if (frame->format != AV_PIX_FMT_YUV420P || frame->width != scaled_->width ||
      frame->height != scaled_->height) {
    // One scaler for as long as the source keeps its size and format.
    scaler_.reset(sws_getCachedContext(
        scaler_.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        scaled_->width, scaled_->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler_ || av_frame_make_writable(scaled_.get()) < 0) {
      printf("av_image_fill_arrays err\n");
      Fail("the picture could not be converted");
      return false;
    }
    sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, scaled_->data,
              scaled_->linesize);
    picture = scaled_.get();
  }
  return pictureFifo_.Write(picture, PictureTime(frame), stop_, kSpaceWait);
}

bool NoiseConvert::DecodeVideo(AVPacket* packet, AVFrame* frame) {
  if (packet) ++readPackets_;
  const int sent = avcodec_send_packet(videoDecoder_.get(), packet);
  if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF) {
    printf("video avcodec_send_packet err, ret=%d\n", sent);
    return false;
  }
  for (;;) {
    const int ret = avcodec_receive_frame(videoDecoder_.get(), frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
    if (ret < 0) {
      printf("video avcodec_receive_frame err, ret=%d\n", ret);
      return false;
    }
    const bool put = PutPicture(frame);
    av_frame_unref(frame);
    if (!put) return false;
  }
}

bool NoiseConvert::DecodeAudio(SoundDecoder& decoder, AVPacket* packet, AVFrame* frame, SampleBuffer& cleaned) {
  if (!decoder.Send(packet)) {
    Fail("no memory for the sound decoder");
    return false;
  }
  for (;;) {
    const int ret = decoder.Receive(frame);
    if (ret == 0) return true;
    if (ret < 0) {
      Fail("no memory for the sound decoder");
      return false;
    }
    if (!soundStartKnown_) {
      // The sound may begin later than the picture; its samples are counted from there.
      soundStartKnown_ = true;
      const int64_t pts = frame->best_effort_timestamp;
      const AVRational tb{1, audioRate_};
      if (pts != AV_NOPTS_VALUE)
        soundStartSamples_ = std::max<int64_t>(0, av_rescale_q(pts, audioInStream_->time_base, tb) -
                                                      av_rescale_q(originUs_, AV_TIME_BASE_Q, tb));
    }
    const int cleanedInto =
        CleanInto(cleaner_, frame, decoder.GapSamples(), cleaned, audioFifo_, stop_, kSpaceWait);
    av_frame_unref(frame);
    if (cleanedInto == -1) Fail("the sound could not be converted");
    if (cleanedInto != 0) return false;
  }
}

// Writes one packet of the source's picture stream as it is, with its own times.
bool NoiseConvert::CopyPicture(AVPacket* packet) {
  const int64_t origin = av_rescale_q(originUs_, AV_TIME_BASE_Q, videoInStream_->time_base);
  if (packet->pts != AV_NOPTS_VALUE) packet->pts -= origin;
  if (packet->dts != AV_NOPTS_VALUE) packet->dts -= origin;
  const int64_t end = (packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts) + packet->duration;
  av_packet_rescale_ts(packet, videoInStream_->time_base, videoOutStream_->time_base);
  packet->stream_index = videoOutStream_->index;
  packet->pos = -1;
  ++readPackets_;
  if (!WritePacket(packet, "drop frame pkt\n")) return false;
  copiedSeconds_ = end * av_q2d(videoInStream_->time_base);
  if (!audioEncoder_) ReportProgress();
  return true;
}

void NoiseConvert::DecodeThread() {
  bool audioOk = !audioDecoder_ || cleaner_.StartSuppressor(policy_) == 0;
  if (!audioOk) Fail("the noise suppressor could not be set up");
  bool videoOk = true;
  FramePtr frame = MakeFrame();
  PacketPtr packet = MakePacket();
  SampleBuffer cleaned;
  SoundDecoder soundDecoder(audioDecoder_.get(), audioInStream_ ? audioInStream_->time_base : AVRational{1, 1});
  // A side that fails to decode ends early; the other one goes on to the end of input.
  while (!stop_ && ((videoInStream_ && videoOk) || (audioDecoder_ && audioOk))) {
    if (av_read_frame(input_.get(), packet.get()) < 0) break;
    if (packet->stream_index == videoStreamIndex_ && videoOk) {
      videoOk = copyPicture_ ? CopyPicture(packet.get()) : DecodeVideo(packet.get(), frame.get());
    } else if (packet->stream_index == audioStreamIndex_ && audioOk) {
      audioOk = DecodeAudio(soundDecoder, packet.get(), frame.get(), cleaned);
    }
    av_packet_unref(packet.get());
  }
  if (!stop_ && SourceReadFailed(input_.get())) {
    sourceUnreadable_ = true;
    Fail("the source could not be read to its end");
  }
  if (!stop_ && videoDecoder_ && videoOk) DecodeVideo(nullptr, frame.get());
  pictureFifo_.MarkEnd();
  if (!stop_ && audioDecoder_ && audioOk && DecodeAudio(soundDecoder, nullptr, frame.get(), cleaned)) {
    if (cleaner_.Flush(cleaned) < 0)
      Fail("the end of the sound could not be converted");
    else if (cleaned.count > 0)
      audioFifo_.Write(cleaned.Data(), cleaned.count, stop_, kSpaceWait);
  }
  if (!stop_ && audioDecoder_ && soundDecoder.MostlyDamaged()) {
    sourceUnreadable_ = true;
    LOG(ERROR) << soundDecoder.Damaged() << " damaged sound packets or frames, " << soundDecoder.Decoded()
               << " decoded";
    Fail("the source's sound could not be decoded");
  }
  audioFifo_.MarkEnd();
  printf("decode thread exit ...\n");
}

// ---------------------------------------------------------------------------------------
// Encode-and-mux thread

bool NoiseConvert::WriteVideoPackets(AVPacket* packet) {
  for (;;) {
    const int ret = avcodec_receive_packet(videoEncoder_.get(), packet);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
    if (ret < 0) {
      printf("video avcodec_receive_frame err, ret=%d\n", ret);
      Fail("the picture encoder failed");
      return false;
    }
    av_packet_rescale_ts(packet, videoEncoder_->time_base, videoOutStream_->time_base);
    packet->stream_index = videoOutStream_->index;
    lastVideoPts_ = packet->pts;
    if (!WritePacket(packet, "drop frame pkt\n")) return false;
    ++videoPacketsWritten_;
    ReportProgress();
  }
}

bool NoiseConvert::WriteAudioPackets(AVPacket* packet) {
  for (;;) {
    const int ret = avcodec_receive_packet(audioEncoder_.get(), packet);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
    if (ret < 0) {
      printf("audio avcodec_receive_frame err, ret=%d\n", ret);
      Fail("the sound encoder failed");
      return false;
    }
    // The encoder's timestamps start before 0 by its start-up delay, which the container
    // trims, so the sound stays in step with the picture.
    if (packet->duration <= 0) packet->duration = audioEncoder_->frame_size;
    av_packet_rescale_ts(packet, audioEncoder_->time_base, audioOutStream_->time_base);
    packet->stream_index = audioOutStream_->index;
    lastAudioPts_ = packet->pts;
    audioEndPts_ = packet->pts + packet->duration;
    if (!WritePacket(packet, "write audio frame err\n")) return false;
    if (!videoEncoder_) ReportProgress();
  }
}

// Against the pictures encoded, or else the time of the sound written, or else of the copied
// pictures (the side that is slower to write). Called by one thread only: the one that writes it.
void NoiseConvert::ReportProgress() {
  const int percent =
      videoEncoder_
          ? NoisePercent(static_cast<double>(videoPacketsWritten_), static_cast<double>(totalFrames_))
      : audioOutStream_ ? NoisePercent(audioEndPts_ * av_q2d(audioOutStream_->time_base), totalSeconds_)
                        : NoisePercent(copiedSeconds_, totalSeconds_);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  PostRecord<NoiseProgressRecord>(window_, WM_NOISE_PROGRESS, itemId_, percent);
}

// 1 when a packet's worth went to the encoder, 0 when this side has ended (and the encoder
// is drained), -1 on stop or an encoder error, -2 when no sound came within maxWaits.
int NoiseConvert::EncodeAudio(AVFrame* frame, AVPacket* packet, int maxWaits) {
  if (av_frame_make_writable(frame) < 0) {
    Fail("no memory for the sound encoder's frame");
    return -1;
  }
  frame->nb_samples = audioEncoder_->frame_size;
  const int got = audioFifo_.Read(frame, audioEncoder_->frame_size, stop_, kDataWait, maxWaits);
  if (got == -2 || got == -1) return got;
  if (got == 0) {
    avcodec_send_frame(audioEncoder_.get(), nullptr);
    return WriteAudioPackets(packet) ? 0 : -1;
  }
  frame->pts = soundStartSamples_ + audioSamplesSent_;
  audioSamplesSent_ += got;
  const int sent = avcodec_send_frame(audioEncoder_.get(), frame);
  if (sent < 0 && sent != AVERROR(EAGAIN)) {
    printf("audio avcodec_send_frame err, ret=%d\n", sent);
    Fail("the sound encoder failed");
    return -1;
  }
  return WriteAudioPackets(packet) ? 1 : -1;
}

int NoiseConvert::EncodeVideo(AVFrame* frame, AVPacket* packet, int maxWaits) {
  if (av_frame_make_writable(frame) < 0) {
    Fail("no memory for the picture encoder's frame");
    return -1;
  }
  const int got = pictureFifo_.Read(frame, stop_, kDataWait, maxWaits);
  if (got == -2 || got == -1) return got;
  if (got == 0) {
    avcodec_send_frame(videoEncoder_.get(), nullptr);
    return WriteVideoPackets(packet) ? 0 : -1;
  }
  // The encoder takes only rising times; a source that repeats one gets the next tick.
  if (videoFramesSent_ > 0 && frame->pts <= lastPictureTime_) frame->pts = lastPictureTime_ + 1;
  lastPictureTime_ = frame->pts;
  ++videoFramesSent_;
  const int sent = avcodec_send_frame(videoEncoder_.get(), frame);
  if (sent < 0 && sent != AVERROR(EAGAIN)) {
    printf("video avcodec_send_frame err, ret=%d\n", sent);
    Fail("the picture encoder failed");
    return -1;
  }
  return WriteVideoPackets(packet) ? 1 : -1;
}

void NoiseConvert::EncodeThread() {
  PacketPtr packet = MakePacket();
  FramePtr picture, sound;
  bool videoEnded = !videoEncoder_;
  bool audioEnded = !audioEncoder_;
  if (!videoEnded) {
    picture = MakeFrame();
    picture->format = videoEncoder_->pix_fmt;
    picture->width = videoEncoder_->width;
    picture->height = videoEncoder_->height;
    if (av_frame_get_buffer(picture.get(), 0) < 0) Fail("no memory for the picture encoder's frame");
  }
  if (!audioEnded) {
    sound = MakeFrame();
    sound->format = audioEncoder_->sample_fmt;
    sound->nb_samples = audioEncoder_->frame_size;
    sound->sample_rate = audioEncoder_->sample_rate;
    av_channel_layout_copy(&sound->ch_layout, &audioEncoder_->ch_layout);
    if (av_frame_get_buffer(sound.get(), 0) < 0) Fail("no memory for the sound encoder's frame");
  }
  int patience = kWaitsBeforeSwitch;
  while (!stop_ && !(videoEnded && audioEnded)) {
    // The side that is behind in time goes next, so the file is interleaved by time; a side
    // that has ended leaves the other alone.
    bool audioNext =
        videoEnded || (!audioEnded && av_compare_ts(lastVideoPts_, videoOutStream_->time_base, lastAudioPts_,
                                                    audioOutStream_->time_base) > 0);
    const bool otherActive = audioNext ? !videoEnded : !audioEnded;
    int result = audioNext ? EncodeAudio(sound.get(), packet.get(), otherActive ? patience : -1)
                           : EncodeVideo(picture.get(), packet.get(), otherActive ? patience : -1);
    if (result == -2) {
      // Nothing came for this side while the other may be waiting: in a file whose sound
      // and picture lie far apart the decoder is held up by the other side's full FIFO.
      // Serve the other side with what it has ready, and look at this side again without
      // waiting until it has something or the other runs dry.
      audioNext = !audioNext;
      result =
          audioNext ? EncodeAudio(sound.get(), packet.get(), 0) : EncodeVideo(picture.get(), packet.get(), 0);
      if (result == -2) {
        patience = kWaitsBeforeSwitch;
        continue;
      }
      patience = 0;
    } else {
      patience = kWaitsBeforeSwitch;
    }
    if (result < 0) break;
    if (result == 0) (audioNext ? audioEnded : videoEnded) = true;
  }
  // An encoder failure must not leave the decode thread waiting for room forever. Sides that
  // ended normally leave it alone: with the picture copied and no sound to encode there is
  // nothing to encode at all, and the decode thread is still copying the pictures.
  if (!(videoEnded && audioEnded)) stop_ = true;
  printf("encode thread exit...\n");
}

// ---------------------------------------------------------------------------------------
// Finish thread

// As in NoiseAudio: the result keeps its name only when everything was written.
void NoiseConvert::FinishThread() {
  decodeThread_.join();
  encodeThread_.join();
  printf("video111 fifo is not null: %d , sleep 400ms\n", static_cast<int>(pictureFifo_.Count()));
  printf("audio111 fifo is not null,: %d , sleep 400ms\n", audioFifo_.Size());
  if (!failed_ && !abandoned_) {
    if (const int ended = av_write_trailer(output_.get()); ended < 0) {
      printf("av_write_trailer error\n");
      Fail("av_write_trailer error", ended);
    }
  }
  if (const int closed = CloseOutputFile(output_.get()); closed < 0)
    Fail("the result could not be written", closed);
  videoDecoder_.reset();
  videoEncoder_.reset();
  audioDecoder_.reset();
  audioEncoder_.reset();
  output_.reset();
  input_.reset();
  scaler_.reset();
  int publishError = 0;
  const std::string published = PublishPartFile(result_, !failed_ && !abandoned_, &publishError);
  if (publishError != 0) Fail("the result could not be given its name", AVERROR(publishError));
  // Told to stop while the result was published: an ended job leaves no result.
  if (abandoned_ && !published.empty()) std::remove(published.c_str());
  if (!abandoned_)
    PostRecord<NoiseDoneRecord>(window_, WM_NOISE_DONE, itemId_, 0, published.empty() ? -1 : 0,
                                writeError_.load(), sourceUnreadable_.load(), published);
}

// The one way packets reach the muxer, from the encode thread and, for copied pictures, the
// decode thread. False when the file can no longer be written (the job then fails); a packet the
// muxer refuses is only lost, with failure printed.
bool NoiseConvert::WritePacket(AVPacket* packet, const char* failure) {
  std::lock_guard<std::mutex> hold(muxLock_);
  if (av_interleaved_write_frame(output_.get(), packet) >= 0) return true;
  printf("%s", failure);
  return Writable();
}

// After a refused packet: false (and the job fails) when the file itself can no longer be
// written; a muxer that refuses one packet only loses that packet.
bool NoiseConvert::Writable() {
  if (output_->pb && output_->pb->error < 0) {
    Fail("the result could not be written", output_->pb->error);
    return false;
  }
  return true;
}

}  // namespace tw
