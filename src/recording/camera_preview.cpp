#include "camera_preview.h"

#include "camera_grabber.h"
#include "camera_source.h"
#include "opencv_widget.h"

#include <QTimerEvent>

namespace kel {

namespace {
// 25 refreshes a second: the camera's own pace, or faster.
constexpr int kTickMs = 40;
} // namespace

CameraPreview::CameraPreview(QOpenCVWidget* view, const QString& name, QObject* parent)
    : QObject(parent), m_view(view), m_name(name) {}

CameraPreview::~CameraPreview() {
    delete m_grabber;
}

void CameraPreview::setCamera(std::unique_ptr<CameraSource> camera) {
    delete m_grabber;
    m_grabber = nullptr;
    m_shownFrame = 0;
    if (!camera)
        return;
    camera->setFrameSize(640, 480);
    m_grabber = new CameraGrabber(std::move(camera), this);
    connect(m_grabber, &CameraGrabber::cameraLost, this, [this] {
        emit lost(QStringLiteral("La webcam ne fournit plus d'images : vérifiez qu'elle est "
                                 "branchée. L'aperçu et l'enregistrement sont arrêtés tant "
                                 "qu'elle ne revient pas."));
    });
    m_grabber->start();
}

CameraSource* CameraPreview::camera() const {
    return m_grabber ? m_grabber->source() : nullptr;
}

void CameraPreview::start() {
    m_timer.start(kTickMs, this);
}

void CameraPreview::stop() {
    m_timer.stop();
}

void CameraPreview::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    if (!m_grabber) {
        m_view->hide();
        stop();
        if (!std::exchange(m_told, true))
            emit unavailable(cameraOpenFailureText(m_name));
        return;
    }
    const CameraFrame frame = m_grabber->latestFrame();
    if (frame.index == m_shownFrame)
        return;
    m_shownFrame = frame.index;
    // showFrame mirrors in place, and the grabber's picture is shared.
    cv::Mat picture = frame.image.clone();
    m_view->showFrame(picture);
}

} // namespace kel
