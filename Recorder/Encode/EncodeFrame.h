#pragma once

// What both encoders share: handing an encoder's packets on, and frames of its shape.

#include <functional>
#include <string>

#include "Recorder/Ffmpeg.h"

namespace Vantor::Lumo::Recorder {

// Takes each packet an encoder gives out; its timestamps are in the encoder's time base.
using PacketSink = std::function<void(AVPacket&)>;

// An empty frame of the shape the encoder takes, one picture or one block of samples.
FramePtr AllocateFrame(const AVCodecContext& encoder);

// Sends `frame` (nullptr: the end of the stream) to `encoder` and hands every packet it has
// ready to `sink`. Throws std::runtime_error mentioning `what` when encoding fails.
void EncodeFrame(AVCodecContext& encoder, const AVFrame* frame, const PacketSink& sink,
                 const std::string& what);

}  // namespace Vantor::Lumo::Recorder
