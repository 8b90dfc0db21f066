#include "tools/lumo/Recorder.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "tools/lumo/Encoders.h"
#include "tools/lumo/OutputFile.h"
#include "tools/lumo/TestSignals.h"

namespace Vantor::Lumo::Tool {

namespace {

// One stream being recorded: its signal, its encoder and where the packets go.
struct Track {
    MediaType type;
    OutputFile* file;
    AVStream* stream;
    CodecContextPtr encoder;
    FramePtr frame;
    std::int64_t next = 0;  // timestamp of the next frame, in the encoder's time base
    std::int64_t end = 0;   // where the recording ends, in the same units

    bool Done() const { return next >= end; }
    double NextSeconds() const { return next * av_q2d(encoder->time_base); }
};

// Sends one frame (nullptr: the end) and writes out every packet the encoder has ready.
void Encode(Track& track, const AVFrame* frame, RecordingCounters& counters) {
    EncodeFrame(
        *track.encoder, frame,
        [&](AVPacket& packet) {
            packet.stream_index = track.stream->index;
            if (packet.duration == 0 && track.type == MediaType::Video) {
                packet.duration = 1;  // mpeg4 leaves it unset, and the last picture would get none
            }
            av_packet_rescale_ts(&packet, track.encoder->time_base, track.stream->time_base);
            track.file->Write(packet);
            ++counters.packetsWritten;
            counters.framesWritten += track.type == MediaType::Video;
        },
        "for '" + track.file->Path() + "'");
}

void EncodeNextFrame(Track& track, RecordingCounters& counters) {
    CheckFfmpeg(av_frame_make_writable(track.frame.get()), "can not reuse a frame");
    AVFrame& frame = *track.frame;
    frame.pts = track.next;
    if (track.type == MediaType::Video) {
        FillTestPattern(frame, track.next);
        track.next += 1;
    } else {
        // Where the encoder allows it, the last block stops exactly at the end.
        const bool shortLastFrame =
            track.encoder->codec->capabilities &
            (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        if (shortLastFrame) {
            frame.nb_samples =
                static_cast<int>(std::min<std::int64_t>(frame.nb_samples, track.end - track.next));
        }
        FillTone(frame, track.next);
        track.next += frame.nb_samples;
    }
    Encode(track, &frame, counters);
}

}  // namespace

void Record(const std::vector<IProject::StreamInfo>& targets, const std::string& containerTag,
            double seconds, RecordingCounters& counters,
            const std::function<bool(double)>& keepGoing) {
    std::vector<std::unique_ptr<OutputFile>> files;  // outlives the tracks that point into it
    std::vector<Track> tracks;
    for (const IProject::StreamInfo& target : targets) {
        OutputFile& file = FileAt(files, target.path.utf8string(), containerTag);
        Track track{target.type, &file, nullptr, nullptr, nullptr};
        if (target.type == MediaType::Video) {
            track.encoder = OpenVideoEncoder(file.NeedsGlobalHeader());
        } else if (target.type == MediaType::Audio) {
            track.encoder = OpenAudioEncoder(file.NeedsGlobalHeader());
        } else {
            throw std::logic_error("only video and audio streams can be recorded");
        }
        track.stream = file.AddStream(*track.encoder, target.index);
        track.frame = AllocateFrame(*track.encoder);
        // Whole pictures and samples covering `seconds`; 0.1 s is 4800 samples, not 4801.
        track.end =
            static_cast<std::int64_t>(std::ceil(seconds / av_q2d(track.encoder->time_base) - 1e-6));
        tracks.push_back(std::move(track));
    }
    for (const auto& file : files) {
        file->WriteHeader();
    }

    // Always the track furthest behind, so the muxer sees the streams interleaved.
    for (;;) {
        const auto behind =
            std::min_element(tracks.begin(), tracks.end(), [](const Track& a, const Track& b) {
                return !a.Done() && (b.Done() || a.NextSeconds() < b.NextSeconds());
            });
        if (behind == tracks.end() || behind->Done()) {
            break;
        }
        EncodeNextFrame(*behind, counters);
        if (behind->type == MediaType::Video && !keepGoing(behind->NextSeconds())) {
            break;
        }
    }

    for (Track& track : tracks) {
        Encode(track, nullptr, counters);
    }
    for (const auto& file : files) {
        file->Finish();
    }
}

}  // namespace Vantor::Lumo::Tool
