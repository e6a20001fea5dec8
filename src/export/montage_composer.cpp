#include "montage_composer.h"

#include "export/yuv_picture.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace kel {

const char* const MontageComposer::kCaption = "TORVEN";

MontageComposer::MontageComposer(const MontageGeometry& g) : m_g(g) {
    const cv::Size size(g.frameWidth, g.frameHeight);
    m_student = yuv::black(size);
    m_out = yuv::black(size);
    m_insetFull = cv::Rect(0, g.insetTop, g.insetWidth, g.insetHeight);
    m_insetVisible = m_insetFull & cv::Rect(cv::Point(0, 0), yuv::sizeOf(m_out));
    m_captionFont = captionFont(g);
    renderCaption();
}

QFont MontageComposer::captionFont(const MontageGeometry& g) {
    QFont font;
    font.setBold(true);
    const QString text = QString::fromLatin1(kCaption);
    // Right-aligned in its box: the text's left end must stay inside, one pixel off the edge.
    for (int px = std::max(1, g.captionFontPx); px >= 1; --px) {
        font.setPixelSize(px);
        const QFontMetrics m(font);
        const QRect ink = m.tightBoundingRect(text);
        const int left = g.captionWidth - m.horizontalAdvance(text) + ink.left();
        if (px == 1 || (left >= 1 && m.descent() + ink.height() <= g.captionHeight))
            break;
    }
    return font;
}

cv::Rect MontageComposer::studentRect(cv::Size display) const {
    const cv::Size frame = yuv::sizeOf(m_out);
    if (display.width <= 0 || display.height <= 0)
        return cv::Rect(cv::Point(), frame);
    const double scale =
        std::min(double(frame.width) / display.width, double(frame.height) / display.height);
    // Even sizes and corners: the chroma's 2 x 2 blocks stay whole.
    const int w = std::clamp(int(std::lround(display.width * scale)) & ~1, 2, frame.width);
    const int h = std::clamp(int(std::lround(display.height * scale)) & ~1, 2, frame.height);
    return cv::Rect(((frame.width - w) / 2) & ~1, ((frame.height - h) / 2) & ~1, w, h);
}

cv::Size MontageComposer::insetFillSize(cv::Size display) const {
    const auto even = [](int v) { return (v + 1) & ~1; };
    if (display.width <= 0 || display.height <= 0)
        return {even(m_insetFull.width), even(m_insetFull.height)};
    const double scale = std::max(double(m_insetFull.width) / display.width,
                                  double(m_insetFull.height) / display.height);
    return cv::Size(
        even(std::max(m_insetFull.width, int(std::ceil(display.width * scale - 1e-6)))),
        even(std::max(m_insetFull.height, int(std::ceil(display.height * scale - 1e-6)))));
}

void MontageComposer::setStudent(const cv::Mat& fitted, const cv::Rect& rect) {
    if (rect != m_fit) {
        yuv::clear(m_student);
        m_fit = rect;
    }
    if (yuv::sizeOf(fitted) == rect.size() && fitted.type() == CV_8UC1)
        yuv::copy(fitted, cv::Rect(cv::Point(), rect.size()), m_student, rect.tl());
}

const cv::Mat& MontageComposer::withAnnotation(const cv::Mat& filled) {
    m_student.copyTo(m_out);
    const cv::Size fill = yuv::sizeOf(filled);
    if (!m_insetVisible.empty() && fill.width >= m_insetFull.width &&
        fill.height >= m_insetFull.height) {
        // The centre of the filled picture; only the part of the inset inside the frame.
        const cv::Point crop((fill.width - m_insetFull.width) / 2,
                             (fill.height - m_insetFull.height) / 2);
        const cv::Rect part(crop + (m_insetVisible.tl() - m_insetFull.tl()), m_insetVisible.size());
        yuv::copy(filled, part, m_out, m_insetVisible.tl());
    }
    drawCaption(m_out);
    return m_out;
}

bool MontageComposer::insetBrightEnough(const cv::Mat& frame) const {
    return yuv::lumaAboveBlack(frame, m_insetVisible) > kMinInsetLuma;
}

// The caption's coverage, drawn once as Qt draws text; each frame blends white in by it.
void MontageComposer::renderCaption() {
    const QRect box = captionBox() & QRect(0, 0, m_g.frameWidth, m_g.frameHeight);
    QImage ink(box.size(), QImage::Format_ARGB32_Premultiplied);
    ink.fill(Qt::transparent);
    QPainter painter(&ink);
    painter.setFont(m_captionFont);
    painter.setPen(Qt::white);
    painter.drawText(QRect(QPoint(0, 0), box.size()), Qt::AlignRight | Qt::AlignBottom,
                     QString::fromLatin1(kCaption));
    painter.end();
    m_captionAlpha.create(box.height(), box.width(), CV_8UC1);
    for (int y = 0; y < box.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(ink.constScanLine(y));
        for (int x = 0; x < box.width(); ++x)
            m_captionAlpha.at<uchar>(y, x) = uchar(qAlpha(line[x]));
    }
    cv::resize(m_captionAlpha, m_captionChromaAlpha,
               cv::Size((box.width() + 1) / 2, (box.height() + 1) / 2), 0, 0, cv::INTER_AREA);
}

void MontageComposer::drawCaption(cv::Mat& frame) {
    // White in limited range: luma 235, no colour.
    const auto blend = [](cv::Mat plane, const cv::Mat& alpha, int value) {
        for (int y = 0; y < alpha.rows; ++y)
            for (int x = 0; x < alpha.cols; ++x) {
                const int a = alpha.at<uchar>(y, x);
                uchar& p = plane.at<uchar>(y, x);
                p = uchar((p * (255 - a) + value * a + 127) / 255);
            }
    };
    const yuv::Planes p = yuv::planes(frame);
    blend(p.y, m_captionAlpha, 235);
    blend(p.u, m_captionChromaAlpha, 128);
    blend(p.v, m_captionChromaAlpha, 128);
}

} // namespace kel
