#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kel {

// KEL's own decoding of a video for its player, off the window's thread: once, the time of every
// frame and the real length (a browser's recording has no duration in its header); then, on
// request, the picture of the frame shown at a time, exact where the media back end's seeking is
// not. Only the latest request is decoded.
class StillPictures : public QObject {
    Q_OBJECT
public:
    explicit StillPictures(QObject* parent = nullptr);
    ~StillPictures() override;

    // Starts on `path` (empty: none); earlier requests and results are dropped.
    void open(const QString& path);
    void request(double ms);

signals:
    // The frames' times in ms from the first, in order, the end of the last frame, and whether
    // players can seek in the file exactly.
    void scanned(const std::vector<double>& times, double endMs, bool seekable);
    // The picture of the frame at `frameMs`, asked for at `requestMs`.
    void decoded(double requestMs, double frameMs, const QImage& picture);

private:
    void run(QString path, quint64 generation);
    // Hands a result to this object's thread, dropped there if another file was loaded since.
    template <typename Emit> void deliver(quint64 generation, Emit emitIt);
    void stopThread();

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    std::atomic<bool> m_abort{false}; // a long first reading stops at once
    double m_wanted = -1;
    quint64 m_generation = 0;
};

} // namespace kel
