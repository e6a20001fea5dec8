#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <opencv2/core.hpp>

class QPainter;

namespace kel {

// The window that shows what is being recorded, titled "Enregistrement en cours...". It may first
// count down over the live picture, during which Escape, or closing the window, cancels and
// every other key is ignored. Once recording, it shows a red mark with the time recorded and the
// key that ends it; Space ends it, as does closing the window; every other key is ignored.
class RecordingWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecordingWindow(QWidget* parent = nullptr);
    ~RecordingWindow() override;

    // Shows `frame`, as the camera sees it, mirrored as the preview is: a mirror is what a person
    // expects to see of themselves. The window takes its size, or the largest that fits the area
    // given to placeOver(), keeping its proportions.
    void showFrame(const cv::Mat& frame);
    const QImage& currentImage() const { return m_image; }

    // Keeps the window, its frame included, inside `globalArea` (screen coordinates), centred:
    // a place where it hides nothing the teacher needs, such as the preview area.
    void placeOver(const QRect& globalArea);
    QRect area() const { return m_area; }

    // Counts down from `from` to 1, one number each `stepMs`, then emits countdownFinished().
    void startCountdown(int from, int stepMs);
    // The number on screen; 0 when not counting down.
    int countdown() const { return m_countdown; }
    bool isCountingDown() const { return m_countdown > 0; }
    // The countdown is over: the camera is recording.
    bool isRecording() const { return m_recordingClock.isValid(); }
    // Time recorded so far as shown, "mm:ss"; empty before the recording starts.
    QString elapsedText() const;

signals:
    void countdownChanged(int value);
    void countdownFinished();
    void cancelRequested();
    void stopRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void step();
    void cancelCountdown();
    void startRecordingClock();
    void reposition();
    void paintCountdown(QPainter& painter);
    void paintRecordingMark(QPainter& painter);

    QImage m_image;
    QRect m_area;
    QTimer m_countdownTimer;
    QTimer m_clockTimer;
    QElapsedTimer m_recordingClock;
    QString m_shownElapsed;
    bool m_decorationsKnown = false;
    int m_countdown = 0;
};

} // namespace kel
