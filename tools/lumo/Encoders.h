#pragma once

// The encoders the recorder can count on in a stock libavcodec, best first.

#include "tools/lumo/Ffmpeg.h"

namespace Vantor::Lumo::Tool {

// 320x240 YUV 4:2:0 at 25 pictures a second: mpeg4, else ffv1, else libx264.
CodecContextPtr OpenVideoEncoder(bool globalHeader);

// Mono at 48 kHz: flac, else aac, else pcm_s16le.
CodecContextPtr OpenAudioEncoder(bool globalHeader);

// An empty frame of the shape the encoder takes, one picture or one block of samples.
FramePtr AllocateFrame(const AVCodecContext& encoder);

}  // namespace Vantor::Lumo::Tool
