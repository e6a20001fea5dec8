#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace kel {

class CameraGrabber;
class CameraSource;

// Where the frames of a recording go. `write` returns false when the frame could not be stored.
class FrameSink {
public:
    virtual ~FrameSink();
    virtual bool open(const QString& path, double fps, cv::Size size) = 0;
    virtual bool write(const cv::Mat& frame) = 0;
    virtual void close() = 0;
    // Closes and removes what was written.
    virtual void discard() { close(); }
};

// Uncompressed 'DIB ' AVI through OpenCV's writer (its GStreamer back end writes this format on
// Linux). The writer hands frames to a pipeline that writes them later and never reports a
// failed write, so the sink watches the disk itself: it refuses a frame when the free space runs
// low, and reports a failure when the file stops growing while frames are queued for it.
class AviFrameSink : public FrameSink {
public:
    // `stallMs`: how long the file may stay behind the frames handed to the writer.
    explicit AviFrameSink(int stallMs = 2000);
    ~AviFrameSink() override;
    bool open(const QString& path, double fps, cv::Size size) override;
    bool write(const cv::Mat& frame) override;
    void close() override;
    void discard() override;

    cv::VideoWriter* writer() { return &m_writer; }
    // Bytes kept free on the disk so that the file can still be finished.
    qint64 reserveBytes() const;
    // How many bytes the disk has left for `path` (-1: unknown); tests put in a disk of their own.
    void setFreeSpace(std::function<qint64(const QString& path)> freeSpace) {
        m_freeSpace = std::move(freeSpace);
    }

private:
    cv::VideoWriter m_writer;
    QString m_path;
    int m_stallMs;
    qint64 m_frameBytes = 0;
    qint64 m_framesWritten = 0;
    qint64 m_lastSize = 0;
    QElapsedTimer m_sinceGrowth;
    std::function<qint64(const QString&)> m_freeSpace;
};

// Records one annotation from a camera, in real time: every 1/fps second of the clock gets one
// frame, the latest that the camera delivered, whatever rate the camera runs at. Frames are
// written as the camera sees the teacher, so that writing reads the right way round and the right
// hand is the right hand; setMirrored() writes them as the preview shows them instead. The camera
// is read by a CameraGrabber on a thread of its own: a tick only takes the latest frame, so a
// slow camera never holds the thread that drives the recorder.
class AnnotationRecorder : public QObject {
    Q_OBJECT
public:
    enum class Status {
        Idle,        // not opened yet
        Ready,       // opened, clock not started (the camera may be previewed)
        Recording,   // running
        Stopped,     // stopped on request
        NoFrame,     // open(): the camera gave no frame
        OpenFailed,  // open(): the file could not be created
        CameraLost,  // the camera stopped delivering frames
        WriteFailed, // a frame could not be written
        Cancelled,   // cancel() before the clock started: the file is gone
    };
    Q_ENUM(Status)

    // Signing needs 25 pictures a second; fewer blur the hands.
    static constexpr double kFps = 25.0;
    static constexpr int kTickMs = 20;
    static constexpr int kCameraTimeoutMs = 1000;

    // Takes frames from `grabber`, which must be running (or, in tests, fed by readOnce()).
    AnnotationRecorder(CameraGrabber* grabber, std::unique_ptr<FrameSink> sink,
                       QObject* parent = nullptr);
    // Reads `camera` through a grabber of its own, from open() to the end of the recording.
    // Nothing else may read the camera meanwhile.
    AnnotationRecorder(CameraSource* camera, std::unique_ptr<FrameSink> sink,
                       QObject* parent = nullptr);
    ~AnnotationRecorder() override;

    // Before open(): writes the frames mirrored, as the preview shows them.
    void setMirrored(bool mirrored) { m_mirrored = mirrored; }
    bool isMirrored() const { return m_mirrored; }

    // Milliseconds since an arbitrary origin; tests drive time through it.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    // Takes the first frame (waiting up to kCameraTimeoutMs for one) and creates the file at
    // that frame's size.
    bool open(const QString& path);
    // Before start(): reads the camera and emits its frames without writing them, so that the
    // first frame written is the one current when the clock starts. With `timerDriven` false
    // nothing happens until tick() is called.
    void preview(bool timerDriven = true);
    // Before start(): closes and removes the file.
    void cancel();
    // Starts the clock with the first frame and records until stop() or a failure. With
    // `timerDriven` false nothing happens until tick() is called.
    void start(bool timerDriven = true);
    // Reads the camera and writes the frames that are due by the clock.
    void tick();
    // Writes the frames due up to now and closes the file.
    void stop();

    Status status() const { return m_status; }
    bool isRecording() const { return m_status == Status::Recording; }
    int framesWritten() const { return m_framesWritten; }
    cv::Size frameSize() const { return m_size; }
    // The latest frame, as the camera sees it (not mirrored).
    const cv::Mat& latestFrame() const { return m_latest; }

    // The file opens as a video and its first frame decodes.
    static bool isPlayable(const QString& path);

signals:
    // A new camera frame, as the camera sees it: a view mirrors it.
    void frameCaptured(const cv::Mat& frame);
    // The recording is over and its file closed: stopped on request or after a failure.
    void finished(kel::AnnotationRecorder::Status status);

private:
    qint64 now() const;
    bool takeFrame(cv::Mat& frame);
    void setLatest(const cv::Mat& frame);
    bool writeUpTo(qint64 count);
    void end(Status status);

    std::unique_ptr<CameraGrabber> m_ownGrabber;
    CameraGrabber* m_grabber;
    quint64 m_lastIndex = 0;
    std::unique_ptr<FrameSink> m_sink;
    std::function<qint64()> m_clock;
    QElapsedTimer m_elapsed;
    QTimer m_timer;
    Status m_status = Status::Idle;
    cv::Size m_size;
    cv::Mat m_latest;
    cv::Mat m_toWrite; // m_latest as written; empty until needed
    qint64 m_startedAt = 0;
    qint64 m_lastFrameAt = 0;
    int m_framesWritten = 0;
    bool m_sinkOpen = false;
    bool m_previewing = false;
    bool m_mirrored = false;
};

} // namespace kel
