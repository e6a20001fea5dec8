#include "camera_grabber.h"

#include "camera_source.h"

#include <QLoggingCategory>
#include <QMetaObject>

#include <chrono>

Q_LOGGING_CATEGORY(lcGrabber, "kel.recording.camera")

namespace kel {

namespace {
// A source that never blocks (a file) is read no more often than this, and a failing one is
// retried at this pace: the thread must not spin a core.
constexpr int kMinPeriodMs = 10;
} // namespace

qint64 CameraGrabber::clockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

CameraGrabber::CameraGrabber(CameraSource* source, QObject* parent)
    : QObject(parent), m_source(source) {}

CameraGrabber::CameraGrabber(std::unique_ptr<CameraSource> source, QObject* parent)
    : QObject(parent), m_owned(std::move(source)), m_source(m_owned.get()) {}

CameraGrabber::~CameraGrabber() {
    stop();
}

bool CameraGrabber::start() {
    if (!m_source)
        return false;
    if (isRunning())
        return true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopRequested = false;
        m_failingSinceMs = -1;
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

void CameraGrabber::stop() {
    if (!isRunning())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopRequested = true;
    }
    m_wakeCondition.notify_all();
    m_thread.join();
}

CameraFrame CameraGrabber::latestFrame() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_latest;
}

CameraFrame CameraGrabber::waitForFrame(quint64 after, int ms) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_frameCondition.wait_for(lock, std::chrono::milliseconds(ms),
                              [&] { return m_latest.index > after; });
    return m_latest;
}

bool CameraGrabber::readOnce() {
    if (isRunning() || !m_source)
        return false;
    return readAndStore();
}

void CameraGrabber::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopRequested) {
        lock.unlock();
        const qint64 began = clockMs();
        const bool ok = readAndStore();
        const qint64 rest = kMinPeriodMs - (clockMs() - began);
        lock.lock();
        if (rest > 0 || !ok)
            m_wakeCondition.wait_for(lock, std::chrono::milliseconds(qMax<qint64>(rest, 1)),
                                     [this] { return m_stopRequested; });
    }
}

bool CameraGrabber::readAndStore() {
    // A fresh matrix each time: the one handed out before is never written again.
    cv::Mat frame;
    const bool ok = m_source->read(frame) && !frame.empty();
    const qint64 now = clockMs();
    bool lostNow = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (ok) {
            m_latest = CameraFrame{frame, now, m_latest.index + 1};
            m_failingSinceMs = -1;
            m_lost = false;
        } else {
            if (m_failingSinceMs < 0)
                m_failingSinceMs = now;
            if (now - m_failingSinceMs >= kLostAfterMs && !m_lost) {
                m_lost = true;
                lostNow = true;
            }
        }
    }
    if (ok)
        m_frameCondition.notify_all();
    if (ok || lostNow)
        notify(lostNow);
    return ok;
}

void CameraGrabber::notify(bool lostNow) {
    if (lostNow) {
        qCWarning(lcGrabber) << "the camera stopped delivering frames";
        QMetaObject::invokeMethod(
            this, [this] { emit cameraLost(); }, Qt::QueuedConnection);
        return;
    }
    // One notice in the queue at a time: a GUI thread that is busy finds one, not a backlog.
    if (!m_frameNoticePending.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_frameNoticePending = false;
                emit frameReady();
            },
            Qt::QueuedConnection);
}

} // namespace kel
