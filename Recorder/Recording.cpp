#include "Recorder/Recording.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

#include <glog/logging.h>
extern "C" {
#include <libavutil/time.h>
}

#include "Recorder/RecordingState.h"

namespace Vantor::Lumo::Recorder {

namespace {

constexpr std::chrono::milliseconds kTick{100};
// A tick this late means the process was stopped meanwhile (SIGSTOP, a suspended machine).
constexpr std::int64_t kStoppedTick = 300'000;
// Drops this long after such a span are its doing: the devices catch up in a burst.
constexpr std::int64_t kStopAftermath = 1'000'000;
// A source that gives nothing this long, on the awake clock, has stopped.
constexpr std::int64_t kSilentBeforeFirst = 10'000'000;
constexpr std::int64_t kSilentLater = 5'000'000;
// After the end, sources get this long to deliver their last piece before they are left
// behind, so that a stop takes effect within a second even with a source that hangs.
constexpr std::int64_t kCaptureGrace = 600'000;
constexpr std::int64_t kQuietSource = 300'000;
constexpr std::int64_t kLastPieces = 2'000'000;

// The writer of `path` in `writers`; a new one, added to them, the first time.
MatroskaWriter& WriterAt(std::vector<std::unique_ptr<MatroskaWriter>>& writers,
                         const std::string& path, const std::string& containerTag,
                         const NextName& nextName) {
    for (const auto& writer : writers) {
        if (writer->Path() == path) {
            return *writer;
        }
    }
    return *writers.emplace_back(std::make_unique<MatroskaWriter>(path, containerTag, nextName));
}

std::string SecondsText(std::int64_t microseconds) {
    return std::to_string(std::llround(microseconds / 1e6)) + " s";
}

}  // namespace

Recording::Recording(std::vector<Track> tracks, const std::string& containerTag, NextName nextName)
    : state_(std::make_shared<RecordingState>()) {
    for (Track& track : tracks) {
        auto lane = std::make_shared<Lane>();
        lane->source = std::move(track.source);
        lane->description = lane->source->Description();
        lane->type = track.stream.type;
        const AVCodecParameters& format = lane->source->Parameters();
        const bool pictures = format.codec_type == AVMEDIA_TYPE_VIDEO;
        if (pictures != (lane->type == MediaType::Video) ||
            (!pictures && lane->type != MediaType::Audio)) {
            throw std::logic_error(lane->description + " can not fill the stream at index " +
                                   std::to_string(track.stream.index));
        }
        MatroskaWriter& writer =
            WriterAt(state_->writers, track.stream.path.utf8string(), containerTag, nextName);
        if (pictures) {
            lane->fps = lane->source->FramesPerSecond();
            lane->video = std::make_unique<VideoEncoder>(format.width & ~1, format.height & ~1,
                                                         lane->fps, writer.NeedsGlobalHeader());
            lane->converter = std::make_unique<PictureConverter>(lane->video->Context());
        } else {
            lane->audio = std::make_unique<AudioEncoder>(writer.NeedsGlobalHeader());
        }
        lane->writer = &writer;
        lane->stream = writer.AddStream(lane->Encoder(), track.stream.index);
        state_->lanes.push_back(std::move(lane));
    }
    for (const auto& writer : state_->writers) {
        writer->WriteHeader();
    }
}

Recording::~Recording() {
    for (const auto& lane : state_->lanes) {
        lane->pictures.Close();
        lane->sound.Close();
    }
    for (std::thread& encoder : state_->encoders) {
        if (encoder.joinable()) {
            encoder.join();
        }
    }
}

void Recording::SetPaused(bool paused) {
    if (state_->clock && state_->clock->SetPaused(paused)) {
        VLOG(1) << "lumo: " << (paused ? "paused" : "resumed") << " at " << state_->clock->Elapsed()
                << " s";
    }
}

bool Recording::Paused() const {
    return state_->clock && state_->clock->Paused();
}

const RecordingCounters& Recording::Counters() const {
    return state_->counters;
}

std::vector<std::string> Recording::Files() const {
    return state_->kept;
}

void Recording::Run(std::optional<double> seconds, const std::function<bool(double)>& keepGoing,
                    const std::function<bool()>& wasStopped) {
    RecordingState& state = *state_;
    const auto has = [&](MediaType type) {
        return std::any_of(state.lanes.begin(), state.lanes.end(),
                           [type](const auto& lane) { return lane->type == type; });
    };
    std::string soundName;
    for (const auto& lane : state.lanes) {
        if (lane->type == MediaType::Audio && soundName.empty()) {
            soundName = lane->description;
        }
    }
    int fps = 0;
    for (const auto& lane : state.lanes) {
        fps = std::max(fps, lane->fps);
    }
    state.clock = std::make_unique<RecordingClock>(
        fps, has(MediaType::Audio),
        seconds ? std::optional(std::llround(*seconds * 1e6)) : std::nullopt, soundName);
    state.lastTick = av_gettime();

    for (const auto& lane : state.lanes) {
        const bool pictures = lane->type == MediaType::Video;
        state.encoders.emplace_back([&state, lane = lane.get(), pictures] {
            try {
                pictures ? EncodePictures(state, *lane) : EncodeSound(state, *lane);
            } catch (const std::exception& error) {
                state.Fail(error.what());
            }
        });
        std::thread(pictures ? CapturePictures : CaptureSound, state_, lane).detach();
    }

    const auto capturing = [&] {
        return std::any_of(state.lanes.begin(), state.lanes.end(),
                           [](const auto& lane) { return !lane->captureEnded; });
    };
    while (capturing()) {
        std::this_thread::sleep_for(kTick);
        const std::int64_t now = av_gettime();
        const std::int64_t step = now - state.lastTick;
        // A late tick is a stopped process only where the caller can tell one from a busy
        // machine; drops of the meantime are the stop's or the machine's accordingly.
        const bool continued = wasStopped && wasStopped();
        const bool stopped = step > kStoppedTick && (wasStopped ? continued : true);
        if (stopped) {
            state.counters.stoppedMicroseconds += step - kTick.count() * 1000;
            state.stopSettles = now + kStopAftermath;
            state.awake += kTick.count() * 1000;
        } else {
            state.awake += step;
        }
        (stopped ? state.counters.framesLostWhileStopped : state.counters.framesDropped) +=
            state.undecidedDrops.exchange(0);
        state.lastTick = now;
        if (now < state.clock->StopTime() && !keepGoing(state.clock->Elapsed())) {
            state.clock->StopNow();
        }
        if (now >= state.clock->StopTime()) {
            // A source still delivering brings its last pieces (sound comes late); one that
            // has gone quiet is left behind.
            const std::int64_t late = now - state.clock->StopTime();
            const bool delivering =
                std::all_of(state.lanes.begin(), state.lanes.end(), [&](const auto& lane) {
                    return lane->captureEnded || state.awake - lane->lastDelivery < kQuietSource;
                });
            if (late > kCaptureGrace && (!delivering || late > kLastPieces)) {
                break;
            }
            continue;
        }
        for (const auto& lane : state.lanes) {
            const std::int64_t last = lane->lastDelivery;
            const std::int64_t silent = state.awake - std::max<std::int64_t>(last, 0);
            if (last < 0 && silent > kSilentBeforeFirst) {
                state.Fail(lane->description + " gave nothing within " +
                           SecondsText(kSilentBeforeFirst));
            } else if (last >= 0 && silent > kSilentLater) {
                state.Fail(lane->description + " stopped delivering for " +
                           SecondsText(kSilentLater));
            }
        }
    }
    state.clock->StopNow();
    state.counters.framesDropped += state.undecidedDrops.exchange(0);
    keepGoing(state.clock->Elapsed());

    for (const auto& lane : state.lanes) {
        lane->pictures.Close();
        lane->sound.Close();
    }
    for (std::thread& encoder : state.encoders) {
        encoder.join();
    }
    state.encoders.clear();
    // Free the encoders (and x264's threads) now, not with the last capture thread: one left
    // blocked in its device would keep them for the life of the process.
    for (const auto& lane : state.lanes) {
        lane->video.reset();
        lane->audio.reset();
    }

    const bool nothing = state.counters.packetsWritten == 0;
    if (nothing) {
        state.writers.clear();  // which discards their files
    }
    for (const auto& writer : state.writers) {
        try {
            writer->Finish();
            state.kept.push_back(writer->Path());
        } catch (const std::exception& error) {
            state.Fail(error.what());
            if (writer->Keep()) {
                state.kept.push_back(writer->Path());
            }
        }
    }
    std::string failure;
    {
        // A capture thread left behind may still report a failure.
        const std::lock_guard<std::mutex> lock(state.failing);
        failure = state.failure;
    }
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
    if (nothing) {
        throw std::runtime_error("nothing was recorded");
    }
}

}  // namespace Vantor::Lumo::Recorder
