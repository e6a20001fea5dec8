#include "opencv_widget.h"

#include <QPainter>

#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace kel {

bool convertFrame(cv::Mat& frame, QImage& image) {
    cv::flip(frame, frame, 1);
    if (frame.depth() != CV_8U) {
        std::fputs("This type of IplImage is not implemented in QOpenCVWidget\n", stdout);
        std::fflush(stdout);
        return false;
    }
    if (frame.channels() != 3) {
        std::fputs("This number of channels is not supported\n", stdout);
        std::fflush(stdout);
        return false;
    }
    if (image.width() != frame.cols || image.height() != frame.rows ||
        image.format() != QImage::Format_RGB32)
        image = QImage(frame.cols, frame.rows, QImage::Format_RGB32);
    // RGB32 is stored as B, G, R, 0xff in memory: BGR to BGRA is the whole conversion.
    cv::Mat target(image.height(), image.width(), CV_8UC4, image.bits(),
                   size_t(image.bytesPerLine()));
    cv::cvtColor(frame, target, cv::COLOR_BGR2BGRA);
    return true;
}

QOpenCVWidget::QOpenCVWidget(QWidget* parent)
    : QWidget(parent), image(100, 100, QImage::Format_RGB32) {
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            image.setPixel(x, y, qRgb(x, y, y));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

QOpenCVWidget::~QOpenCVWidget() = default;

void QOpenCVWidget::showFrame(cv::Mat& frame) {
    if (convertFrame(frame, image))
        update();
}

namespace {
// The preview's size in the window at its default size.
constexpr QSize kPlacedSize(451, 375);
} // namespace

void QOpenCVWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // In a grown window the picture grows with the preview.
    const bool grown = width() > kPlacedSize.width() || height() > kPlacedSize.height();
    if (!grown && image.width() <= width() && image.height() <= height()) {
        painter.drawImage(0, 0, image);
        return;
    }
    // A camera picture larger than the preview is fitted whole, so that the teacher sees the
    // whole of what will be recorded.
    QRect target(QPoint(0, 0), image.size().scaled(size(), Qt::KeepAspectRatio));
    target.moveCenter(rect().center());
    painter.drawImage(target, image);
}

} // namespace kel
