#include "montage_composer.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kel {

const char* const MontageComposer::kCaption = "TORVEN";

MontageComposer::MontageComposer(const MontageGeometry& g) : m_g(g) {
    const cv::Size size(g.frameWidth, g.frameHeight);
    m_student = cv::Mat::zeros(size, CV_8UC3);
    m_out.create(size, CV_8UC3);
    m_insetFull = cv::Rect(0, g.insetTop, g.insetWidth, g.insetHeight);
    m_insetVisible = m_insetFull & cv::Rect(cv::Point(0, 0), size);
    m_captionFont = captionFont(g);
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
    if (display.width <= 0 || display.height <= 0)
        return cv::Rect(0, 0, m_g.frameWidth, m_g.frameHeight);
    const double scale =
        std::min(double(m_g.frameWidth) / display.width, double(m_g.frameHeight) / display.height);
    const int w = std::clamp(int(std::lround(display.width * scale)), 1, m_g.frameWidth);
    const int h = std::clamp(int(std::lround(display.height * scale)), 1, m_g.frameHeight);
    return cv::Rect((m_g.frameWidth - w) / 2, (m_g.frameHeight - h) / 2, w, h);
}

cv::Size MontageComposer::insetFillSize(cv::Size display) const {
    if (display.width <= 0 || display.height <= 0)
        return m_insetFull.size();
    const double scale = std::max(double(m_insetFull.width) / display.width,
                                  double(m_insetFull.height) / display.height);
    return cv::Size(std::max(m_insetFull.width, int(std::ceil(display.width * scale - 1e-6))),
                    std::max(m_insetFull.height, int(std::ceil(display.height * scale - 1e-6))));
}

void MontageComposer::setStudent(const cv::Mat& fitted, const cv::Rect& rect) {
    if (rect != m_fit) {
        m_student.setTo(cv::Scalar::all(0));
        m_fit = rect;
    }
    if (fitted.size() == rect.size() && fitted.type() == CV_8UC3)
        fitted.copyTo(m_student(rect));
}

const cv::Mat& MontageComposer::withAnnotation(const cv::Mat& filled) {
    m_student.copyTo(m_out);
    if (!m_insetVisible.empty() && filled.cols >= m_insetFull.width &&
        filled.rows >= m_insetFull.height) {
        // The centre of the filled picture; only the part of the inset inside the frame.
        const cv::Point crop((filled.cols - m_insetFull.width) / 2,
                             (filled.rows - m_insetFull.height) / 2);
        const cv::Rect part(crop + (m_insetVisible.tl() - m_insetFull.tl()), m_insetVisible.size());
        filled(part).copyTo(m_out(m_insetVisible));
    }
    drawCaption(m_out);
    return m_out;
}

bool MontageComposer::insetBrightEnough(const cv::Mat& frame) const {
    const cv::Scalar sum = cv::sum(frame(m_insetVisible));
    return sum[0] + sum[1] + sum[2] > kMinInsetBrightness;
}

void MontageComposer::drawCaption(cv::Mat& frame) {
    QImage image(frame.data, frame.cols, frame.rows, int(frame.step), QImage::Format_BGR888);
    QPainter painter(&image);
    const QRect box = captionBox();
    painter.setClipRect(box);
    painter.setFont(m_captionFont);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignRight | Qt::AlignBottom, QString::fromLatin1(kCaption));
}

} // namespace kel
