#include "Recorder/Sources/Wayland/PictureFit.h"

#include <algorithm>
#include <stdexcept>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace Vantor::Lumo::Recorder {

namespace {

constexpr int kBytesPerPixel = 4;

}  // namespace

PictureFit::PictureFit(int width, int height, std::optional<Region> region)
    : width_(width), height_(height), region_(region) {}

PictureFit::~PictureFit() {
    sws_freeContext(scaler_);
}

void PictureFit::Fit(const StreamPicture& picture, std::vector<std::uint8_t>& target) {
    // The part of the picture wanted: the region, clipped to what the picture has.
    int x = 0;
    int y = 0;
    int width = picture.width;
    int height = picture.height;
    if (region_) {
        x = std::min(region_->x, picture.width - 1);
        y = std::min(region_->y, picture.height - 1);
        width = std::min(region_->width, picture.width - x);
        height = std::min(region_->height, picture.height - y);
    }
    // Scaled to the largest size of the same shape that fits, centred.
    int fitWidth = width_;
    int fitHeight = height_;
    if (static_cast<std::int64_t>(width) * height_ > static_cast<std::int64_t>(height) * width_) {
        fitHeight =
            std::max(2, static_cast<int>(static_cast<std::int64_t>(height) * width_ / width) & ~1);
    } else {
        fitWidth =
            std::max(2, static_cast<int>(static_cast<std::int64_t>(width) * height_ / height) & ~1);
    }
    fitWidth = std::min(fitWidth, width_);
    fitHeight = std::min(fitHeight, height_);
    const std::size_t size = static_cast<std::size_t>(width_) * height_ * kBytesPerPixel;
    // A bordered picture is cleared first: the buffer may hold a picture of another shape.
    if (target.size() != size || fitWidth != width_ || fitHeight != height_) {
        target.assign(size, 0);
    }
    const int left = (width_ - fitWidth) / 2;
    const int top = (height_ - fitHeight) / 2;
    scaler_ = sws_getCachedContext(scaler_, width, height, picture.format, fitWidth, fitHeight,
                                   AV_PIX_FMT_BGR0, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler_) {
        throw std::runtime_error(std::string("can not convert screen-cast pictures from ") +
                                 av_get_pix_fmt_name(picture.format));
    }
    const std::uint8_t* source[4] = {picture.pixels + static_cast<std::size_t>(y) * picture.stride +
                                     static_cast<std::size_t>(x) * kBytesPerPixel};
    const int sourceStride[4] = {picture.stride};
    const int stride = width_ * kBytesPerPixel;
    std::uint8_t* destination[4] = {target.data() + static_cast<std::size_t>(top) * stride +
                                    static_cast<std::size_t>(left) * kBytesPerPixel};
    const int destinationStride[4] = {stride};
    sws_scale(scaler_, source, sourceStride, 0, height, destination, destinationStride);
}

}  // namespace Vantor::Lumo::Recorder
