#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <thread>

namespace kel {

class CameraSource;

// One picture from the camera. The image is shared with the grabber and with every other taker:
// never change it in place (clone it first, as QOpenCVWidget::showFrame mirrors in place).
struct CameraFrame {
    cv::Mat image;
    qint64 capturedAtMs = -1; // on CameraGrabber::clockMs()
    quint64 index = 0;        // 1 for the first frame, then one more per frame; 0: none yet
    bool isNull() const { return index == 0; }
};

// Reads a camera on a thread of its own, for as long as it runs, and keeps only the latest
// frame: a webcam blocks in each read until its next frame, and the window must never wait for
// it. Takers ask latestFrame() whenever they like, or follow frameReady(), which arrives on the
// grabber's thread (the GUI thread) at most once per frame and never piles up.
class CameraGrabber : public QObject {
    Q_OBJECT
public:
    // Consecutive failed reads for this long mean the camera is gone.
    static constexpr int kLostAfterMs = 1000;

    // `source` stays owned by the caller and must outlive the reading: stop() (or the
    // destructor) before deleting it. Nothing else may read it while the grabber runs.
    explicit CameraGrabber(CameraSource* source, QObject* parent = nullptr);
    // Owns `source`.
    explicit CameraGrabber(std::unique_ptr<CameraSource> source, QObject* parent = nullptr);
    ~CameraGrabber() override;

    CameraSource* source() const { return m_source; }

    // Starts reading (again after stop()). Returns at once. False without a source.
    bool start();
    // Ends the reading and waits for the read in progress, if any: up to one camera period.
    void stop();
    bool isRunning() const { return m_thread.joinable(); }

    // The latest frame; null before the first one. Cheap: no copy of the picture.
    CameraFrame latestFrame() const;
    // Waits up to `ms` for a frame newer than `after` (an index); returns the latest frame.
    CameraFrame waitForFrame(quint64 after, int ms) const;
    // The camera has failed every read for kLostAfterMs (cleared by the next frame).
    bool isLost() const { return m_lost; }

    // Reads once on the calling thread, as the thread would: for tests that drive time
    // themselves. Only while the thread is not running.
    bool readOnce();

    // Milliseconds on a monotonic clock shared by every grabber.
    static qint64 clockMs();

signals:
    // A new frame is waiting in latestFrame().
    void frameReady();
    // The camera stopped delivering (isLost() became true).
    void cameraLost();

private:
    void run();
    bool readAndStore();
    void notify(bool lostNow);

    std::unique_ptr<CameraSource> m_owned;
    CameraSource* m_source;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_frameCondition;
    std::condition_variable m_wakeCondition;
    CameraFrame m_latest;
    qint64 m_failingSinceMs = -1;
    bool m_stopRequested = false;
    std::atomic_bool m_lost{false};
    std::atomic_bool m_frameNoticePending{false};
};

} // namespace kel
