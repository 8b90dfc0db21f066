#include "Recorder/Sources/ScreenSource.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "Recorder/Sources/DeviceInput.h"
#include "Recorder/WaitOrAbandon.h"

namespace Vantor::Lumo::Recorder {

namespace {

// How long a diagnosis waits for the X server before it calls the display gone.
constexpr std::chrono::milliseconds kDiagnosisLimit{2000};

std::string Describe(const std::string& display) {
    return "the X11 display '" + display + "'";
}

std::string SizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::unique_ptr<DeviceInput> OpenGrab(const ScreenRequest& request) {
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "framerate", request.fps, 0);
    if (request.region) {
        // The encoder takes even sizes only; the odd last row or column is left out.
        const std::string size = SizeText(request.region->width & ~1, request.region->height & ~1);
        av_dict_set(&options, "video_size", size.c_str(), 0);
        av_dict_set_int(&options, "grab_x", request.region->x, 0);
        av_dict_set_int(&options, "grab_y", request.region->y, 0);
    }
    return std::make_unique<DeviceInput>("x11grab", request.display, options,
                                         Describe(request.display), request.fps);
}

// The screen's grab, which can tell afterwards why it stopped.
class ScreenSource final : public Source {
public:
    ScreenSource(const ScreenRequest& request, std::unique_ptr<DeviceInput> grab)
        : request_(request), grab_(std::move(grab)) {}

    const std::string& Description() const override { return grab_->Description(); }
    const AVCodecParameters& Parameters() const override { return grab_->Parameters(); }
    int FramesPerSecond() const override { return request_.fps; }
    std::int64_t Read(AVPacket& packet) override { return grab_->Read(packet); }

    // A fresh connection tells a closed display from a screen that shrank under the region.
    std::string Diagnose() override {
        const ScreenRequest whole{request_.display, std::nullopt, request_.fps};
        try {
            const auto size = WaitOrAbandon<std::pair<int, int>>(
                [whole] {
                    const std::unique_ptr<DeviceInput> grab = OpenGrab(whole);
                    return std::pair{grab->Parameters().width, grab->Parameters().height};
                },
                kDiagnosisLimit, nullptr, "");
            const Region& region = *request_.region;
            if (static_cast<std::int64_t>(region.x) + region.width > size.first ||
                static_cast<std::int64_t>(region.y) + region.height > size.second) {
                return "the screen shrank to " + SizeText(size.first, size.second);
            }
            return {};
        } catch (const Abandoned&) {
            return "the X display " + request_.display + " does not answer";
        } catch (const std::exception&) {
            return "the X display " + request_.display + " closed";
        }
    }

private:
    ScreenRequest request_;  // with the exact region
    std::unique_ptr<DeviceInput> grab_;
};

}  // namespace

std::optional<Region> ParseRegion(const std::string& text) {
    Region region;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%dx%d+%d+%d%n", &region.width, &region.height, &region.x,
                    &region.y, &consumed) != 4 ||
        consumed != static_cast<int>(text.size()) || text.find_first_of(" -") != text.npos ||
        region.width < 2 || region.height < 2 || region.x < 0 || region.y < 0) {
        return std::nullopt;
    }
    // X11 coordinates are 16-bit: a corner beyond that is no screen's.
    constexpr std::int64_t kLargestScreen = std::numeric_limits<std::uint16_t>::max();
    if (static_cast<std::int64_t>(region.x) + region.width > kLargestScreen ||
        static_cast<std::int64_t>(region.y) + region.height > kLargestScreen) {
        return std::nullopt;
    }
    return region;
}

std::unique_ptr<Source> OpenScreen(const ScreenRequest& request) {
    ScreenRequest exact = request;
    Region region = request.region.value_or(Region{});
    if (request.region) {
        // Said plainly here, since the device only answers "Invalid argument".
        const std::unique_ptr<DeviceInput> whole = OpenGrab({request.display, {}, request.fps});
        const AVCodecParameters& screen = whole->Parameters();
        if (static_cast<std::int64_t>(region.x) + region.width > screen.width ||
            static_cast<std::int64_t>(region.y) + region.height > screen.height) {
            throw std::runtime_error("the region " + SizeText(region.width, region.height) + "+" +
                                     std::to_string(region.x) + "+" + std::to_string(region.y) +
                                     " does not fit in " + whole->Description() + " (" +
                                     SizeText(screen.width, screen.height) + ")");
        }
    }
    std::unique_ptr<DeviceInput> grab = OpenGrab(request);
    region.width = grab->Parameters().width & ~1;
    region.height = grab->Parameters().height & ~1;
    if (region.width < 2 || region.height < 2) {
        throw std::runtime_error(grab->Description() + " is too small to record");
    }
    exact.region = region;
    return std::make_unique<ScreenSource>(exact, std::move(grab));
}

}  // namespace Vantor::Lumo::Recorder
