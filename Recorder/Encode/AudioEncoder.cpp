#include "Recorder/Encode/AudioEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <glog/logging.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace Vantor::Lumo::Recorder {

namespace {

constexpr int kSampleRate = AudioEncoder::kSampleRate;
constexpr int kChannels = 2;
constexpr int kBytesPerSample = AudioEncoder::kBytesPerSample;
// Farther than this from its place is a real gap (or sound that came twice): silence is put
// in, or the overlap left out. Nearer, the sound is stretched or squeezed towards its place.
constexpr std::int64_t kGap = kSampleRate / 5;
// Closing the distance over a second of sound, by at most 0.5% of a piece: a drifting card is
// followed within a millisecond, and the pitch never moves by more than a tenth of a semitone
// (at 5%, a busy machine's wobbling stamps were heard as a tone sliding by 20 Hz).
constexpr std::int64_t kCatchUp = kSampleRate;
constexpr std::int64_t kMostStretch = 200;  // a piece changes by its 200th at most

std::int64_t SamplesAt(std::int64_t microseconds) {
    return av_rescale(microseconds, kSampleRate, 1'000'000);
}

// `count` interleaved samples to `wanted`, by linear interpolation: enough for a change of a
// percent at most, exact when nothing changes, and without a filter's delay.
std::vector<std::int16_t> Stretch(const std::int16_t* samples, std::int64_t count,
                                  std::int64_t wanted) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(wanted * kChannels));
    for (std::int64_t n = 0; n < wanted; ++n) {
        const double position =
            wanted > 1 ? static_cast<double>(n) * (count - 1) / static_cast<double>(wanted - 1)
                       : 0.0;
        const auto before = static_cast<std::int64_t>(position);
        const std::int64_t after = std::min(before + 1, count - 1);
        const double weight = position - static_cast<double>(before);
        for (int channel = 0; channel < kChannels; ++channel) {
            out[static_cast<std::size_t>(n * kChannels + channel)] = static_cast<std::int16_t>(
                std::lround(samples[before * kChannels + channel] * (1 - weight) +
                            samples[after * kChannels + channel] * weight));
        }
    }
    return out;
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

void AudioEncoder::Add(const std::uint8_t* samples, std::int64_t count, std::int64_t time,
                       std::int64_t end, const PacketSink& sink) {
    const std::int64_t limit = SamplesAt(end);
    const std::int64_t start = SamplesAt(time);
    // Samples that come much later than counted: some were lost, keep the time line with
    // silence (also before the very first piece, so that the sound starts with the recording).
    if (start > appended_ + (appended_ == 0 ? 0 : kGap)) {
        VLOG(1) << "lumo: " << start - appended_ << " samples of silence at " << appended_;
        AppendSilence(std::min(start, limit) - appended_, sink);
    }
    // Much earlier than counted (or from before the recording began): leave the overlap out.
    const std::int64_t early = appended_ - start;
    std::int64_t skipped = 0;
    if (early > (start < 0 ? 0 : kGap)) {
        skipped = std::min(early, count);
        VLOG(1) << "lumo: " << skipped << " samples left out at " << appended_;
        samples += skipped * kBytesPerSample;
        count -= skipped;
    }
    if (count <= 0) {
        return;
    }
    const std::int64_t apart = start + skipped - appended_;
    // The fraction of a sample a small piece should change by is carried to the next, or a
    // distance of up to a millisecond would never be closed.
    const std::int64_t most = count / kMostStretch;
    const double wanted = static_cast<double>(apart * count) / kCatchUp + stretchCarried_;
    const std::int64_t change = std::clamp(static_cast<std::int64_t>(wanted), -most, most);
    stretchCarried_ = std::clamp(wanted - static_cast<double>(change), -1.0, 1.0);
    if (change != 0) {
        const std::vector<std::int16_t> stretched =
            Stretch(reinterpret_cast<const std::int16_t*>(samples), count, count + change);
        const std::int64_t kept = std::min(count + change, limit - appended_);
        if (kept > 0) {
            Append(reinterpret_cast<const std::uint8_t*>(stretched.data()), kept, sink);
        }
        return;
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
