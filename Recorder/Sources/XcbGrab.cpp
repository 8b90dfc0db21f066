#include "Recorder/Sources/XcbGrab.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <stdexcept>

#include <glog/logging.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
extern "C" {
#include <libavutil/time.h>
}

namespace Vantor::Lumo::Recorder {

namespace {

// The X server's error code for a rectangle that reaches outside the window.
constexpr std::uint8_t kBadMatch = 8;

// A segment's shared memory is detached when the pool lets go of it; the server side goes with
// the connection.
void FreeSegment(void*, std::uint8_t* data) {
    shmdt(data);
}

// The pool's opaque is the connection; each buffer's opaque is its segment's id.
AVBufferRef* NewSegment(void* opaque, std::size_t size) {
    auto* connection = static_cast<xcb_connection_t*>(opaque);
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) {
        return nullptr;
    }
    void* data = shmat(id, nullptr, 0);
    // Removed now, so it goes once both sides detach, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (data == reinterpret_cast<void*>(-1)) {
        return nullptr;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(connection);
    xcb_shm_attach(connection, segment, static_cast<std::uint32_t>(id), 0);
    AVBufferRef* buffer =
        av_buffer_create(static_cast<std::uint8_t*>(data), size, FreeSegment,
                         reinterpret_cast<void*>(static_cast<std::uintptr_t>(segment)), 0);
    if (!buffer) {
        shmdt(data);
    }
    return buffer;
}

}  // namespace

XcbGrab::XcbGrab(const std::string& display, std::string description, int fps)
    : description_(std::move(description)), fps_(fps) {
    int screenNumber = 0;
    connection_ = xcb_connect(display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        throw std::runtime_error("can not open " + description_);
    }
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int n = 0; n < screenNumber && screens.rem > 0; ++n) {
        xcb_screen_next(&screens);
    }
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection_, &xcb_shm_id);
    AVPixelFormat format = AV_PIX_FMT_NONE;
    if (screens.rem > 0) {
        root_ = screens.data->root;
        const int depth = screens.data->root_depth;
        format = depth == 24 || depth == 32 ? AV_PIX_FMT_BGR0
                 : depth == 16              ? AV_PIX_FMT_RGB565LE
                                            : AV_PIX_FMT_NONE;
    }
    if (!shm || !shm->present || format == AV_PIX_FMT_NONE ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        xcb_disconnect(connection_);
        throw std::runtime_error(description_ +
                                 " offers no shared memory or a screen depth lumo can not read");
    }
    parameters_ = avcodec_parameters_alloc();
    if (!parameters_) {
        xcb_disconnect(connection_);
        throw std::bad_alloc();
    }
    parameters_->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters_->codec_id = AV_CODEC_ID_RAWVIDEO;
    parameters_->format = format;
}

XcbGrab::~XcbGrab() {
    av_buffer_pool_uninit(&segments_);
    avcodec_parameters_free(&parameters_);
    xcb_disconnect(connection_);
}

std::pair<int, int> XcbGrab::ScreenSize() {
    xcb_generic_error_t* error = nullptr;
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, root_), &error);
    free(error);
    if (!geometry) {
        throw std::runtime_error(description_ + " does not answer");
    }
    const std::pair<int, int> size{geometry->width, geometry->height};
    free(geometry);
    return size;
}

void XcbGrab::Choose(int x, int y, int width, int height) {
    x_ = x;
    y_ = y;
    parameters_->width = width;
    parameters_->height = height;
    av_buffer_pool_uninit(&segments_);
    const int bytes = parameters_->format == AV_PIX_FMT_BGR0 ? 4 : 2;
    segments_ = av_buffer_pool_init2(static_cast<std::size_t>(width) * height * bytes, connection_,
                                     NewSegment, nullptr);
    if (!segments_) {
        throw std::bad_alloc();
    }
}

std::int64_t XcbGrab::Read(AVPacket& packet) {
    // A picture late by less than a period keeps the schedule; after a longer stall the
    // periods missed are skipped rather than grabbed in a burst. The turns fall on exact
    // multiples of 1/fps from the first (a whole number of microseconds would drift off the
    // grid by a frame every hour or so), so the pictures keep their distance from its slots.
    const std::int64_t now = av_gettime();
    const auto turnTime = [&](std::int64_t turn) {
        return start_ + av_rescale(turn, 1'000'000, fps_);
    };
    if (turn_ < 0) {
        start_ = now;
    }
    ++turn_;
    if (turnTime(turn_ + 1) < now) {
        turn_ = av_rescale_rnd(now - start_, fps_, 1'000'000, AV_ROUND_DOWN);
    }
    const std::int64_t due = turnTime(turn_);
    for (std::int64_t wait = due - av_gettime(); wait > 0; wait = due - av_gettime()) {
        av_usleep(static_cast<unsigned>(wait));
    }
    AVBufferRef* buffer = av_buffer_pool_get(segments_);
    if (!buffer) {
        throw std::runtime_error("no shared memory left for pictures of " + description_);
    }
    const auto segment = static_cast<xcb_shm_seg_t>(
        reinterpret_cast<std::uintptr_t>(av_buffer_pool_buffer_get_opaque(buffer)));
    const std::int64_t asked = av_gettime();
    const xcb_shm_get_image_cookie_t cookie = xcb_shm_get_image(
        connection_, root_, static_cast<std::int16_t>(x_), static_cast<std::int16_t>(y_),
        static_cast<std::uint16_t>(parameters_->width),
        static_cast<std::uint16_t>(parameters_->height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment,
        0);
    xcb_generic_error_t* error = nullptr;
    xcb_shm_get_image_reply_t* reply = xcb_shm_get_image_reply(connection_, cookie, &error);
    const std::int64_t answered = av_gettime();
    const int code = error ? error->error_code : 0;
    free(error);
    free(reply);
    if (!reply) {
        av_buffer_unref(&buffer);
        throw std::runtime_error("capture from " + description_ + " stopped: " +
                                 (code == kBadMatch ? std::string("the region left the screen")
                                  : code != 0       ? "X error " + std::to_string(code)
                                                    : std::string("the connection closed")));
    }
    packet.buf = buffer;
    packet.data = buffer->data;
    packet.size = static_cast<int>(buffer->size);
    packet.pts = packet.dts = AV_NOPTS_VALUE;
    // The server copies the pixels somewhere within the round trip: its middle is the nearest
    // guess, off by half the round trip at most.
    VLOG(2) << "lumo: grabbed " << description_ << " in " << answered - asked << " us";
    return asked + (answered - asked) / 2;
}

}  // namespace Vantor::Lumo::Recorder
