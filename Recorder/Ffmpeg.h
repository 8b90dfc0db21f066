#pragma once

// Owning handles for the FFmpeg objects the recorder uses, and its error check.

#include <memory>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

namespace Vantor::Lumo::Recorder {

struct FreeCodecContext {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FreeFrame {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct FreePacket {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FreeParameters {
    void operator()(AVCodecParameters* parameters) const { avcodec_parameters_free(&parameters); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, FreeCodecContext>;
using ParametersPtr = std::unique_ptr<AVCodecParameters, FreeParameters>;
using FramePtr = std::unique_ptr<AVFrame, FreeFrame>;
using PacketPtr = std::unique_ptr<AVPacket, FreePacket>;

inline std::string FfmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// FFmpeg answers failures with a negative number; `what` says what could not be done.
inline int CheckFfmpeg(int result, const std::string& what) {
    if (result < 0) {
        throw std::runtime_error(what + ": " + FfmpegErrorText(result));
    }
    return result;
}

}  // namespace Vantor::Lumo::Recorder
