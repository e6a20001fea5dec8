#include "video_probe.h"

#include <QFile>
#include <QFileInfo>

#include <opencv2/videoio.hpp>

namespace kel {

VideoProbe probeVideo(const QString& path) {
    VideoProbe probe;
    // A FIFO or a device would block the reader.
    if (!QFileInfo(path).isFile())
        return probe;
    cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    if (!capture.isOpened())
        return probe;
    cv::Mat frame;
    probe.readable = capture.read(frame) && !frame.empty();
    probe.fps = qMax(0.0, capture.get(cv::CAP_PROP_FPS));
    probe.frameCount = qMax<qint64>(0, qint64(capture.get(cv::CAP_PROP_FRAME_COUNT)));
    return probe;
}

} // namespace kel
