#include "film_composer.h"

#include "export/yuv_picture.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace kel {

namespace {

int evenDown(int v) {
    return v & ~1;
}

// A picture of `display` fitted whole in `area`, centred; even corners and sizes keep the chroma's
// 2 x 2 blocks whole.
cv::Rect fitted(cv::Size display, const cv::Rect& area) {
    if (display.width <= 0 || display.height <= 0)
        return area;
    const double scale =
        std::min(double(area.width) / display.width, double(area.height) / display.height);
    const int w = std::clamp(evenDown(int(std::lround(display.width * scale))), 2, area.width);
    const int h = std::clamp(evenDown(int(std::lround(display.height * scale))), 2, area.height);
    return {area.x + evenDown((area.width - w) / 2), area.y + evenDown((area.height - h) / 2), w,
            h};
}

cv::Rect evenRect(const cv::Rect& r) {
    const int x = (r.x + 1) & ~1, y = (r.y + 1) & ~1;
    return {x, y, std::max(2, evenDown(r.br().x - x)), std::max(2, evenDown(r.br().y - y))};
}

} // namespace

FilmComposer::FilmComposer(const MontageGeometry& g, MontageLayout layout)
    : m_g(g), m_layout(layout), m_frame(evenDown(g.frameWidth), evenDown(g.frameHeight)) {
    m_out = yuv::black(m_frame);
    m_base = yuv::black(m_frame);
}

int FilmComposer::captionPx(cv::Size frame) {
    return std::max(12, std::min(frame.width, frame.height) / 22);
}

cv::Rect FilmComposer::studentRect(cv::Size display, bool withComment) const {
    cv::Rect area(cv::Point(), m_frame);
    if (withComment && m_layout == MontageLayout::Cote) {
        if (m_frame.width >= m_frame.height)
            area.width = evenDown(m_frame.width / 2);
        else
            area.height = evenDown(m_frame.height / 2);
    }
    return fitted(display, area);
}

cv::Rect FilmComposer::commentBox(cv::Size display) const {
    const int w = m_frame.width, h = m_frame.height;
    switch (m_layout) {
    case MontageLayout::Incrustation:
        return evenRect(cv::Rect(0, m_g.insetTop, m_g.insetWidth, m_g.insetHeight) &
                        cv::Rect(cv::Point(), m_frame));
    case MontageLayout::Cote:
        if (w >= h)
            return {evenDown(w / 2), 0, w - evenDown(w / 2), h};
        return {0, evenDown(h / 2), w, h - evenDown(h / 2)};
    case MontageLayout::Grande:
        break;
    }
    // A signer on a phone needs a third of the width and half the height at least: the comment
    // grows to both, as far as the frame allows; the box keeps that least size whatever its shape.
    const int minW = (w + 2) / 3, minH = (h + 1) / 2;
    cv::Size picture(minW, minH);
    if (display.width > 0 && display.height > 0) {
        double scale = std::max(double(minW) / display.width, double(minH) / display.height);
        scale = std::min({scale, double(w) / display.width, double(h) / display.height});
        picture = {int(std::ceil(display.width * scale)), int(std::ceil(display.height * scale))};
    }
    const int bw = std::min(w, (std::max(picture.width, minW) + 1) & ~1);
    const int bh = std::min(h, (std::max(picture.height, minH) + 1) & ~1);
    return {0, h - bh, bw, bh};
}

cv::Rect FilmComposer::commentRect(cv::Size display) const {
    return fitted(display, commentBox(display));
}

const cv::Mat& FilmComposer::student(const cv::Mat& fitted, const cv::Rect& rect) {
    // A picture that fills the frame goes out as it is.
    if (rect == cv::Rect(cv::Point(), m_frame) && yuv::sizeOf(fitted) == m_frame)
        return fitted;
    if (rect != m_fit) {
        yuv::clear(m_out);
        m_fit = rect;
    }
    if (yuv::sizeOf(fitted) == rect.size())
        yuv::copy(fitted, cv::Rect(cv::Point(), rect.size()), m_out, rect.tl());
    return m_out;
}

void FilmComposer::beginComment(const cv::Mat& student, const cv::Rect& studentAt,
                                cv::Size commentDisplay, const QString& caption) {
    yuv::clear(m_base);
    if (yuv::sizeOf(student) == studentAt.size())
        yuv::copy(student, cv::Rect(cv::Point(), studentAt.size()), m_base, studentAt.tl());
    const cv::Rect box = commentBox(commentDisplay);
    m_commentAt = commentRect(commentDisplay);
    // The box is black over the student's picture where the comment leaves room.
    const yuv::Planes p = yuv::planes(m_base);
    p.y(box).setTo(16);
    const cv::Rect half(box.x / 2, box.y / 2, box.width / 2, box.height / 2);
    p.u(half).setTo(128);
    p.v(half).setTo(128);

    const int px = captionPx(m_frame);
    const int bandH = evenDown(int(std::lround(px * 1.6)));
    int y = m_commentAt.y - bandH; // in the box's bar when there is one,
    if (y < box.y)
        y = box.y >= bandH ? box.y - bandH : m_commentAt.y; // else above the box, else over it
    QFont font;
    font.setBold(true);
    font.setPixelSize(px);
    const int textW = QFontMetrics(font).horizontalAdvance(caption) + 2 * px;
    const int w = std::min(m_frame.width - box.x, std::max(box.width, textW));
    m_band = evenRect(cv::Rect(box.x, y, w, bandH)) & cv::Rect(cv::Point(), m_frame);
    renderCaption(caption);
    m_fit = cv::Rect(); // the next picture of the student alone repaints the whole frame
}

const cv::Mat& FilmComposer::comment(const cv::Mat& fitted) {
    m_base.copyTo(m_out);
    if (yuv::sizeOf(fitted) == m_commentAt.size())
        yuv::copy(fitted, cv::Rect(cv::Point(), m_commentAt.size()), m_out, m_commentAt.tl());
    drawCaption(m_out);
    return m_out;
}

// The band and its text, drawn once as Qt draws them; each frame blends them in.
void FilmComposer::renderCaption(const QString& text) {
    QImage ink(m_band.width, m_band.height, QImage::Format_ARGB32_Premultiplied);
    ink.fill(QColor(0, 0, 0, 170));
    QFont font;
    font.setBold(true);
    font.setPixelSize(captionPx(m_frame));
    QPainter painter(&ink);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const int pad = font.pixelSize() / 2;
    const QRect room(pad, 0, m_band.width - 2 * pad, m_band.height);
    painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(font).elidedText(text, Qt::ElideRight, room.width()));
    painter.end();
    m_alpha.create(m_band.height, m_band.width, CV_8UC1);
    m_luma.create(m_band.height, m_band.width, CV_8UC1);
    for (int y = 0; y < m_band.height; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(ink.constScanLine(y));
        for (int x = 0; x < m_band.width; ++x) {
            const int a = qAlpha(line[x]), grey = qGreen(line[x]);
            m_alpha.at<uchar>(y, x) = uchar(a);
            // Limited range: the luma this pixel brings, already weighted by its coverage.
            m_luma.at<uchar>(y, x) = uchar((16 * a + 219 * grey + 127) / 255);
        }
    }
    cv::resize(m_alpha, m_chromaAlpha, cv::Size(m_band.width / 2, m_band.height / 2), 0, 0,
               cv::INTER_AREA);
}

void FilmComposer::drawCaption(cv::Mat& frame) const {
    if (m_band.empty())
        return;
    yuv::Planes p = yuv::planes(frame);
    for (int y = 0; y < m_band.height; ++y) {
        uchar* row = p.y.ptr<uchar>(m_band.y + y) + m_band.x;
        const uchar* a = m_alpha.ptr<uchar>(y);
        const uchar* l = m_luma.ptr<uchar>(y);
        for (int x = 0; x < m_band.width; ++x)
            row[x] = uchar((row[x] * (255 - a[x]) + 127) / 255 + l[x]);
    }
    for (cv::Mat plane : {p.u, p.v})
        for (int y = 0; y < m_chromaAlpha.rows; ++y) {
            uchar* row = plane.ptr<uchar>(m_band.y / 2 + y) + m_band.x / 2;
            const uchar* a = m_chromaAlpha.ptr<uchar>(y);
            for (int x = 0; x < m_chromaAlpha.cols; ++x)
                row[x] = uchar((row[x] * (255 - a[x]) + 128 * a[x] + 127) / 255);
        }
}

} // namespace kel
