#include "tools/lumo/LiveRecorder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <glog/logging.h>
extern "C" {
#include <libavutil/time.h>
}

#include "tools/lumo/AudioEncoder.h"
#include "tools/lumo/BoundedQueue.h"
#include "tools/lumo/OutputFile.h"
#include "tools/lumo/PictureNumbers.h"
#include "tools/lumo/SoundClock.h"
#include "tools/lumo/VideoEncoder.h"

namespace Vantor::Lumo::Tool {

namespace {

// Half a second of pictures (22 MB at 1280x720): enough to ride out the encoder's slow start
// and busy moments, small enough to keep memory flat when it can not keep up at all.
constexpr std::size_t kPicturesQueued = 15;
// Sound is small and must never be lost to a busy picture encoder: two seconds of pieces.
constexpr std::size_t kSoundPiecesQueued = 100;
// A device still silent this long after the end is not waited for any more; the screen waits
// this long for the sound to begin, then begins without it.
constexpr std::int64_t kLateDevice = 2'000'000;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

// A captured piece of sound and the capture time of its first sample.
struct Captured {
    PacketPtr packet;
    std::int64_t time;
};

// A captured picture, ready for the encoder, and its number on the time line.
struct Picture {
    FramePtr frame;
    std::int64_t number;
};

// Where an encoder's packets go: its stream in its file.
struct Output {
    OutputFile* file = nullptr;
    AVStream* stream = nullptr;
};

class LiveRecording {
public:
    LiveRecording(const std::vector<IProject::StreamInfo>& targets, const std::string& containerTag,
                  const LiveSources& sources, RecordingCounters& counters);
    void Run(std::optional<double> seconds, const std::function<bool(double)>& keepGoing);

private:
    void Start();
    void Stop();
    void Fail();
    void StopAt(std::int64_t time);
    void SetOrigin(std::int64_t time);
    std::int64_t Origin() const;
    std::int64_t PicturesBefore(std::int64_t time) const;
    double Elapsed() const;
    bool Begins(std::int64_t picture);
    void CapturePictures();
    void CaptureSound();
    void EncodePictures();
    void EncodeSound();
    void Deliver(const Output& output, const AVCodecContext& encoder, AVPacket& packet,
                 bool picture);
    template <class Body>
    void Spawn(Body body);

    const LiveSources& sources_;
    RecordingCounters& counters_;
    std::vector<std::unique_ptr<OutputFile>> files_;
    std::unique_ptr<VideoEncoder> video_;
    std::unique_ptr<PictureConverter> converter_;
    std::unique_ptr<AudioEncoder> audio_;
    Output videoOut_;
    Output audioOut_;
    std::optional<CaptureDevice> screen_;
    std::optional<CaptureDevice> mic_;
    BoundedQueue<Picture> pictures_{kPicturesQueued};
    BoundedQueue<Captured> sound_{kSoundPiecesQueued};

    // Times are av_gettime()'s microseconds.
    std::int64_t opened_ = 0;                       // earlier pictures are stale
    std::int64_t firstPicture_ = kNever;            // of the screen's capture thread
    std::optional<std::int64_t> length_;            // when the recording has a set length
    std::atomic<std::int64_t> origin_{kNever};      // time 0 of both streams, once both deliver
    std::atomic<std::int64_t> soundStart_{kNever};  // the first sound's capture time
    std::atomic<std::int64_t> stopAt_{kNever};      // nothing from here on is recorded
    std::atomic<int> capturing_{0};
    std::atomic<bool> failed_{false};
    std::mutex failing_;
    std::exception_ptr failure_;
    std::vector<std::thread> captures_;
    std::vector<std::thread> encoders_;
};

LiveRecording::LiveRecording(const std::vector<IProject::StreamInfo>& targets,
                             const std::string& containerTag, const LiveSources& sources,
                             RecordingCounters& counters)
    : sources_(sources), counters_(counters) {
    for (const IProject::StreamInfo& target : targets) {
        OutputFile& file = FileAt(files_, target.path.utf8string(), containerTag);
        if (target.type == MediaType::Video && sources.screen && !video_) {
            const ScreenSource& screen = *sources.screen;
            video_ = std::make_unique<VideoEncoder>(screen.region->width, screen.region->height,
                                                    screen.fps, file.NeedsGlobalHeader());
            converter_ = std::make_unique<PictureConverter>(video_->Context());
            videoOut_ = {&file, file.AddStream(video_->Context(), target.index)};
        } else if (target.type == MediaType::Audio && sources.mic && !audio_) {
            audio_ = std::make_unique<AudioEncoder>(file.NeedsGlobalHeader());
            audioOut_ = {&file, file.AddStream(audio_->Context(), target.index)};
        } else {
            throw std::logic_error("no source for the stream at index " +
                                   std::to_string(target.index));
        }
    }
    for (const auto& file : files_) {
        file->WriteHeader();
    }
}

void LiveRecording::Run(std::optional<double> seconds,
                        const std::function<bool(double)>& keepGoing) {
    if (seconds) {
        length_ = std::llround(*seconds * 1e6);
    }
    try {
        Start();
        while (capturing_ > 0 && !failed_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!keepGoing(Elapsed())) {
                StopAt(av_gettime());
            }
        }
    } catch (...) {
        Fail();
    }
    Stop();
    keepGoing(Elapsed());
    try {
        for (const auto& file : files_) {
            file->Finish();
        }
    } catch (...) {
        Fail();
    }
    if (failure_) {
        std::rethrow_exception(failure_);
    }
}

// The sound device first: it buffers what it hears from the moment it opens, which the time
// line then cuts off, while the screen device would deliver the pictures it missed in a burst.
void LiveRecording::Start() {
    if (sources_.mic) {
        mic_ = CaptureDevice::OpenMic(*sources_.mic);
    }
    if (sources_.screen) {
        screen_ = CaptureDevice::OpenScreen(*sources_.screen);
    }
    opened_ = av_gettime();
    if (video_) {
        Spawn([this] { EncodePictures(); });
        ++capturing_;
        captures_.emplace_back([this] { CapturePictures(); });
    }
    if (audio_) {
        Spawn([this] { EncodeSound(); });
        ++capturing_;
        captures_.emplace_back([this] { CaptureSound(); });
    }
}

template <class Body>
void LiveRecording::Spawn(Body body) {
    encoders_.emplace_back([this, body] {
        try {
            body();
        } catch (...) {
            Fail();
        }
    });
}

// The devices run on to the end time (sound arrives late), then the encoders drain.
void LiveRecording::Stop() {
    StopAt(av_gettime());
    SetOrigin(stopAt_);  // no picture came: nothing to record
    for (std::thread& thread : captures_) {
        thread.join();
    }
    pictures_.Close();
    sound_.Close();
    for (std::thread& thread : encoders_) {
        thread.join();
    }
}

void LiveRecording::Fail() {
    {
        const std::lock_guard<std::mutex> lock(failing_);
        if (!failure_) {
            failure_ = std::current_exception();
        }
    }
    failed_ = true;
    StopAt(av_gettime());
    SetOrigin(stopAt_);
}

void LiveRecording::StopAt(std::int64_t time) {
    std::int64_t stop = stopAt_;
    while (time < stop && !stopAt_.compare_exchange_weak(stop, time)) {
    }
}

void LiveRecording::SetOrigin(std::int64_t time) {
    std::int64_t unset = kNever;
    if (origin_.compare_exchange_strong(unset, time) && length_) {
        StopAt(time + *length_);
    }
}

// Waits for both devices to deliver; Stop and Fail fix it as well.
std::int64_t LiveRecording::Origin() const {
    std::int64_t origin = origin_;
    while (origin == kNever) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        origin = origin_;
    }
    return origin;
}

// How many pictures the time line holds before `time`.
std::int64_t LiveRecording::PicturesBefore(std::int64_t time) const {
    return av_rescale_rnd(time - Origin(), video_->Context().time_base.den, 1'000'000, AV_ROUND_UP);
}

double LiveRecording::Elapsed() const {
    const std::int64_t origin = origin_;
    const std::int64_t now = std::min<std::int64_t>(av_gettime(), stopAt_);
    return origin == kNever || now < origin ? 0.0 : (now - origin) / 1e6;
}

// Whether the recording has begun by the picture captured at `picture`, beginning it when the
// sound has begun too: time 0 is the later of the two starts, so neither stream opens with a
// stretch the other lacks. A sound device that says nothing is waited for only so long.
bool LiveRecording::Begins(std::int64_t picture) {
    firstPicture_ = std::min(firstPicture_, picture);
    if (origin_ == kNever) {
        const std::int64_t sound = soundStart_;
        if (sound != kNever) {
            SetOrigin(std::max(picture, sound));
        } else if (!audio_) {
            SetOrigin(picture);
        } else if (picture - firstPicture_ > kLateDevice) {
            LOG(WARNING) << "lumo: no sound yet from " << mic_->Description()
                         << "; the recording begins without it";
            SetOrigin(picture);
        }
    }
    return picture >= origin_;
}

// Converts here rather than in the encoder's thread: the device's buffer is free at once, and
// the conversion runs beside the encoder. Runs on to the last picture before the end, which
// may come a little after the end when the machine stalled.
void LiveRecording::CapturePictures() {
    try {
        PictureNumbers numbers(video_->Context().time_base.den);
        PacketPtr packet(av_packet_alloc());
        if (!packet) {
            throw std::bad_alloc();
        }
        for (;;) {
            const std::int64_t time = screen_->Read(*packet);
            const std::int64_t stop = stopAt_;
            if (failed_ || (stop != kNever && av_gettime() > stop + kLateDevice)) {
                break;
            }
            if (time >= opened_ && Begins(time)) {  // else from before the devices were opened
                const std::optional<std::int64_t> number = numbers.Next(time - origin_);
                if (number && stop != kNever && *number >= PicturesBefore(stop)) {
                    break;
                }
                if (!number ||
                    !pictures_.TryPush(
                        {converter_->Convert(*packet, screen_->Parameters()), *number})) {
                    ++counters_.framesDropped;
                }
            }
            av_packet_unref(packet.get());
        }
    } catch (...) {
        Fail();
    }
    --capturing_;
}

// Runs on to the first piece at or after the end time.
void LiveRecording::CaptureSound() {
    try {
        const AVCodecParameters& parameters = mic_->Parameters();
        const int bytesPerSample =
            parameters.ch_layout.nb_channels * av_get_bits_per_sample(parameters.codec_id) / 8;
        SoundClock clock(parameters.sample_rate);
        for (;;) {
            PacketPtr packet(av_packet_alloc());
            if (!packet) {
                throw std::bad_alloc();
            }
            const std::int64_t stamp = mic_->Read(*packet);
            const std::int64_t time = clock.Place(stamp, packet->size / bytesPerSample);
            const std::int64_t stop = stopAt_;
            if (failed_ || time >= stop || (stop != kNever && av_gettime() > stop + kLateDevice)) {
                break;
            }
            std::int64_t unset = kNever;
            if (soundStart_.compare_exchange_strong(unset, time) && !video_) {
                SetOrigin(time);
            }
            if (!sound_.TryPush({std::move(packet), time})) {
                LOG(WARNING) << "lumo: lost sound from " << mic_->Description();
            }
        }
    } catch (...) {
        Fail();
    }
    --capturing_;
}

void LiveRecording::EncodePictures() {
    const PacketSink sink = [this](AVPacket& packet) {
        Deliver(videoOut_, video_->Context(), packet, true);
    };
    std::int64_t last = -1;
    while (std::optional<Picture> picture = pictures_.Pop()) {
        const std::int64_t stop = stopAt_;
        if (stop != kNever && picture->number >= PicturesBefore(stop)) {
            continue;  // would show after the end
        }
        if (picture->number <= last || failed_) {
            ++counters_.framesDropped;
            continue;
        }
        last = picture->number;
        video_->Encode(*picture->frame, picture->number, sink);
    }
    video_->Flush(sink);
}

void LiveRecording::EncodeSound() {
    const PacketSink sink = [this](AVPacket& packet) {
        Deliver(audioOut_, audio_->Context(), packet, false);
    };
    while (std::optional<Captured> piece = sound_.Pop()) {
        const std::int64_t origin = Origin();
        const std::int64_t stop = stopAt_;
        audio_->Add(*piece->packet, piece->time - origin, stop == kNever ? kNever : stop - origin,
                    sink);
    }
    audio_->Finish(stopAt_ - Origin(), sink);
}

void LiveRecording::Deliver(const Output& output, const AVCodecContext& encoder, AVPacket& packet,
                            bool picture) {
    packet.stream_index = output.stream->index;
    if (picture && packet.duration == 0) {
        packet.duration = 1;  // one picture; the last would get no duration otherwise
    }
    av_packet_rescale_ts(&packet, encoder.time_base, output.stream->time_base);
    output.file->Write(packet);
    ++counters_.packetsWritten;
    if (picture) {
        ++counters_.framesWritten;
    }
}

}  // namespace

void RecordLive(const std::vector<IProject::StreamInfo>& targets, const std::string& containerTag,
                const LiveSources& sources, std::optional<double> seconds,
                RecordingCounters& counters, const std::function<bool(double)>& keepGoing) {
    LiveRecording recording(targets, containerTag, sources, counters);
    recording.Run(seconds, keepGoing);
}

}  // namespace Vantor::Lumo::Tool
