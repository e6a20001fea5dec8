#include "annotation_recorder.h"

#include "common/video_probe.h"

#include "camera_grabber.h"
#include "camera_source.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStorageInfo>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

Q_LOGGING_CATEGORY(lcRecording, "kel.recording")

namespace kel {

FrameSink::~FrameSink() = default;

AviFrameSink::~AviFrameSink() {
    close();
}

AviFrameSink::AviFrameSink(int stallMs)
    : m_stallMs(stallMs), m_freeSpace([](const QString& path) {
          const QStorageInfo storage(QFileInfo(path).absolutePath());
          return storage.isValid() ? storage.bytesAvailable() : qint64(-1);
      }) {}

qint64 AviFrameSink::reserveBytes() const {
    return 16 * m_frameBytes + 4 * 1024 * 1024;
}

bool AviFrameSink::open(const QString& path, double fps, cv::Size size) {
    close();
    m_path = path;
    m_frameBytes = qint64(size.width) * size.height * 3;
    m_framesWritten = 0;
    m_lastSize = 0;
    const bool existed = QFileInfo::exists(path);
    const std::string name = QFile::encodeName(path).toStdString();
    const int dib = cv::VideoWriter::fourcc('D', 'I', 'B', ' ');
    // GStreamer is the back end that writes 'DIB ' on Linux; elsewhere let OpenCV choose.
    if (!m_writer.open(name, cv::CAP_GSTREAMER, dib, fps, size, true) &&
        !m_writer.open(name, cv::CAP_ANY, dib, fps, size, true)) {
        if (!existed)
            QFile::remove(path);
        return false;
    }
    m_sinceGrowth.start();
    return true;
}

bool AviFrameSink::write(const cv::Mat& frame) {
    if (!m_writer.isOpened())
        return false;
    const qint64 available = m_freeSpace(m_path);
    if (available >= 0 && available < reserveBytes()) {
        qCWarning(lcRecording) << "disk nearly full, recording stopped:" << available
                               << "bytes left";
        return false;
    }
    m_writer.write(frame);
    ++m_framesWritten;

    const qint64 size = QFileInfo(m_path).size();
    if (size > m_lastSize) {
        m_lastSize = size;
        m_sinceGrowth.restart();
        return true;
    }
    const qint64 queued = m_framesWritten * m_frameBytes - size;
    if (queued > 8 * m_frameBytes + 1024 * 1024 && m_sinceGrowth.elapsed() > m_stallMs) {
        qCWarning(lcRecording) << "the annotation file stopped growing:" << m_path;
        return false;
    }
    return true;
}

void AviFrameSink::close() {
    if (m_writer.isOpened())
        m_writer.release();
}

void AviFrameSink::discard() {
    close();
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

AnnotationRecorder::AnnotationRecorder(CameraSource* camera, std::unique_ptr<FrameSink> sink,
                                       QObject* parent)
    : AnnotationRecorder(static_cast<CameraGrabber*>(nullptr), std::move(sink), parent) {
    if (camera) {
        m_ownGrabber = std::make_unique<CameraGrabber>(camera);
        m_grabber = m_ownGrabber.get();
    }
}

AnnotationRecorder::AnnotationRecorder(CameraGrabber* grabber, std::unique_ptr<FrameSink> sink,
                                       QObject* parent)
    : QObject(parent), m_grabber(grabber), m_sink(std::move(sink)) {
    m_elapsed.start();
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &AnnotationRecorder::tick);
}

AnnotationRecorder::~AnnotationRecorder() {
    m_timer.stop();
    if (m_sinkOpen)
        m_sink->close();
    m_ownGrabber.reset(); // before the camera it reads goes
}

qint64 AnnotationRecorder::now() const {
    return m_clock ? m_clock() : m_elapsed.elapsed();
}

bool AnnotationRecorder::takeFrame(cv::Mat& frame) {
    if (!m_grabber)
        return false;
    const CameraFrame latest = m_grabber->latestFrame();
    if (latest.isNull() || latest.index == m_lastIndex)
        return false;
    m_lastIndex = latest.index;
    // The grabber shares its picture with other takers: every change below makes a copy.
    frame = latest.image;
    // Cameras may hand over grey or BGRA frames, or change size; the file keeps its first format.
    if (frame.depth() != CV_8U)
        frame.convertTo(frame, CV_8U);
    if (frame.channels() == 1)
        cv::cvtColor(frame, frame, cv::COLOR_GRAY2BGR);
    else if (frame.channels() == 4)
        cv::cvtColor(frame, frame, cv::COLOR_BGRA2BGR);
    if (frame.channels() != 3)
        return false;
    if (!m_size.empty() && frame.size() != m_size)
        cv::resize(frame, frame, m_size);
    return true;
}

void AnnotationRecorder::setLatest(const cv::Mat& frame) {
    m_latest = frame;
    m_toWrite.release();
}

bool AnnotationRecorder::open(const QString& path) {
    if (m_ownGrabber)
        m_ownGrabber->start();
    if (m_grabber && m_grabber->isRunning() && m_grabber->latestFrame().isNull())
        m_grabber->waitForFrame(0, kCameraTimeoutMs);
    cv::Mat first;
    if (!takeFrame(first)) {
        if (m_ownGrabber)
            m_ownGrabber->stop();
        m_status = Status::NoFrame;
        return false;
    }
    m_size = first.size();
    setLatest(first);
    if (!m_sink->open(path, kFps, m_size)) {
        if (m_ownGrabber)
            m_ownGrabber->stop();
        m_status = Status::OpenFailed;
        return false;
    }
    m_sinkOpen = true;
    m_status = Status::Ready;
    return true;
}

void AnnotationRecorder::preview(bool timerDriven) {
    if (m_status != Status::Ready || m_previewing)
        return;
    m_previewing = true;
    m_lastFrameAt = now();
    if (timerDriven)
        m_timer.start();
}

void AnnotationRecorder::cancel() {
    if (m_status != Status::Ready)
        return;
    m_timer.stop();
    if (m_ownGrabber)
        m_ownGrabber->stop();
    m_status = Status::Cancelled;
    if (m_sinkOpen) {
        m_sink->discard();
        m_sinkOpen = false;
    }
    emit finished(m_status);
}

void AnnotationRecorder::start(bool timerDriven) {
    if (m_status != Status::Ready)
        return;
    m_status = Status::Recording;
    m_previewing = false;
    m_startedAt = now();
    m_lastFrameAt = m_startedAt;
    emit frameCaptured(m_latest);
    if (!writeUpTo(1))
        return;
    if (timerDriven && !m_timer.isActive())
        m_timer.start();
}

bool AnnotationRecorder::writeUpTo(qint64 count) {
    if (m_framesWritten < count && m_toWrite.empty()) {
        // A frame that is repeated is mirrored once; the camera's own stays untouched.
        if (m_mirrored)
            cv::flip(m_latest, m_toWrite, 1);
        else
            m_toWrite = m_latest;
    }
    while (m_framesWritten < count) {
        if (!m_sink->write(m_toWrite)) {
            end(Status::WriteFailed);
            return false;
        }
        ++m_framesWritten;
    }
    return true;
}

void AnnotationRecorder::tick() {
    const bool previewing = m_status == Status::Ready && m_previewing;
    if (!isRecording() && !previewing)
        return;
    cv::Mat frame;
    const bool got = takeFrame(frame);
    const qint64 t = now();
    if (!got) {
        if (t - m_lastFrameAt > kCameraTimeoutMs)
            end(Status::CameraLost);
        return;
    }
    if (previewing) {
        setLatest(frame);
        m_lastFrameAt = t;
        emit frameCaptured(m_latest);
        return;
    }
    // Frame k is due at k / fps seconds; slots that passed before this frame arrived keep the
    // previous picture.
    const qint64 due = qint64(std::floor((t - m_startedAt) * kFps / 1000.0)) + 1;
    if (!writeUpTo(due - 1))
        return;
    setLatest(frame);
    m_lastFrameAt = t;
    emit frameCaptured(m_latest);
    writeUpTo(due);
}

void AnnotationRecorder::stop() {
    if (!isRecording())
        return;
    // The file lasts as long as the recording did, to the nearest frame.
    const qint64 total = std::max<qint64>(1, std::llround((now() - m_startedAt) * kFps / 1000.0));
    if (!writeUpTo(total))
        return;
    end(Status::Stopped);
}

void AnnotationRecorder::end(Status status) {
    m_timer.stop();
    if (m_ownGrabber)
        m_ownGrabber->stop();
    m_status = status;
    if (m_sinkOpen) {
        m_sink->close();
        m_sinkOpen = false;
    }
    emit finished(status);
}

bool AnnotationRecorder::isPlayable(const QString& path) {
    return probeVideo(path).readable;
}

} // namespace kel
