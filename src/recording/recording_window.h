#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <opencv2/core.hpp>

namespace kel {

// The window that shows what is being recorded, titled "Enregistrement en cours...". It may first
// count down over the live picture, during which Escape, or closing the window, cancels and
// every other key is ignored. Once recording, Space ends it, as does closing the window; every
// other key is ignored.
class RecordingWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecordingWindow(QWidget* parent = nullptr);
    ~RecordingWindow() override;

    // Shows `frame` as it is (already mirrored by the recorder); the window takes its size.
    void showFrame(const cv::Mat& frame);
    const QImage& currentImage() const { return m_image; }

    // Counts down from `from` to 1, one number each `stepMs`, then emits countdownFinished().
    void startCountdown(int from, int stepMs);
    // The number on screen; 0 when not counting down.
    int countdown() const { return m_countdown; }
    bool isCountingDown() const { return m_countdown > 0; }

signals:
    void countdownChanged(int value);
    void countdownFinished();
    void cancelRequested();
    void stopRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void step();
    void cancelCountdown();

    QImage m_image;
    QTimer m_countdownTimer;
    int m_countdown = 0;
};

} // namespace kel
