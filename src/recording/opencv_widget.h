#pragma once

#include <QImage>
#include <QWidget>

#include <opencv2/core.hpp>

namespace kel {

// Shows camera frames mirrored, as a 32-bit RGB image that is reused while the size holds. The
// widget paints the image itself (a label's pixmap would share the image's buffer and force a new
// one for every frame): unscaled at its top-left, or fitted whole when larger than the widget.
class QOpenCVWidget : public QWidget {
    Q_OBJECT
public:
    explicit QOpenCVWidget(QWidget* parent = nullptr);
    ~QOpenCVWidget() override;

    // Mirrors `frame` in place (the caller's frame changes), converts it and shows it.
    void showFrame(cv::Mat& frame);
    const QImage& currentImage() const { return image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image;
};

// The conversion behind showFrame, for the benchmark and tests: mirrors `frame` in place and
// writes it into `image` (reallocated only when the size changes). Returns false, after printing
// why on standard output, for a frame that is not 8-bit with 3 channels.
bool convertFrame(cv::Mat& frame, QImage& image);

} // namespace kel
