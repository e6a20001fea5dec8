#pragma once

#include <QBasicTimer>
#include <QObject>
#include <QString>

#include <memory>

namespace kel {

class CameraGrabber;
class CameraSource;
class QOpenCVWidget;

// The webcam's live picture in a widget: the camera is read on a thread of its own and each tick
// shows its latest frame. Without a camera the widget is hidden and unavailable() says so once.
class CameraPreview : public QObject {
    Q_OBJECT
public:
    // `name`: how the teacher named the camera, for the message when it cannot be opened.
    CameraPreview(QOpenCVWidget* view, const QString& name, QObject* parent = nullptr);
    ~CameraPreview() override;

    // Reads `camera` from now on (null: none).
    void setCamera(std::unique_ptr<CameraSource> camera);
    CameraSource* camera() const;
    CameraGrabber* grabber() const { return m_grabber; }
    QString cameraName() const { return m_name; }

    void start();
    void stop();
    bool isRunning() const { return m_timer.isActive(); }

signals:
    // No camera could be opened: told once.
    void unavailable(const QString& message);
    // The camera stopped giving pictures (unplugged): told at once, each time.
    void lost(const QString& message);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    QOpenCVWidget* m_view;
    QString m_name;
    CameraGrabber* m_grabber = nullptr;
    QBasicTimer m_timer;
    quint64 m_shownFrame = 0;
    bool m_told = false;
};

} // namespace kel
