#pragma once

// The inside of a Recording, shared by its threads.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Recorder/BoundedQueue.h"
#include "Recorder/Encode/AudioEncoder.h"
#include "Recorder/Encode/PictureConverter.h"
#include "Recorder/Encode/VideoEncoder.h"
#include "Recorder/Ffmpeg.h"
#include "Recorder/Output/MatroskaWriter.h"
#include "Recorder/Recording.h"
#include "Recorder/Timeline/RecordingClock.h"

namespace Vantor::Lumo::Recorder {

// A converted picture and its number on the time line.
struct Picture {
    FramePtr frame;
    std::int64_t number;
};

// A captured piece of sound and the capture time of its first sample.
struct Sound {
    PacketPtr packet;
    std::int64_t time;
};

// One track's way from its source to its file. The capture side (source, converter, queue
// producer) belongs to the capture thread, the rest to the encoder thread.
struct Lane {
    std::shared_ptr<Source> source;
    MediaType type = MediaType::None;
    std::string description;
    int fps = 0;
    std::unique_ptr<PictureConverter> converter;
    std::unique_ptr<VideoEncoder> video;
    std::unique_ptr<AudioEncoder> audio;
    BoundedQueue<Picture> pictures;
    BoundedQueue<Sound> sound;
    MatroskaWriter* writer = nullptr;
    AVStream* stream = nullptr;
    std::atomic<std::int64_t> lastDelivery{-1};  // on the awake clock; -1 before the first
    std::atomic<bool> captureEnded{false};

    Lane();
    const AVCodecContext& Encoder() const;
};

struct RecordingState {
    RecordingCounters counters;
    std::unique_ptr<RecordingClock> clock;
    std::vector<std::unique_ptr<MatroskaWriter>> writers;
    std::vector<std::shared_ptr<Lane>> lanes;
    std::vector<std::thread> encoders;
    std::vector<std::string> kept;

    // Microseconds the process has been running since the recording started, leaving out the
    // spans in which it was stopped: a source's silence is judged on this clock.
    std::atomic<std::int64_t> awake{0};
    std::atomic<std::int64_t> lastTick{0};     // av_gettime() of the last tick of Run
    std::atomic<std::int64_t> stopSettles{0};  // drops before this follow a stopped span
    // Drops while the loop's tick was overdue: the next tick tells whose they were.
    std::atomic<std::int64_t> undecidedDrops{0};

    std::atomic<bool> failed{false};
    std::mutex failing;
    std::string failure;  // the first cause

    // Records the first failure and ends the recording.
    void Fail(const std::string& cause);
    // Counts a picture left out, against the machine or against a stopped span.
    void CountDrop();
    // Writes an encoded packet of `lane` into its file.
    void Deliver(Lane& lane, AVPacket& packet);
};

// The threads' bodies. A capture thread owns its share of the state, so one left blocked in a
// device outlives the recording safely.
void CapturePictures(std::shared_ptr<RecordingState> state, std::shared_ptr<Lane> lane);
void CaptureSound(std::shared_ptr<RecordingState> state, std::shared_ptr<Lane> lane);
void EncodePictures(RecordingState& state, Lane& lane);
void EncodeSound(RecordingState& state, Lane& lane);

}  // namespace Vantor::Lumo::Recorder
