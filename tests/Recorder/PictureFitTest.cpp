// Screen-cast pictures fitted into one recording size: the region cut out, another shape scaled
// with black borders, every 32-bit order read right.

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "Recorder/Sources/Wayland/PictureFit.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace Vantor::Lumo::Recorder {
namespace {

struct Bgr {
    int blue, green, red;
};

// A picture of `width` x `height` in `format`, every pixel `colour`, with left and right halves
// of the two given colours.
std::vector<std::uint8_t> Picture(int width, int height, AVPixelFormat format, Bgr left,
                                  Bgr right) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4, 0xff);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Bgr& c = x < width / 2 ? left : right;
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            switch (format) {
                case AV_PIX_FMT_BGR0:
                    p[0] = c.blue, p[1] = c.green, p[2] = c.red;
                    break;
                case AV_PIX_FMT_RGBA:
                    p[0] = c.red, p[1] = c.green, p[2] = c.blue;
                    break;
                case AV_PIX_FMT_0RGB:
                    p[1] = c.red, p[2] = c.green, p[3] = c.blue;
                    break;
                default:
                    p[3] = c.red, p[2] = c.green, p[1] = c.blue;
                    break;  // 0BGR
            }
        }
    }
    return pixels;
}

Bgr At(const std::vector<std::uint8_t>& target, int width, int x, int y) {
    const std::uint8_t* p = &target[(static_cast<std::size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2]};
}

void ExpectNear(Bgr actual, Bgr expected, const char* where) {
    EXPECT_NEAR(actual.blue, expected.blue, 3) << where;
    EXPECT_NEAR(actual.green, expected.green, 3) << where;
    EXPECT_NEAR(actual.red, expected.red, 3) << where;
}

constexpr Bgr kRed{0, 0, 255};
constexpr Bgr kBlue{255, 0, 0};
constexpr Bgr kBlack{0, 0, 0};

TEST(PictureFitTest, EveryOrderOfTheChannelsComesOutAlike) {
    for (AVPixelFormat format :
         {AV_PIX_FMT_BGR0, AV_PIX_FMT_RGBA, AV_PIX_FMT_0RGB, AV_PIX_FMT_0BGR}) {
        const auto pixels = Picture(64, 32, format, kRed, kBlue);
        PictureFit fit(64, 32, std::nullopt);
        std::vector<std::uint8_t> target;
        fit.Fit({pixels.data(), 64 * 4, 64, 32, format, -1}, target);
        ASSERT_EQ(target.size(), 64u * 32 * 4);
        ExpectNear(At(target, 64, 8, 16), kRed, av_get_pix_fmt_name(format));
        ExpectNear(At(target, 64, 56, 16), kBlue, av_get_pix_fmt_name(format));
    }
}

TEST(PictureFitTest, ARegionIsCutOutAndAnotherShapeGetsBlackBorders) {
    const auto wide = Picture(64, 32, AV_PIX_FMT_BGR0, kRed, kBlue);
    // The right half only: all blue.
    PictureFit region(32, 32, Region{32, 32, 32, 0});
    std::vector<std::uint8_t> target;
    region.Fit({wide.data(), 64 * 4, 64, 32, AV_PIX_FMT_BGR0, -1}, target);
    ExpectNear(At(target, 32, 2, 2), kBlue, "region, left");
    ExpectNear(At(target, 32, 29, 29), kBlue, "region, right");

    // The output became square: scaled to 32x32 in the middle of 64x32, black either side;
    // then wide again, into the same buffer, with no border left over.
    PictureFit fit(64, 32, std::nullopt);
    const auto square = Picture(48, 48, AV_PIX_FMT_BGR0, kRed, kBlue);
    fit.Fit({square.data(), 48 * 4, 48, 48, AV_PIX_FMT_BGR0, -1}, target);
    ASSERT_EQ(target.size(), 64u * 32 * 4);
    ExpectNear(At(target, 64, 4, 16), kBlack, "left border");
    ExpectNear(At(target, 64, 60, 16), kBlack, "right border");
    ExpectNear(At(target, 64, 20, 16), kRed, "picture, left half");
    ExpectNear(At(target, 64, 44, 16), kBlue, "picture, right half");
    fit.Fit({wide.data(), 64 * 4, 64, 32, AV_PIX_FMT_BGR0, -1}, target);
    ExpectNear(At(target, 64, 1, 16), kRed, "wide again, left edge");
    ExpectNear(At(target, 64, 62, 16), kBlue, "wide again, right edge");
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
