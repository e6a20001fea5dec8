#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

namespace kel {

// The montage's pictures are 4:2:0, as the encoder reads them: one buffer at an even size, the
// luma plane then the two chroma planes at half size (I420), limited range. A picture of w x h is
// a CV_8UC1 Mat of h * 3 / 2 rows of w bytes; composing in it spares a conversion each way.
namespace yuv {

struct Planes {
    cv::Mat y, u, v; // views into the picture
};

// A black picture; `size` rounded down to even.
cv::Mat black(cv::Size size);
// A picture of that size whose pixels are left to be written.
cv::Mat picture(cv::Size size);
// Plane pointers and line sizes as swscale takes them.
struct SwsPlanes {
    uint8_t* data[4];
    int linesize[4];
};
SwsPlanes swsPlanes(const cv::Mat& picture);
cv::Size sizeOf(const cv::Mat& picture);
Planes planes(const cv::Mat& picture);
// The nearest even size below (at least 2 x 2).
cv::Size evenDown(cv::Size size);
// Paints a picture black.
void clear(cv::Mat& picture);
// Copies the `from` rectangle of `source` (in luma pixels) to `to` in `target`. The luma lands
// exactly; a colour sample the copy covers in part mixes both colours by the share covered.
void copy(const cv::Mat& source, cv::Rect from, cv::Mat& target, cv::Point to);
// The picture turned clockwise by quarter turns (0 to 3).
cv::Mat rotated(const cv::Mat& picture, int quarterTurns);
// Sum of the luma above black over a rectangle.
double lumaAboveBlack(const cv::Mat& picture, cv::Rect rect);

} // namespace yuv
} // namespace kel
