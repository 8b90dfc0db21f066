#pragma once

// The encoders the recorder can count on in a stock libavcodec, best first.

#include <functional>
#include <string>

#include "tools/lumo/Ffmpeg.h"

namespace Vantor::Lumo::Tool {

// 320x240 YUV 4:2:0 at 25 pictures a second: mpeg4, else ffv1, else libx264.
CodecContextPtr OpenVideoEncoder(bool globalHeader);

// Mono at 48 kHz: flac, else aac, else pcm_s16le.
CodecContextPtr OpenAudioEncoder(bool globalHeader);

// An empty frame of the shape the encoder takes, one picture or one block of samples.
FramePtr AllocateFrame(const AVCodecContext& encoder);

// Takes each packet an encoder gives out; its timestamps are in the encoder's time base.
using PacketSink = std::function<void(AVPacket&)>;

// Sends `frame` (nullptr: the end of the stream) to `encoder` and hands every packet it has
// ready to `sink`. Throws std::runtime_error mentioning `what` when encoding fails.
void EncodeFrame(AVCodecContext& encoder, const AVFrame* frame, const PacketSink& sink,
                 const std::string& what);

}  // namespace Vantor::Lumo::Tool
