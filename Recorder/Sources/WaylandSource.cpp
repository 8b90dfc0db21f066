#include "Recorder/Sources/WaylandSource.h"

#include <time.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/time.h>
}

#include <glog/logging.h>

#include "Recorder/Ffmpeg.h"
#include "Recorder/Sources/Wayland/PictureFit.h"
#include "Recorder/Sources/Wayland/PipeWireStream.h"
#include "Recorder/Sources/Wayland/RestoreToken.h"
#include "Recorder/Sources/Wayland/ScreenCastPortal.h"

namespace Vantor::Lumo::Recorder {

namespace {

constexpr std::chrono::seconds kFirstPictureLimit{10};
const std::string kDescription = "the Wayland screen cast";

struct FreeParameters {
    void operator()(AVCodecParameters* parameters) const { avcodec_parameters_free(&parameters); }
};
using ParametersPtr = std::unique_ptr<AVCodecParameters, FreeParameters>;

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// A PipeWire timestamp (CLOCK_MONOTONIC) on av_gettime()'s clock, which the sound uses.
std::int64_t CaptureTime(std::int64_t monotonicNs) {
    const std::int64_t now = av_gettime();
    if (monotonicNs < 0) {
        return now;
    }
    const std::int64_t age = (MonotonicNs() - monotonicNs) / 1000;
    return age >= 0 && age < 1'000'000 ? now - age : now;
}

class WaylandSource final : public Source {
public:
    WaylandSource(const WaylandRequest& request, std::unique_ptr<CastSession> session)
        : request_(request), session_(std::move(session)) {
        parameters_.reset(avcodec_parameters_alloc());
        if (!parameters_) {
            throw std::bad_alloc();
        }
        stream_ = std::make_unique<PipeWireStream>(
            session_->PipeWireFd(), session_->Node(),
            [this](const StreamPicture& picture) { Take(picture); });
    }

    // Waits for the first picture, which fixes the size of all.
    void AwaitFirst() {
        const auto deadline = std::chrono::steady_clock::now() + kFirstPictureLimit;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!fresh_ && failure_.empty()) {
            if (stream_->Gone() || session_->Closed()->load()) {
                const std::string why = stream_->Failure();
                throw std::runtime_error(
                    why.empty() ? "the screen cast ended before its first picture" : why);
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                throw std::runtime_error("no picture came from the screen cast within " +
                                         std::to_string(kFirstPictureLimit.count()) +
                                         " s of its start");
            }
            arrived_.wait_for(lock, std::chrono::milliseconds(50));
        }
        if (!failure_.empty()) {
            throw std::runtime_error(failure_);
        }
        parameters_->codec_type = AVMEDIA_TYPE_VIDEO;
        parameters_->codec_id = AV_CODEC_ID_RAWVIDEO;
        parameters_->format = AV_PIX_FMT_BGR0;
        parameters_->width = width_;
        parameters_->height = height_;
    }

    const std::string& Description() const override { return kDescription; }
    const AVCodecParameters& Parameters() const override { return *parameters_; }
    int FramesPerSecond() const override { return request_.fps; }

    std::int64_t Read(AVPacket& packet) override {
        if (stream_->Gone() || session_->Closed()->load()) {
            request_.ended->store(true);
        }
        std::int64_t due = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_.empty()) {
                throw std::runtime_error(failure_);
            }
            if (count_ == 0) {
                start_ = latestTime_;
            }
            due = start_ + count_ * 1'000'000 / request_.fps;
        }
        ++count_;
        const std::int64_t wait = due - av_gettime();
        if (wait > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(wait));
        }
        // Only buffers change hands under the lock, so PipeWire's thread never waits for a
        // copy; without a new picture the one in hand is given again.
        std::int64_t time = due;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (fresh_) {
                showing_.swap(latest_);
                // It keeps its own time as long as it belongs to this slot of the schedule.
                const bool own = latestTime_ <= due && latestTime_ > due - 1'000'000 / request_.fps;
                time = own ? latestTime_ : due;
                fresh_ = false;
            }
        }
        CheckFfmpeg(av_new_packet(&packet, static_cast<int>(showing_.size())),
                    "can not allocate a picture");
        std::memcpy(packet.data, showing_.data(), showing_.size());
        return time;
    }

    std::string Diagnose() override { return stream_->Failure(); }

private:
    // On PipeWire's thread: converts outside the lock, then swaps the picture in.
    void Take(const StreamPicture& picture) {
        const std::int64_t time = CaptureTime(picture.monotonicNs);
        try {
            if (!fit_) {
                const Region region =
                    request_.region.value_or(Region{picture.width, picture.height, 0, 0});
                if (static_cast<std::int64_t>(region.x) + region.width > picture.width ||
                    static_cast<std::int64_t>(region.y) + region.height > picture.height) {
                    throw std::runtime_error("the region does not fit in the shared screen (" +
                                             std::to_string(picture.width) + "x" +
                                             std::to_string(picture.height) + ")");
                }
                width_ = region.width & ~1;
                height_ = region.height & ~1;
                if (width_ < 2 || height_ < 2) {
                    throw std::runtime_error("the shared screen is too small to record");
                }
                fit_ = std::make_unique<PictureFit>(width_, height_, request_.region);
            }
            fit_->Fit(picture, spare_);
        } catch (const std::exception& error) {
            const std::lock_guard<std::mutex> lock(mutex_);
            failure_ = error.what();
            arrived_.notify_all();
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            latest_.swap(spare_);
            latestTime_ = time;
            overwritten_ += fresh_ ? 1 : 0;
            fresh_ = true;
        }
        arrived_.notify_all();
    }

    WaylandRequest request_;
    ParametersPtr parameters_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::uint8_t> latest_;
    std::vector<std::uint8_t> showing_;  // the reader's own
    std::vector<std::uint8_t> spare_;    // PipeWire's thread's own
    std::unique_ptr<PictureFit> fit_;    // PipeWire's thread's own
    std::int64_t latestTime_ = 0;
    bool fresh_ = false;
    std::int64_t overwritten_ = 0;
    std::string failure_;
    int width_ = 0;
    int height_ = 0;
    std::int64_t start_ = 0;
    std::int64_t count_ = 0;
    // Last, so they go first: the portal session outlives the stream, and the stream stops
    // its thread before the pictures go.
    std::unique_ptr<CastSession> session_;
    std::unique_ptr<PipeWireStream> stream_;
};

}  // namespace

bool InWaylandSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display && *display) || (type && std::strcmp(type, "wayland") == 0);
}

std::unique_ptr<Source> OpenWayland(const WaylandRequest& request) {
    if (request.forgetToken) {
        ForgetRestoreToken();
    }
    CastRequest cast;
    cast.window = request.window;
    cast.cursor = request.cursor;
    cast.restoreToken = LoadRestoreToken();
    auto session = std::make_unique<CastSession>(cast);
    if (session->TokenRefused()) {
        ForgetRestoreToken();
    }
    if (!session->RestoreToken().empty()) {
        SaveRestoreToken(session->RestoreToken());
    }
    auto source = std::make_unique<WaylandSource>(request, std::move(session));
    source->AwaitFirst();
    return source;
}

}  // namespace Vantor::Lumo::Recorder
