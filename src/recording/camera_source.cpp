#include "camera_source.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QThread>

#include <cmath>

Q_LOGGING_CATEGORY(lcCamera, "kel.recording.source")

namespace kel {

CameraSource::~CameraSource() = default;

bool askForMjpeg30(cv::VideoCapture& capture) {
    const int mjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    const auto fourcc = [&capture] { return int(capture.get(cv::CAP_PROP_FOURCC)); };
    const auto at30 = [&capture] { return std::abs(capture.get(cv::CAP_PROP_FPS) - 30.0) < 0.5; };
    const int ownFourcc = fourcc();
    const double ownFps = capture.get(cv::CAP_PROP_FPS);
    // Only what the camera reports back counts: a driver may accept a request and adjust it.
    if (ownFourcc != mjpg && (!capture.set(cv::CAP_PROP_FOURCC, mjpg) || fourcc() != mjpg)) {
        if (ownFourcc > 0 && fourcc() != ownFourcc)
            capture.set(cv::CAP_PROP_FOURCC, ownFourcc);
        qCInfo(lcCamera) << "the camera offers no MJPEG; it keeps its format at" << ownFps << "fps";
        return false;
    }
    if (!at30() && (!capture.set(cv::CAP_PROP_FPS, 30.0) || !at30())) {
        if (ownFps > 0)
            capture.set(cv::CAP_PROP_FPS, ownFps);
        qCInfo(lcCamera) << "the camera refuses 30 fps in MJPEG; it keeps" << ownFps << "fps";
        return false;
    }
    return true;
}

OpenCvCameraSource::OpenCvCameraSource(int index) {
    if (m_capture.open(index, cv::CAP_ANY))
        m_mjpeg30 = askForMjpeg30(m_capture);
}

OpenCvCameraSource::OpenCvCameraSource(const QString& devicePath) {
    if (m_capture.open(QFile::encodeName(devicePath).toStdString(), cv::CAP_V4L2))
        m_mjpeg30 = askForMjpeg30(m_capture);
}

bool OpenCvCameraSource::isOpened() const {
    return m_capture.isOpened();
}

bool OpenCvCameraSource::read(cv::Mat& frame) {
    return m_capture.read(frame) && !frame.empty();
}

void OpenCvCameraSource::setFrameSize(int width, int height) {
    m_capture.set(cv::CAP_PROP_FRAME_WIDTH, width);
    m_capture.set(cv::CAP_PROP_FRAME_HEIGHT, height);
    // Some drivers fall back to their first format or rate with a new size: asked again, at no
    // cost when they kept them.
    if (m_mjpeg30)
        m_mjpeg30 = askForMjpeg30(m_capture);
}

FileCameraSource::FileCameraSource(const QString& path, bool loop) : m_path(path), m_loop(loop) {
    if (!m_capture.open(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG))
        return;
    const double fps = m_capture.get(cv::CAP_PROP_FPS);
    if (fps > 0.5 && fps < 1000)
        m_fps = fps;
    m_clock.start();
}

bool FileCameraSource::isOpened() const {
    return m_capture.isOpened();
}

bool FileCameraSource::rewind() {
    m_capture.release();
    m_nextIndex = 0;
    return m_capture.open(QFile::encodeName(m_path).toStdString(), cv::CAP_FFMPEG);
}

bool FileCameraSource::read(cv::Mat& frame) {
    if (!m_capture.isOpened())
        return false;
    const qint64 due = qint64(std::floor((m_clock.elapsed() - m_loopStart) * m_fps / 1000.0));
    // Decode up to the frame due now; frames that are already late are skipped, not shown.
    while (m_nextIndex <= due) {
        const bool last = m_nextIndex == due;
        const bool ok = last ? m_capture.read(m_last) : m_capture.grab();
        if (!ok) {
            if (!m_loop || m_nextIndex == 0 || !rewind())
                return false;
            m_loopStart = m_clock.elapsed();
            return read(frame);
        }
        ++m_nextIndex;
    }
    if (m_last.empty())
        return false;
    m_last.copyTo(frame);
    return true;
}

SlowCameraSource::SlowCameraSource(std::unique_ptr<CameraSource> inner, int periodMs)
    : m_inner(std::move(inner)), m_periodMs(qMax(1, periodMs)) {
    m_clock.start();
}

bool SlowCameraSource::isOpened() const {
    return m_inner && m_inner->isOpened();
}

bool SlowCameraSource::read(cv::Mat& frame) {
    // A device delivers on its own beat: a read waits for the next one, however late it came.
    const qint64 wait = m_periodMs - m_clock.elapsed() % m_periodMs;
    QThread::msleep(quint64(wait));
    return m_inner && m_inner->read(frame);
}

void SlowCameraSource::setFrameSize(int width, int height) {
    if (m_inner)
        m_inner->setFrameSize(width, height);
}

namespace {
const QRegularExpression& slowForm() {
    static const QRegularExpression form(QStringLiteral("^slow:(\\d{1,5}):(.*)$"));
    return form;
}
const QRegularExpression& indexForm() {
    static const QRegularExpression form(QStringLiteral("^\\d+$"));
    return form;
}
} // namespace

std::unique_ptr<CameraSource> openCameraSource(const QString& name) {
    std::unique_ptr<CameraSource> source;
    if (const auto slow = slowForm().match(name); slow.hasMatch()) {
        auto inner = openCameraSource(slow.captured(2));
        if (!inner)
            return nullptr;
        return std::make_unique<SlowCameraSource>(std::move(inner), slow.captured(1).toInt());
    }
    const QRegularExpression& number = indexForm();
    if (name.isEmpty())
        source = std::make_unique<OpenCvCameraSource>(0);
    else if (number.match(name).hasMatch())
        source = std::make_unique<OpenCvCameraSource>(name.toInt());
    else if (name.startsWith(QLatin1String("/dev/")))
        source = std::make_unique<OpenCvCameraSource>(name);
    else
        source = std::make_unique<FileCameraSource>(name);
    if (!source->isOpened())
        return nullptr;
    return source;
}

QString cameraOpenFailureText(const QString& name) {
    const QString none = QStringLiteral("Aucune webcam n'a été détectée !");
    if (const auto slow = slowForm().match(name); slow.hasMatch())
        return cameraOpenFailureText(slow.captured(2));
    if (name.isEmpty())
        return none;
    if (indexForm().match(name).hasMatch())
        return none + QStringLiteral("\r\nLa webcam n°%1 n'a pas pu être ouverte.").arg(name);
    if (name.startsWith(QLatin1String("/dev/")))
        return none + QStringLiteral("\r\nLe périphérique %1 n'a pas pu être ouvert : vérifiez "
                                     "qu'il est branché et qu'aucun autre programme ne "
                                     "l'utilise.")
                          .arg(name);
    return none + QStringLiteral("\r\nLa vidéo %1 ne peut pas servir de webcam : elle n'a pas "
                                 "pu être ouverte.")
                      .arg(QDir::toNativeSeparators(name));
}

} // namespace kel
