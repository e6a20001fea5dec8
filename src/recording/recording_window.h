#pragma once

#include <QImage>
#include <QWidget>

#include <opencv2/core.hpp>

namespace kel {

// The window that shows what is being recorded, titled "Enregistrement en cours...". Space ends
// the recording, as does closing the window; every other key is ignored.
class RecordingWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecordingWindow(QWidget* parent = nullptr);
    ~RecordingWindow() override;

    // Shows `frame` as it is (already mirrored by the recorder); the window takes its size.
    void showFrame(const cv::Mat& frame);
    const QImage& currentImage() const { return m_image; }

signals:
    void stopRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

} // namespace kel
