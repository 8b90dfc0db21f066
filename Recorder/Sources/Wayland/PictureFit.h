#pragma once

// Fits every picture of a screen cast into the recording's one picture size: the first
// picture's (or the region's) size. A region is cut out first; a picture of another shape is
// scaled to fit and bordered in black, so a stream never changes its size.

#include <cstdint>
#include <optional>
#include <vector>

#include "Recorder/Sources/ScreenSource.h"
#include "Recorder/Sources/Wayland/PipeWireStream.h"

struct SwsContext;

namespace Vantor::Lumo::Recorder {

class PictureFit {
public:
    // Pictures of `width` x `height` (even) in AV_PIX_FMT_BGR0; `region` is cut from each
    // picture, as far as it lies inside it.
    PictureFit(int width, int height, std::optional<Region> region);
    ~PictureFit();
    PictureFit(const PictureFit&) = delete;
    PictureFit& operator=(const PictureFit&) = delete;

    // Writes `picture` into `target`, which it sizes. Throws std::runtime_error when swscale
    // can not convert it.
    void Fit(const StreamPicture& picture, std::vector<std::uint8_t>& target);

private:
    int width_;
    int height_;
    std::optional<Region> region_;
    SwsContext* scaler_ = nullptr;
};

}  // namespace Vantor::Lumo::Recorder
