#include "still_pictures.h"

#include "export/video_decoder.h"
#include "export/yuv_picture.h"

#include <opencv2/imgproc.hpp>

namespace kel {

namespace {
// A still larger than this is shown scaled down anyway; decoding it at full size only delays it.
constexpr int kLargestSide = 1920;

QImage toImage(VideoDecoder& decoder) {
    cv::Size size = decoder.displaySize();
    if (size.empty())
        return {};
    const double shrink = std::min(1.0, double(kLargestSide) / std::max(size.width, size.height));
    size = cv::Size(std::max(2, int(size.width * shrink)), std::max(2, int(size.height * shrink)));
    const cv::Mat yuv = decoder.picture(size);
    if (yuv.empty())
        return {};
    cv::Mat rgb;
    cv::cvtColor(yuv, rgb, cv::COLOR_YUV2RGB_I420);
    return QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888).copy();
}
} // namespace

StillPictures::StillPictures(QObject* parent) : QObject(parent) {
    qRegisterMetaType<std::vector<double>>();
}

StillPictures::~StillPictures() {
    stopThread();
}

void StillPictures::stopThread() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_abort = true;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void StillPictures::open(const QString& path) {
    stopThread();
    m_quit = false;
    m_abort = false;
    m_wanted = -1;
    ++m_generation;
    if (!path.isEmpty())
        m_thread = std::thread(&StillPictures::run, this, path, m_generation);
}

void StillPictures::request(double ms) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wanted = ms;
    }
    m_wake.notify_all();
}

template <typename Emit> void StillPictures::deliver(quint64 generation, Emit emitIt) {
    QMetaObject::invokeMethod(
        this,
        [this, generation, emitIt] {
            if (generation == m_generation) // not for a file loaded since
                emitIt();
        },
        Qt::QueuedConnection);
}

void StillPictures::run(QString path, quint64 generation) {
    VideoDecoder decoder;
    std::vector<double> times;
    double endMs = 0;
    if (!decoder.open(path) || !decoder.scanFrames(&times, &endMs, &m_abort))
        return;
    const bool seekable = decoder.hasSeekIndex();
    deliver(generation, [this, times, endMs, seekable] { emit scanned(times, endMs, seekable); });
    for (;;) {
        double wanted = -1;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || m_wanted >= 0; });
            if (m_quit)
                return;
            std::swap(wanted, m_wanted);
        }
        if (!decoder.seekTo(wanted))
            continue;
        const QImage picture = toImage(decoder);
        const double frameMs = decoder.timeMs();
        deliver(generation,
                [this, wanted, frameMs, picture] { emit decoded(wanted, frameMs, picture); });
    }
}

} // namespace kel
