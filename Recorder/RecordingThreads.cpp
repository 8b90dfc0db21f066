// The threads of a recording: one capture thread and one encoder thread a track.

#include <deque>
#include <exception>
#include <optional>

#include <glog/logging.h>
extern "C" {
#include <libavutil/time.h>
}

#include "Recorder/RecordingState.h"
#include "Recorder/Timeline/PictureGrid.h"
#include "Recorder/Timeline/SoundClock.h"

namespace Vantor::Lumo::Recorder {

namespace {

// Half a second of pictures (22 MB at 1280x720): enough to ride out the encoder's slow start
// and busy moments, small enough to keep memory flat when it can not keep up at all.
constexpr std::size_t kPicturesQueued = 15;
// Sound is small and must never be lost to a busy picture encoder: four seconds of pieces, as
// the first two come at once when the sound clock has settled.
constexpr std::size_t kSoundPiecesQueued = 200;
// A source still silent this long after the end is not waited for any more.
constexpr std::int64_t kLateSource = 2'000'000;
// How long a piece of sound waits for the stamps after it before it is placed.
constexpr std::int64_t kSoundSettles = 500'000;
// A drop this long after the last tick of the recording's own loop may come out of a span in
// which the process was stopped; the next tick decides.
constexpr std::int64_t kTickSilence = 250'000;

PacketPtr NewPacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw std::bad_alloc();
    }
    return packet;
}

// The cause of a source's failure, as plainly as the source can say it.
std::string CauseOf(Source& source, const std::exception& error) {
    const std::string diagnosis = source.Diagnose();
    return diagnosis.empty() ? error.what() : diagnosis;
}

bool PastTheEnd(const RecordingState& state) {
    const std::int64_t stop = state.clock->StopTime();
    return state.failed || (stop != RecordingClock::kNever && av_gettime() > stop + kLateSource);
}

// The next piece from `lane`'s source and its capture time; nothing once the source can give no
// more, its failure reported when it came before the end.
std::optional<std::int64_t> ReadNext(RecordingState& state, Lane& lane, AVPacket& packet) {
    try {
        const std::int64_t time = lane.source->Read(packet);
        lane.lastDelivery = state.awake.load();
        return time;
    } catch (const std::exception& error) {
        if (!PastTheEnd(state)) {
            state.Fail(CauseOf(*lane.source, error));
        }
        return std::nullopt;
    }
}

}  // namespace

Lane::Lane() : pictures(kPicturesQueued), sound(kSoundPiecesQueued) {}

const AVCodecContext& Lane::Encoder() const {
    return video ? video->Context() : audio->Context();
}

void RecordingState::Fail(const std::string& cause) {
    {
        const std::lock_guard<std::mutex> lock(failing);
        if (failure.empty()) {
            failure = cause;
        }
    }
    failed = true;
    clock->StopNow();
}

void RecordingState::CountDrop() {
    const std::int64_t now = av_gettime();
    if (now < stopSettles) {
        ++counters.framesLostWhileStopped;
    } else if (now - lastTick > kTickSilence) {
        ++undecidedDrops;
    } else {
        ++counters.framesDropped;
    }
}

void RecordingState::Deliver(Lane& lane, AVPacket& packet) {
    const bool picture = lane.type == MediaType::Video;
    packet.stream_index = lane.stream->index;
    if (picture && packet.duration == 0) {
        packet.duration = 1;  // one picture; the last would get no duration otherwise
    }
    av_packet_rescale_ts(&packet, lane.Encoder().time_base, lane.stream->time_base);
    lane.writer->Write(packet);
    ++counters.packetsWritten;
    if (picture) {
        ++counters.framesWritten;
    }
}

// Each picture is held until the grid knows its slot is its own, then converted here rather
// than in the encoder's thread, so the conversion runs beside the encoder; but only a picture
// the queue has room for. Runs on to the last picture before the end, which may come a little
// after the end when the machine stalled.
void CapturePictures(std::shared_ptr<RecordingState> state, std::shared_ptr<Lane> lane) {
    try {
        RecordingClock& clock = *state->clock;
        PictureGrid grid(lane->fps);
        const PacketPtr packet = NewPacket();
        const PacketPtr held = NewPacket();
        const auto release = [&](std::int64_t slot) {
            if (lane->pictures.Full() ||
                !lane->pictures.TryPush(
                    {lane->converter->Convert(*held, lane->source->Parameters()), slot})) {
                state->CountDrop();
            }
            av_packet_unref(held.get());
        };
        const std::int64_t started = av_gettime();  // earlier pictures are stale
        for (;;) {
            const std::optional<std::int64_t> read = ReadNext(*state, *lane, *packet);
            if (!read) {
                break;
            }
            const std::int64_t time = *read;
            const std::int64_t stop = clock.StopTime();
            if (PastTheEnd(*state)) {
                break;
            }
            if (time >= started && clock.PictureBegins(time) && !clock.PausedAt(time)) {
                const std::int64_t sinceOrigin = clock.OnTimeline(time);
                if (stop != RecordingClock::kNever &&
                    grid.SlotOf(sinceOrigin) >= clock.PicturesBefore(stop, lane->fps)) {
                    break;
                }
                const PictureGrid::Offer offer = grid.Place(sinceOrigin);
                if (offer.release) {
                    release(*offer.release);
                }
                if (offer.dropped) {
                    state->CountDrop();
                }
                if (offer.held) {
                    av_packet_unref(held.get());
                    av_packet_move_ref(held.get(), packet.get());
                }
            }
            av_packet_unref(packet.get());
        }
        if (const std::optional<std::int64_t> slot = grid.Release()) {
            release(*slot);
        }
    } catch (const std::exception& error) {
        state->Fail(error.what());
    }
    lane->captureEnded = true;
}

// Runs on to the first piece at or after the end time. Each piece is placed half a second after
// it came (the first ones once the clock has settled), by the sound clock's line as it stands
// then, so that the settling stamps of a fresh stream place nothing; once the end has come,
// at once. (An end known from the start, by a length, is no reason to hurry.)
void CaptureSound(std::shared_ptr<RecordingState> state, std::shared_ptr<Lane> lane) {
    try {
        const AVCodecParameters& parameters = lane->source->Parameters();
        const int bytesPerSample =
            parameters.ch_layout.nb_channels * av_get_bits_per_sample(parameters.codec_id) / 8;
        SoundClock soundClock(parameters.sample_rate);
        std::deque<Sound> waiting;  // with their places in the sound, not yet their times
        // Hands on the pieces that waited long enough; false once the end is passed.
        const auto handOn = [&](bool all) {
            const std::int64_t stop = state->clock->StopTime();
            while (!waiting.empty() &&
                   (all || av_gettime() >= stop ||
                    (soundClock.Settled() &&
                     waiting.back().time - waiting.front().time >= kSoundSettles))) {
                Sound piece = std::move(waiting.front());
                waiting.pop_front();
                piece.time = soundClock.TimeOf(piece.time);
                if (piece.time >= stop) {
                    return false;
                }
                if (!lane->sound.TryPush(std::move(piece))) {
                    // Closed: the recording is over, and this thread was left behind in its
                    // device; the process may be ending, so it says nothing any more.
                    if (lane->sound.Closed()) {
                        return false;
                    }
                    LOG(WARNING) << "lumo: lost sound from " << lane->description;
                }
            }
            return true;
        };
        for (;;) {
            PacketPtr packet = NewPacket();
            const std::optional<std::int64_t> stamp = ReadNext(*state, *lane, *packet);
            if (!stamp || PastTheEnd(*state)) {
                break;
            }
            const std::int64_t at = soundClock.Take(*stamp, packet->size / bytesPerSample);
            // The sound began when the settled stamps say, not the first ones.
            if (soundClock.Settled()) {
                state->clock->SoundBegins(soundClock.TimeOf(0));
            }
            waiting.push_back({std::move(packet), at});
            if (!handOn(false)) {
                waiting.clear();
                break;
            }
        }
        handOn(true);
    } catch (const std::exception& error) {
        state->Fail(error.what());
    }
    lane->captureEnded = true;
}

// A slot the grid left empty shows the picture before it again.
void EncodePictures(RecordingState& state, Lane& lane) {
    const PacketSink sink = [&](AVPacket& packet) { state.Deliver(lane, packet); };
    std::int64_t last = -1;
    FramePtr shown;
    const auto repeatUntil = [&](std::int64_t slot) {
        for (std::int64_t n = PictureGrid::Repeats(last, slot); shown && n > 0 && !state.failed;
             --n) {
            lane.video->Encode(*shown, ++last, sink);
            ++state.counters.framesRepeated;
        }
    };
    while (std::optional<Picture> picture = lane.pictures.Pop()) {
        const std::int64_t stop = state.clock->StopTime();
        if (stop != RecordingClock::kNever &&
            picture->number >= state.clock->PicturesBefore(stop, lane.fps)) {
            continue;  // would show after the end
        }
        if (picture->number <= last || state.failed) {
            state.CountDrop();
            continue;
        }
        repeatUntil(picture->number);
        last = picture->number;
        lane.video->Encode(*picture->frame, picture->number, sink);
        shown = std::move(picture->frame);
    }
    const std::int64_t stop = state.clock->StopTime();
    if (stop != RecordingClock::kNever) {
        repeatUntil(state.clock->PicturesBefore(stop, lane.fps));
    }
    lane.video->Flush(sink);
}

// Sound captured while paused is cut out; the rest goes on where the time line stopped.
void EncodeSound(RecordingState& state, Lane& lane) {
    const PacketSink sink = [&](AVPacket& packet) { state.Deliver(lane, packet); };
    RecordingClock& clock = *state.clock;
    const auto sampleAt = [](std::int64_t microseconds) {
        return av_rescale(microseconds, AudioEncoder::kSampleRate, 1'000'000);
    };
    while (std::optional<Sound> piece = lane.sound.Pop()) {
        clock.WaitForOrigin();
        const std::int64_t stop = clock.StopTime();
        const std::int64_t end =
            stop == RecordingClock::kNever ? RecordingClock::kNever : clock.OnTimeline(stop);
        const std::int64_t count = piece->packet->size / AudioEncoder::kBytesPerSample;
        const std::int64_t last =
            piece->time + av_rescale(count, 1'000'000, AudioEncoder::kSampleRate);
        for (const RecordingClock::Span& span : clock.Unpaused(piece->time, last)) {
            const std::int64_t first = sampleAt(span.from - piece->time);
            const std::int64_t kept = std::min(sampleAt(span.to - piece->time), count) - first;
            if (kept <= 0) {
                continue;
            }
            lane.audio->Add(piece->packet->data + first * AudioEncoder::kBytesPerSample, kept,
                            clock.OnTimeline(span.from), end, sink);
        }
    }
    clock.WaitForOrigin();
    lane.audio->Finish(clock.OnTimeline(clock.StopTime()), sink);
}

}  // namespace Vantor::Lumo::Recorder
