#include "yuv_picture.h"

#include <algorithm>

namespace kel::yuv {

namespace {
constexpr int kBlackLuma = 16;
constexpr int kNeutralChroma = 128;

void rotatePlane(const cv::Mat& from, cv::Mat& to, int quarterTurns) {
    static const int codes[] = {-1, cv::ROTATE_90_CLOCKWISE, cv::ROTATE_180,
                                cv::ROTATE_90_COUNTERCLOCKWISE};
    if (quarterTurns == 0)
        from.copyTo(to);
    else
        cv::rotate(from, to, codes[quarterTurns]); // writes into `to`, a view of the same size
}
} // namespace

cv::Size evenDown(cv::Size size) {
    return {std::max(2, size.width & ~1), std::max(2, size.height & ~1)};
}

cv::Mat black(cv::Size size) {
    size = evenDown(size);
    cv::Mat picture(size.height * 3 / 2, size.width, CV_8UC1);
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
    s.y(cv::Rect(from.tl(), into.size())).copyTo(t.y(into));
    const cv::Rect intoHalf(into.x / 2, into.y / 2, (into.br().x + 1) / 2 - into.x / 2,
                            (into.br().y + 1) / 2 - into.y / 2);
    const cv::Rect fromHalf = cv::Rect(from.x / 2, from.y / 2, intoHalf.width, intoHalf.height) &
                              cv::Rect(0, 0, s.u.cols, s.u.rows);
    const cv::Rect half(intoHalf.tl(), fromHalf.size());
    // A colour sample shared with what is around (an odd edge) mixes both by the share covered,
    // so that the copy's colour does not spill half a pixel out.
    const bool oddEdge = (into.x | into.y | into.br().x | into.br().y) & 1;
    const cv::Mat uAround = oddEdge ? t.u(half).clone() : cv::Mat();
    const cv::Mat vAround = oddEdge ? t.v(half).clone() : cv::Mat();
    s.u(fromHalf).copyTo(t.u(half));
    s.v(fromHalf).copyTo(t.v(half));
    if (!oddEdge)
        return;
    const auto covered = [](int cell, int begin, int end) {
        return std::min(end, 2 * cell + 2) - std::max(begin, 2 * cell);
    };
    for (int y = 0; y < half.height; ++y) {
        const int rows = covered(half.y + y, into.y, into.br().y);
        for (int x = 0; x < half.width; ++x) {
            const int share = rows * covered(half.x + x, into.x, into.br().x); // of 4
            if (share == 4)
                continue;
            for (auto [plane, around] : {std::pair{t.u(half), uAround}, {t.v(half), vAround}}) {
                uchar& p = plane.at<uchar>(y, x);
                p = uchar((p * share + around.at<uchar>(y, x) * (4 - share) + 2) / 4);
            }
        }
    }
}

cv::Mat rotated(const cv::Mat& picture, int quarterTurns) {
    if (quarterTurns == 0)
        return picture;
    const cv::Size s = sizeOf(picture);
    cv::Mat out = black(quarterTurns % 2 ? cv::Size(s.height, s.width) : s);
    const Planes from = planes(picture);
    Planes to = planes(out);
    rotatePlane(from.y, to.y, quarterTurns);
    rotatePlane(from.u, to.u, quarterTurns);
    rotatePlane(from.v, to.v, quarterTurns);
    return out;
}

double lumaAboveBlack(const cv::Mat& picture, cv::Rect rect) {
    rect &= cv::Rect(cv::Point(), sizeOf(picture));
    return cv::sum(planes(picture).y(rect))[0] - double(kBlackLuma) * rect.area();
}

} // namespace kel::yuv
