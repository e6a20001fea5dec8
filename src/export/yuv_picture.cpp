#include "yuv_picture.h"

#include <algorithm>

namespace kel::yuv {

namespace {
constexpr int kBlackLuma = 16;
constexpr int kNeutralChroma = 128;

cv::Mat allocate(cv::Size size) {
    return cv::Mat(size.height * 3 / 2, size.width, CV_8UC1);
}
} // namespace

cv::Size evenDown(cv::Size size) {
    return {std::max(2, size.width & ~1), std::max(2, size.height & ~1)};
}

cv::Mat black(cv::Size size) {
    cv::Mat picture = allocate(evenDown(size));
    clear(picture);
    return picture;
}

cv::Size sizeOf(const cv::Mat& picture) {
    return {picture.cols, picture.rows * 2 / 3};
}

Planes planes(const cv::Mat& picture) {
    CV_Assert(picture.isContinuous() && picture.type() == CV_8UC1);
    const cv::Size s = sizeOf(picture);
    uchar* u = picture.data + size_t(s.area());
    uchar* v = u + size_t(s.area() / 4);
    return {picture.rowRange(0, s.height), cv::Mat(s.height / 2, s.width / 2, CV_8UC1, u),
            cv::Mat(s.height / 2, s.width / 2, CV_8UC1, v)};
}

void clear(cv::Mat& picture) {
    const cv::Size s = sizeOf(picture);
    picture.rowRange(0, s.height).setTo(kBlackLuma);
    picture.rowRange(s.height, picture.rows).setTo(kNeutralChroma);
}

void copy(const cv::Mat& source, cv::Rect from, cv::Mat& target, cv::Point to) {
    const Planes s = planes(source);
    const Planes t = planes(target);
    from &= cv::Rect(cv::Point(), sizeOf(source));
    const cv::Rect into = cv::Rect(to, from.size()) & cv::Rect(cv::Point(), sizeOf(target));
    if (into.empty())
        return;
    from = cv::Rect(from.tl() + (into.tl() - to), into.size());
    s.y(from).copyTo(t.y(into));
    if (!((from.x | from.y | into.x | into.y | into.width | into.height) & 1)) {
        const cv::Rect fromHalf(from.x / 2, from.y / 2, from.width / 2, from.height / 2);
        const cv::Rect intoHalf(into.x / 2, into.y / 2, into.width / 2, into.height / 2);
        s.u(fromHalf).copyTo(t.u(intoHalf));
        s.v(fromHalf).copyTo(t.v(intoHalf));
        return;
    }
    // Colour samples straddling the edge or shifted by a pixel: each takes the source's sample
    // under the first pixel it covers, mixed with what is there by the share it covers (of 4).
    const auto span = [](int cell, int begin, int end) {
        const int first = std::max(begin, 2 * cell);
        return std::pair{first, std::min(end, 2 * cell + 2) - first};
    };
    for (int cy = into.y / 2; cy < (into.br().y + 1) / 2; ++cy) {
        const auto [ly, rows] = span(cy, into.y, into.br().y);
        const int sy = std::min((ly - into.y + from.y) / 2, s.u.rows - 1);
        for (int cx = into.x / 2; cx < (into.br().x + 1) / 2; ++cx) {
            const auto [lx, cols] = span(cx, into.x, into.br().x);
            const int sx = std::min((lx - into.x + from.x) / 2, s.u.cols - 1);
            const int share = rows * cols;
            for (auto [plane, sample] : {std::pair{t.u, s.u}, std::pair{t.v, s.v}}) {
                uchar& p = plane.at<uchar>(cy, cx);
                p = uchar((sample.at<uchar>(sy, sx) * share + p * (4 - share) + 2) / 4);
            }
        }
    }
}

cv::Mat picture(cv::Size size) {
    return allocate(evenDown(size));
}

SwsPlanes swsPlanes(const cv::Mat& picture) {
    const Planes p = planes(picture);
    return {{p.y.data, p.u.data, p.v.data, nullptr},
            {int(p.y.step), int(p.u.step), int(p.v.step), 0}};
}

cv::Mat rotated(const cv::Mat& picture, int quarterTurns) {
    if (quarterTurns == 0)
        return picture;
    static const int codes[] = {-1, cv::ROTATE_90_CLOCKWISE, cv::ROTATE_180,
                                cv::ROTATE_90_COUNTERCLOCKWISE};
    const cv::Size s = sizeOf(picture);
    cv::Mat out = allocate(quarterTurns % 2 ? cv::Size(s.height, s.width) : s);
    const Planes from = planes(picture);
    const Planes to = planes(out);
    // Each plane turned into its place in `out` (a view of the right size: nothing reallocates).
    for (auto [f, t] : {std::pair{from.y, to.y}, {from.u, to.u}, {from.v, to.v}})
        cv::rotate(f, t, codes[quarterTurns]);
    return out;
}

double lumaAboveBlack(const cv::Mat& picture, cv::Rect rect) {
    rect &= cv::Rect(cv::Point(), sizeOf(picture));
    return cv::sum(planes(picture).y(rect))[0] - double(kBlackLuma) * rect.area();
}

} // namespace kel::yuv
