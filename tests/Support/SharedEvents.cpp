#include "tests/Support/SharedEvents.h"

#include <pulse/error.h>
#include <pulse/simple.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace Vantor::Testing {

namespace {

constexpr double kFlashSeconds = 0.2;
constexpr double kBurstSeconds = 0.1;
constexpr double kBurstFrequency = 1000.0;
constexpr int kRate = 48000;
constexpr int kChunk = kRate / 200;  // 5 ms
// A fresh playback stream's latency takes a few seconds to settle: the bursts of its first
// seconds are placed off by tens of milliseconds (the ffmpeg program shows it as well).
constexpr double kSettleSeconds = 3.0;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SleepUntil(double when) {
    const double wait = when - Now();
    if (wait > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    }
}

}  // namespace

SharedEvents::SharedEvents(const CaptureStage& stage, double periodSeconds)
    : period_(periodSeconds), first_(Now() + kSettleSeconds + periodSeconds) {
    x_ = xcb_connect(stage.Display().c_str(), nullptr);
    if (xcb_connection_has_error(x_)) {
        xcb_disconnect(x_);
        throw std::runtime_error("cannot reach the X display " + stage.Display());
    }
    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    // A short buffer, so the reported latency is small and steady.
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<std::uint32_t>(-1);
    buffer.tlength = kRate * 2 * 30 / 1000;
    buffer.prebuf = static_cast<std::uint32_t>(-1);
    buffer.minreq = static_cast<std::uint32_t>(-1);
    buffer.fragsize = static_cast<std::uint32_t>(-1);
    const std::string server = stage.SoundClientEnvironment().at("PULSE_SERVER");
    int error = 0;
    pulse_ = pa_simple_new(server.c_str(), "lumo-test", PA_STREAM_PLAYBACK, stage.Sink().c_str(),
                           "events", &spec, nullptr, &buffer, &error);
    if (!pulse_) {
        xcb_disconnect(x_);
        throw std::runtime_error(std::string("cannot play into the sink: ") + pa_strerror(error));
    }
    screen_ = std::thread([this] { Flash(); });
    sound_ = std::thread([this] { Play(); });
    SleepUntil(first_ - periodSeconds);
}

SharedEvents::~SharedEvents() {
    stopping_ = true;
    screen_.join();
    sound_.join();
    pa_simple_free(pulse_);
    xcb_disconnect(x_);
}

double SharedEvents::SinceInstant(double now) const {
    if (now < first_) {
        return now - first_;
    }
    return std::fmod(now - first_, period_);
}

// Each level is painted and waited for by a round trip, so the screen shows it from then on.
void SharedEvents::Flash() {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x_)).data;
    const xcb_gcontext_t gc = xcb_generate_id(x_);
    const std::uint32_t black = 0;
    xcb_create_gc(x_, gc, screen->root, XCB_GC_FOREGROUND, &black);
    const xcb_rectangle_t all{0, 0, screen->width_in_pixels, screen->height_in_pixels};
    const auto paint = [&](std::uint32_t grey) {
        const std::uint32_t pixel = grey << 16 | grey << 8 | grey;
        xcb_change_gc(x_, gc, XCB_GC_FOREGROUND, &pixel);
        xcb_poly_fill_rectangle(x_, screen->root, gc, 1, &all);
        free(xcb_get_input_focus_reply(x_, xcb_get_input_focus(x_), nullptr));
    };
    paint(0);
    bool dark = true;
    while (!stopping_) {
        const double now = Now();
        const double since = SinceInstant(now);
        if (since >= 0 && since < kFlashSeconds) {
            paint(static_cast<std::uint32_t>(kFirstLevel + since * kLevelsPerSecond));
            dark = false;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            continue;
        }
        if (!dark) {
            paint(0);
            dark = true;
        }
        // Wakes just before the next instant, then paints from it on.
        const double next = since < 0 ? first_ : now - since + period_;
        SleepUntil(std::min(next - 0.002, now + 0.05));
        while (Now() < next && !stopping_) {
        }
    }
    paint(0);
}

// Each chunk is filled by when its samples will be heard: now plus the latency the server
// reports for what is written now.
void SharedEvents::Play() {
    std::vector<std::int16_t> chunk(kChunk);
    int error = 0;
    while (!stopping_) {
        const pa_usec_t latency = pa_simple_get_latency(pulse_, &error);
        const double heard = Now() + static_cast<double>(latency) / 1e6;
        for (int n = 0; n < kChunk; ++n) {
            const double since = SinceInstant(heard + static_cast<double>(n) / kRate);
            const bool burst = since >= 0 && since < kBurstSeconds;
            chunk[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(
                burst ? 16000 * std::sin(2 * M_PI * kBurstFrequency * since) : 0);
        }
        if (pa_simple_write(pulse_, chunk.data(), chunk.size() * sizeof chunk[0], &error) < 0) {
            return;
        }
    }
}

}  // namespace Vantor::Testing
