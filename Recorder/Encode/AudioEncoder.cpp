#include "Recorder/Encode/AudioEncoder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <glog/logging.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace Vantor::Lumo::Recorder {

namespace {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
constexpr int kBytesPerSample = kChannels * 2;
// Capture times wobble by a few milliseconds; only a larger disagreement is corrected.
constexpr std::int64_t kTolerance = kSampleRate / 20;

std::int64_t SamplesAt(std::int64_t microseconds) {
    return av_rescale(microseconds, kSampleRate, 1'000'000);
}

}  // namespace

AudioEncoder::AudioEncoder(bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FLAC);
    if (!codec) {
        throw std::runtime_error("this libavcodec has no FLAC encoder");
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) {
        throw std::bad_alloc();
    }
    encoder_->sample_fmt = AV_SAMPLE_FMT_S16;
    encoder_->sample_rate = kSampleRate;
    encoder_->time_base = {1, kSampleRate};
    av_channel_layout_default(&encoder_->ch_layout, kChannels);
    if (globalHeader) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    CheckFfmpeg(avcodec_open2(encoder_.get(), codec, nullptr), "can not open the FLAC encoder");
    frame_ = AllocateFrame(*encoder_);
    fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, kChannels, frame_->nb_samples * 2);
    if (!fifo_) {
        throw std::bad_alloc();
    }
}

AudioEncoder::~AudioEncoder() {
    av_audio_fifo_free(fifo_);
}

void AudioEncoder::Add(const AVPacket& piece, std::int64_t time, std::int64_t end,
                       const PacketSink& sink) {
    const std::uint8_t* samples = piece.data;
    std::int64_t count = piece.size / kBytesPerSample;
    const std::int64_t limit = SamplesAt(end);
    std::int64_t start = SamplesAt(time);
    // Samples that come later than counted: some were lost, keep the time line with silence
    // (also before the very first piece, so that the sound starts with the recording).
    if (start > appended_ + (appended_ == 0 ? 0 : kTolerance)) {
        VLOG(1) << "lumo: " << start - appended_ << " samples of silence at " << appended_;
        AppendSilence(std::min(start, limit) - appended_, sink);
    }
    // Earlier than counted (or from before the recording began): leave the overlap out.
    const std::int64_t early = appended_ - start;
    if (early > (start < 0 ? 0 : kTolerance)) {
        const std::int64_t skipped = std::min(early, count);
        VLOG(1) << "lumo: " << skipped << " samples left out at " << appended_;
        samples += skipped * kBytesPerSample;
        count -= skipped;
    }
    count = std::min(count, limit - appended_);
    if (count > 0) {
        Append(samples, count, sink);
    }
}

void AudioEncoder::Finish(std::int64_t end, const PacketSink& sink) {
    const std::int64_t limit = SamplesAt(end);
    if (limit > appended_) {
        AppendSilence(limit - appended_, sink);
    }
    // Sound added before the end was known can run past it; what of it still waits goes.
    const std::int64_t keep = std::max<std::int64_t>(limit - encoded_, 0);
    if (av_audio_fifo_size(fifo_) > keep) {
        std::vector<std::uint8_t> kept(static_cast<std::size_t>(keep) * kBytesPerSample);
        void* planes[1] = {kept.data()};
        av_audio_fifo_read(fifo_, planes, static_cast<int>(keep));
        av_audio_fifo_reset(fifo_);
        if (av_audio_fifo_write(fifo_, planes, static_cast<int>(keep)) != keep) {
            throw std::bad_alloc();
        }
        appended_ = encoded_ + keep;
    }
    EncodeWhole(sink, true);
    // FLAC ends even an empty stream with a packet (its final header): that is no sound.
    if (encoded_ > 0) {
        EncodeFrame(*encoder_, nullptr, sink, "the sound");
    }
}

void AudioEncoder::Append(const std::uint8_t* samples, std::int64_t count, const PacketSink& sink) {
    void* planes[1] = {const_cast<std::uint8_t*>(samples)};
    if (av_audio_fifo_write(fifo_, planes, static_cast<int>(count)) != count) {
        throw std::bad_alloc();
    }
    appended_ += count;
    EncodeWhole(sink, false);
}

void AudioEncoder::AppendSilence(std::int64_t count, const PacketSink& sink) {
    const std::vector<std::uint8_t> silence(static_cast<std::size_t>(kSampleRate) *
                                            kBytesPerSample);
    while (count > 0) {
        const std::int64_t part = std::min<std::int64_t>(count, kSampleRate);
        Append(silence.data(), part, sink);
        count -= part;
    }
}

// Encodes every whole frame in the FIFO, and with `all` the short rest as well.
void AudioEncoder::EncodeWhole(const PacketSink& sink, bool all) {
    const int frameSize = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
    for (;;) {
        const int available = av_audio_fifo_size(fifo_);
        if (available == 0 || (!all && available < frameSize)) {
            return;
        }
        CheckFfmpeg(av_frame_make_writable(frame_.get()), "can not reuse a frame");
        frame_->nb_samples = std::min(available, frameSize);
        void* planes[1] = {frame_->data[0]};
        if (av_audio_fifo_read(fifo_, planes, frame_->nb_samples) != frame_->nb_samples) {
            throw std::runtime_error("can not take sound from its buffer");
        }
        frame_->pts = encoded_;
        encoded_ += frame_->nb_samples;
        EncodeFrame(*encoder_, frame_.get(), sink, "the sound");
    }
}

}  // namespace Vantor::Lumo::Recorder
