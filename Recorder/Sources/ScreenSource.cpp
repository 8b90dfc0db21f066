#include "Recorder/Sources/ScreenSource.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "Recorder/Sources/XcbGrab.h"
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

// The screen's grab, which can tell afterwards why it stopped.
class ScreenSource final : public Source {
public:
    ScreenSource(const ScreenRequest& request, std::unique_ptr<XcbGrab> grab)
        : request_(request), description_(Describe(request.display)), grab_(std::move(grab)) {}

    const std::string& Description() const override { return description_; }
    const AVCodecParameters& Parameters() const override { return grab_->Parameters(); }
    int FramesPerSecond() const override { return request_.fps; }
    std::int64_t Read(AVPacket& packet) override { return grab_->Read(packet); }

    // A fresh connection tells a closed display from a screen that shrank under the region.
    std::string Diagnose() override {
        try {
            const auto size = WaitOrAbandon<std::pair<int, int>>(
                [request = request_] {
                    return XcbGrab(request.display, Describe(request.display), request.fps)
                        .ScreenSize();
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
    std::string description_;
    std::unique_ptr<XcbGrab> grab_;
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
    auto grab = std::make_unique<XcbGrab>(request.display, Describe(request.display), request.fps);
    const auto [width, height] = grab->ScreenSize();
    Region region = request.region.value_or(Region{width, height, 0, 0});
    // Said plainly here, since the server only answers "BadMatch".
    if (static_cast<std::int64_t>(region.x) + region.width > width ||
        static_cast<std::int64_t>(region.y) + region.height > height) {
        throw std::runtime_error("the region " + SizeText(region.width, region.height) + "+" +
                                 std::to_string(region.x) + "+" + std::to_string(region.y) +
                                 " does not fit in " + Describe(request.display) + " (" +
                                 SizeText(width, height) + ")");
    }
    // The encoder takes even sizes only; the odd last row or column is left out.
    region.width &= ~1;
    region.height &= ~1;
    if (region.width < 2 || region.height < 2) {
        throw std::runtime_error(Describe(request.display) + " is too small to record");
    }
    grab->Choose(region.x, region.y, region.width, region.height);
    ScreenRequest exact = request;
    exact.region = region;
    return std::make_unique<ScreenSource>(exact, std::move(grab));
}

}  // namespace Vantor::Lumo::Recorder
