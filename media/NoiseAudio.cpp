#include "media/NoiseAudio.h"

#include <glog/logging.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "media/AudioInput.h"
#include "media/NoiseRecords.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace tw {

namespace {

constexpr auto kSpaceWait = std::chrono::milliseconds(100);
constexpr auto kDataWait = std::chrono::milliseconds(400);

}  // namespace

NoiseAudio::NoiseAudio(MessageSink* window, int itemId) : window_(window), itemId_(itemId) {}

NoiseAudio::~NoiseAudio() {
  abandoned_ = true;
  stop_ = true;
  if (finishThread_.joinable()) finishThread_.join();
  // Only set when the finish thread could not be started.
  if (decodeThread_.joinable()) decodeThread_.join();
  if (encodeThread_.joinable()) encodeThread_.join();
}

int NoiseAudio::Start(const std::string& inputPath, const std::string& outputPath, int formatType,
                      int64_t bitRate, int policy) {
  inputPath_ = inputPath;
  outputPath_ = outputPath;
  result_ = ResultFile(outputPath);
  formatType_ = formatType;
  bitRate_ = bitRate;
  policy_ = policy;
  encoderId_ = AV_CODEC_ID_AAC;
  frameSize_ = 1024;
  inRate_ = outRate_ = kOutRate;
  inFormat_ = AV_SAMPLE_FMT_S16;
  outFormat_ = AV_SAMPLE_FMT_FLTP;
  streamIndex_ = -1;

  AVFormatContext* out = nullptr;
  if (avformat_alloc_output_context2(&out, nullptr, nullptr, outputPath_.c_str()) < 0 || !out) {
    LOG(ERROR) << "Could not create output context";
    return -1;
  }
  output_.reset(out);
  if (Open() < 0) {
    Abandon();
    return -1;
  }
  try {
    decodeThread_ = std::thread(&NoiseAudio::DecodeThread, this);
    encodeThread_ = std::thread(&NoiseAudio::EncodeThread, this);
    finishThread_ = std::thread(&NoiseAudio::FinishThread, this);
  } catch (const std::system_error& e) {
    LOG(ERROR) << "NoiseAudio thread start failed: " << e.what();
    abandoned_ = true;
    stop_ = true;
    if (decodeThread_.joinable()) decodeThread_.join();
    if (encodeThread_.joinable()) encodeThread_.join();
    Abandon();
    return -1;
  }
  return 0;
}

// Undoes a start that failed: closes what was opened and removes the part file, so a failed
// start leaves nothing behind.
void NoiseAudio::Abandon() {
  output_.reset();
  encoder_.reset();
  decoder_.reset();
  input_.reset();
  if (createdOutput_) {
    PublishPartFile(result_, false);
    createdOutput_ = false;
  }
}

void NoiseAudio::Fail(const char* what, int averror) {
  int none = 0;
  if (averror < 0) writeError_.compare_exchange_strong(none, AVUNERROR(averror));
  if (!failed_.exchange(true)) LOG(ERROR) << "noise job of row " << itemId_ << " fails: " << what;
  stop_ = true;
}

int NoiseAudio::Open() {
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, LocalFileUrl(inputPath_).c_str(), nullptr, nullptr) < 0) {
    fprintf(stderr, "Could not open source file %s\n", inputPath_.c_str());
    return -1;
  }
  input_.reset(in);
  if (avformat_find_stream_info(in, nullptr) < 0) {
    LOG(ERROR) << "not found audio stream";
    return -1;
  }
  streamIndex_ = ChooseSoundStream(in);
  if (streamIndex_ < 0) {
    LOG(ERROR) << "Didn't find a audio stream";
    return -1;
  }
  AVStream* stream = in->streams[streamIndex_];
  if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
    LOG(ERROR) << "Couldn't find audio stream information";
    return -1;
  }
  totalSeconds_ = stream->duration != AV_NOPTS_VALUE && stream->duration >= 0
                      ? static_cast<int64_t>(stream->duration * av_q2d(stream->time_base))
                      : -1;
  if (totalSeconds_ < 0) totalSeconds_ = in->duration > 0 ? in->duration / AV_TIME_BASE : 0;

  const AVCodec* decoderCodec = avcodec_find_decoder(stream->codecpar->codec_id);
  CodecContextPtr decoder(decoderCodec ? avcodec_alloc_context3(decoderCodec) : nullptr);
  if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0 ||
      (decoder->pkt_timebase = stream->time_base, avcodec_open2(decoder.get(), decoderCodec, nullptr) < 0)) {
    LOG(ERROR) << "can not find or open audio decoder!";
    return -1;
  }
  if (decoder->sample_rate != 0 && !UsableSampleRate(decoder->sample_rate)) {
    LOG(ERROR) << "sample rate out of range: " << decoder->sample_rate;
    return -1;
  }
  decoder_ = std::move(decoder);
  inRate_ = decoder_->sample_rate;
  inFormat_ = decoder_->sample_fmt;
  inChannels_ = decoder_->ch_layout.nb_channels;

  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  if (cleaner_.Open(stereo, outRate_, outFormat_) < 0) return -1;
  if (fifo_.Alloc(outFormat_, stereo.nb_channels, outRate_ * kFifoSeconds) < 0) {
    LOG(ERROR) << "Could not allocate audio fifo";
    return -1;
  }
  return OpenEncoderAndOutput();
}

int NoiseAudio::OpenEncoderAndOutput() {
  if (formatType_ == 0) {
    encoderId_ = AV_CODEC_ID_MP3;
    frameSize_ = 1152;
  } else {
    encoderId_ = AV_CODEC_ID_AAC;
    frameSize_ = 1024;
  }
  const AVCodec* codec = avcodec_find_encoder(encoderId_);
  if (!codec) {
    LOG(ERROR) << "audio codec not found \n";
    return -1;
  }
  CodecContextPtr encoder(avcodec_alloc_context3(codec));
  if (!encoder) {
    LOG(ERROR) << "audio codec not found \n";
    return -1;
  }
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  encoder->bit_rate = bitRate_;
  encoder->codec_id = encoderId_;
  encoder->codec_type = AVMEDIA_TYPE_AUDIO;
  encoder->sample_fmt = outFormat_;
  encoder->sample_rate = outRate_;
  av_channel_layout_copy(&encoder->ch_layout, &stereo);
  encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  encoder->time_base = AVRational{1, outRate_};
  encoder->thread_count = 2;
  if (avcodec_open2(encoder.get(), codec, nullptr) < 0) {
    LOG(ERROR) << "open audio encode err\n";
    return -1;
  }
  if (encoder->frame_size > 0) frameSize_ = encoder->frame_size;
  encoder_ = std::move(encoder);

  AVFormatContext* out = output_.get();
  outStream_ = avformat_new_stream(out, nullptr);
  if (!outStream_ || avcodec_parameters_from_context(outStream_->codecpar, encoder_.get()) < 0) {
    LOG(ERROR) << "open audio encode err\n";
    return -1;
  }
  outStream_->codecpar->codec_tag = 0;
  outStream_->time_base = encoder_->time_base;
  const AVStream* sound = input_->streams[streamIndex_];
  CopyResultTags(input_.get(), sound, out);
  std::vector<CoverStream> covers;
  if (!AddCoverStreams(input_.get(), out, outputPath_, covers)) {
    LOG(ERROR) << "Could not add the cover picture";
    return -1;
  }
  av_dump_format(out, 0, outputPath_.c_str(), 1);
  if (!(out->oformat->flags & AVFMT_NOFILE)) {
    if (OpenPartFile(out, result_) < 0) {
      LOG(ERROR) << "Could not open output file " << outputPath_;
      return -1;
    }
    createdOutput_ = true;
  }
  const int ret = avformat_write_header(out, nullptr);
  if (ret < 0) {
    LOG(ERROR) << "avformat_write_header error, ret=" << ret;
    return -1;
  }
  if (const int written = WriteCovers(out, covers); written < 0) {
    LOG(ERROR) << "write cover picture err,ret=" << written;
    return -1;
  }
  return 0;
}

void NoiseAudio::DecodeThread() {
  bool ok = cleaner_.StartSuppressor(policy_) == 0;
  if (!ok) Fail("the noise suppressor could not be set up");
  FramePtr frame = MakeFrame();
  PacketPtr packet = MakePacket();
  SampleBuffer cleaned;
  SoundDecoder decoder(decoder_.get(), input_->streams[streamIndex_]->time_base);
  bool ended = false;
  while (ok && !stop_ && !ended) {
    if (av_read_frame(input_.get(), packet.get()) < 0) {
      ended = true;  // the end of input: what the decoder holds comes out after an empty packet
      ok = decoder.Send(nullptr);
    } else if (packet->stream_index == streamIndex_) {
      ok = decoder.Send(packet.get());
    }
    av_packet_unref(packet.get());
    int got = 0;
    while (ok && (got = decoder.Receive(frame.get())) == 1) {
      const int cleanedInto =
          CleanInto(cleaner_, frame.get(), decoder.GapSamples(), cleaned, fifo_, stop_, kSpaceWait);
      av_frame_unref(frame.get());
      if (cleanedInto == -1) Fail("the sound could not be converted");
      ok = cleanedInto == 0;
    }
    if (got < 0) ok = false;
  }
  if (!ok && !stop_) Fail("no memory for the decoder");
  if (!stop_ && SourceReadFailed(input_.get())) {
    sourceUnreadable_ = true;
    Fail("the source could not be read to its end");
  }
  if (!stop_ && decoder.MostlyDamaged()) {
    sourceUnreadable_ = true;
    LOG(ERROR) << decoder.Damaged() << " damaged packets or frames, " << decoder.Decoded() << " decoded";
    Fail("the source's sound could not be decoded");
  }
  if (decoder.Damaged() > 0) LOG(WARNING) << "skipped " << decoder.Damaged() << " damaged packets or frames";
  // Whatever the reason the input ended, what was cleaned is finished into the file.
  if (!stop_) {
    if (cleaner_.Flush(cleaned) < 0)
      Fail("the end of the sound could not be converted");
    else if (cleaned.count > 0)
      fifo_.Write(cleaned.Data(), cleaned.count, stop_, kSpaceWait);
  }
  fifo_.MarkEnd();
  LOG(INFO) << "NoiseAudioDecodeThread exit";
}

bool NoiseAudio::WritePackets(AVPacket* packet) {
  for (;;) {
    const int ret = avcodec_receive_packet(encoder_.get(), packet);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
    if (ret < 0) {
      printf("audio encode err,times=%d, ret=%d, got_picture=%d\n", 1, ret, 0);
      Fail("the encoder failed");
      return false;
    }
    // The encoder's own timestamps carry its start-up delay (negative at first), which
    // lets the container trim it: the file then plays exactly as long as its input.
    if (packet->duration <= 0) packet->duration = frameSize_;
    av_packet_rescale_ts(packet, encoder_->time_base, outStream_->time_base);
    packet->stream_index = outStream_->index;
    nextPts_ = packet->pts + packet->duration;
    const int written = av_interleaved_write_frame(output_.get(), packet);
    if (written < 0) {
      LOG(ERROR) << "write audio frame err,ret=" << written;
      Fail("the result could not be written", written);
      return false;
    }
    ReportProgress();
  }
}

void NoiseAudio::ReportProgress() {
  const double seconds = static_cast<double>(static_cast<int64_t>(nextPts_ * av_q2d(outStream_->time_base)));
  const int percent = NoisePercent(seconds, static_cast<double>(totalSeconds_));
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  LOG(INFO) << "percent: " << percent;
  PostRecord<NoiseProgressRecord>(window_, WM_NOISE_PROGRESS, itemId_, percent);
}

void NoiseAudio::EncodeThread() {
  FramePtr frame = MakeFrame();
  PacketPtr packet = MakePacket();
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  frame->nb_samples = frameSize_;
  frame->format = outFormat_;
  frame->sample_rate = outRate_;
  av_channel_layout_copy(&frame->ch_layout, &stereo);
  bool ok = av_frame_get_buffer(frame.get(), 0) == 0;
  if (!ok) Fail("no memory for the encoder's frame");
  while (ok) {
    if (av_frame_make_writable(frame.get()) < 0) {
      Fail("no memory for the encoder's frame");
      break;
    }
    frame->nb_samples = frameSize_;
    const int got = fifo_.Read(frame.get(), frameSize_, stop_, kDataWait);
    if (got < 0) break;  // stop: the job is being destroyed
    if (got == 0) {
      // The input is done and the FIFO empty: drain the encoder.
      avcodec_send_frame(encoder_.get(), nullptr);
      WritePackets(packet.get());
      break;
    }
    frame->pts = samplesSent_;
    samplesSent_ += got;
    const int ret = avcodec_send_frame(encoder_.get(), frame.get());
    if (ret < 0 && ret != AVERROR(EAGAIN)) {
      printf("audio encode err,times=%d, ret=%d, got_picture=%d\n", 1, ret, 0);
      Fail("the encoder failed");
      break;
    }
    ok = WritePackets(packet.get());
  }
  // An encoder failure must not leave the decode thread waiting for room forever.
  stop_ = true;
  printf("audio encode thread exit\n");
}

// The result keeps its name only when everything was written: an ended or failed job removes
// its part file and, unless ended by its owner, reports -1.
void NoiseAudio::FinishThread() {
  decodeThread_.join();
  printf(" WaitForMultipleObjects exit\n");
  encodeThread_.join();
  stop_ = true;
  if (!failed_ && !abandoned_) {
    if (const int ended = av_write_trailer(output_.get()); ended < 0) Fail("av_write_trailer error", ended);
  }
  if (const int closed = CloseOutputFile(output_.get()); closed < 0)
    Fail("the result could not be written", closed);
  decoder_.reset();
  encoder_.reset();
  input_.reset();
  output_.reset();
  int publishError = 0;
  const std::string published = PublishPartFile(result_, !failed_ && !abandoned_, &publishError);
  if (publishError != 0) Fail("the result could not be given its name", AVERROR(publishError));
  // Told to stop while the result was published: an ended job leaves no result.
  if (abandoned_ && !published.empty()) std::remove(published.c_str());
  if (!abandoned_)
    PostRecord<NoiseDoneRecord>(window_, WM_NOISE_DONE, itemId_, 1, published.empty() ? -1 : 0,
                                writeError_.load(), sourceUnreadable_.load(), published);
}

}  // namespace tw
