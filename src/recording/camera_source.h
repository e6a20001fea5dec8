#pragma once

#include <QElapsedTimer>
#include <QString>

#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace kel {

// Where the webcam picture comes from. `read` returns false when no frame is available.
class CameraSource {
public:
    virtual ~CameraSource();
    virtual bool isOpened() const = 0;
    virtual bool read(cv::Mat& frame) = 0;
    virtual void setFrameSize(int width, int height) = 0;
};

// Asks an opened camera for MJPEG at 30 fps: a USB webcam gives 30 fps only that way, its bus
// carrying no more than 10 to 15 uncompressed pictures of 640 x 480 a second. A camera that does
// not report back what was asked keeps its own format, or its own rate. Returns true when it
// delivers MJPEG at 30 fps.
bool askForMjpeg30(cv::VideoCapture& capture);

// A real camera through OpenCV: a device index or a /dev/videoN path, asked for MJPEG at 30 fps.
class OpenCvCameraSource : public CameraSource {
public:
    explicit OpenCvCameraSource(int index);
    explicit OpenCvCameraSource(const QString& devicePath);
    bool isOpened() const override;
    bool read(cv::Mat& frame) override;
    void setFrameSize(int width, int height) override;

private:
    cv::VideoCapture m_capture;
    bool m_mjpeg30 = false;
};

// A video file served as a camera: it delivers the frame due at the time of the call, at the
// file's own rate in real time, and starts again at its end.
class FileCameraSource : public CameraSource {
public:
    explicit FileCameraSource(const QString& path, bool loop = true);
    bool isOpened() const override;
    bool read(cv::Mat& frame) override;
    void setFrameSize(int, int) override {}

private:
    bool rewind();

    QString m_path;
    bool m_loop;
    cv::VideoCapture m_capture;
    double m_fps = 25.0;
    QElapsedTimer m_clock;
    qint64 m_nextIndex = 0; // index of the next frame the capture will decode
    qint64 m_loopStart = 0; // clock time at which the current loop began
    cv::Mat m_last;
};

// Another source slowed down like a webcam in a dim room: every read blocks until the next tick
// of a fixed period, then hands over the inner source's frame. Tests use it to show that nothing
// waits on the camera.
class SlowCameraSource : public CameraSource {
public:
    SlowCameraSource(std::unique_ptr<CameraSource> inner, int periodMs);
    bool isOpened() const override;
    bool read(cv::Mat& frame) override;
    void setFrameSize(int width, int height) override;

private:
    std::unique_ptr<CameraSource> m_inner;
    int m_periodMs;
    QElapsedTimer m_clock;
};

// Opens the camera named on the command line: empty for the default camera, a device index,
// a /dev/videoN path, a video file, or "slow:<ms>:<any of these>" for a source whose reads block
// <ms> milliseconds like a slow device. Returns null when nothing could be opened.
std::unique_ptr<CameraSource> openCameraSource(const QString& name);

// The French warning for a camera that openCameraSource() could not open, naming it.
QString cameraOpenFailureText(const QString& name);

} // namespace kel
