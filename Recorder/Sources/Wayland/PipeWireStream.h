#pragma once

// The pictures of a screen cast, as PipeWire delivers them on the connection the portal opened.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace Vantor::Lumo::Recorder {

// One picture in PipeWire's buffer, valid during the call that hands it over only.
struct StreamPicture {
    const std::uint8_t* pixels = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    std::int64_t monotonicNs = -1;  // when it was taken, on CLOCK_MONOTONIC; -1 when unknown
};

class PipeWireStream {
public:
    // Called on PipeWire's own thread for every picture: must copy what it keeps, and must not
    // wait for anything.
    using OnPicture = std::function<void(const StreamPicture&)>;

    // Connects to the node `node` over a duplicate of `fd` and asks for shared-memory pictures
    // in the 32-bit RGB orders portals send. Throws std::runtime_error when PipeWire can not
    // be set up.
    PipeWireStream(int fd, std::uint32_t node, OnPicture onPicture);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Whether the stream has gone (unconnected, or in error) after it began; why, when it can
    // tell.
    bool Gone() const { return gone_.load(); }
    std::string Failure() const;

    struct Loop;

private:
    std::atomic<bool> gone_{false};
    std::unique_ptr<Loop> loop_;
};

}  // namespace Vantor::Lumo::Recorder
