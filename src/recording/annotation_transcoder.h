#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>

class QProcess;

namespace kel {

class EncoderJob;

// Compresses recorded annotations with ffmpeg, one after the other, in the background. Each is
// written beside its recording under a hidden name of ours (workPath()), which no file of the
// teacher's has and which a listing of annotations skips; that file then replaces the recording
// in a single rename. Anything short of a clean run leaves the recording as it was and nothing
// of ours behind; no other file of the folder is ever written, moved or removed.
class AnnotationTranscoder : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        None,           // not run yet, or running
        Replaced,       // the compressed file now carries the recording's name
        Failed,         // ffmpeg failed, stalled, or its output was unusable: recording untouched
        EncoderMissing, // no ffmpeg: nothing was started
        Discarded,      // the recording was deleted meanwhile: its compressed copy was dropped
        Stopped,        // stopped (quit, or taken off the queue while running): recording untouched
    };
    Q_ENUM(Outcome)

    // A run that shows no progress (ffmpeg's position, the size of its output) for this long is
    // stopped and reported as failed.
    static constexpr int kStallMs = 60000;

    // Runs ffmpeg in `process` when given (it stays owned by the caller).
    explicit AnnotationTranscoder(QProcess* process = nullptr, QObject* parent = nullptr);
    ~AnnotationTranscoder() override;

    // Runs this executable instead of the ffmpeg found beside the application or in PATH.
    void setProgram(const QString& program) { m_program = program; }
    void setStallTimeoutMs(int ms) { m_stallMs = ms; }

    // MPEG-4 Part 2, 1200 kbit/s, 25 frames per second, 640 x 480, AVI.
    static QStringList arguments(const QString& source, const QString& output);
    // Where the compression of `recording` is written: ".annotationN.compressing.avi" beside it.
    static QString workPath(const QString& recording);
    // `path` is an AVI whose video is stored uncompressed, as a recording is before compression.
    static bool isRawRecording(const QString& path);
    // Removes what compressions cut short (a crash, a power cut) left in `dir`: our work files,
    // whose names only we give. Any other file stays, an "N.avi" too: however much it looks like a
    // compression, it may be the teacher's own. Returns the paths removed.
    static QStringList removeLeftovers(const QString& dir);
    // Length of a video file from its frame count and rate; -1 when unknown.
    static qint64 durationMs(const QString& path);

    // Queues `recording` (the annotation file itself) and starts it at once when nothing runs.
    // `number` is only reported back; 0 takes it from the file name. False when it was not
    // queued: already pending, or no ffmpeg, or it could not start (outcome() and errorText()
    // tell why; no finished() follows).
    bool enqueue(const QString& recording, int number = 0);
    // As enqueue(); `dir` must be the recording's folder. Kept for the window's current call.
    bool start(const QString& recording, const QString& dir, int number);
    // Takes `recording` off the queue; a run of it in progress is stopped (finished(Stopped)).
    void remove(const QString& recording);
    // Ends the run in progress without waiting for it and empties the queue: ffmpeg is asked to
    // stop, then killed; its partial output is removed. Emits finished(Stopped) for that run.
    void stop(int graceMs = 1000);

    // `recording` waits in the queue or is being compressed.
    bool isPending(const QString& recording) const;
    // Some recording waits or is being compressed: the export must wait.
    bool isBusy() const { return isRunning() || !m_queue.empty(); }
    bool isRunning() const;
    // The recordings still to do, the one running first.
    QStringList pending() const;

    // About the run that finished last (or is running): valid inside finished().
    Outcome outcome() const { return m_outcome; }
    QString recording() const { return m_recording; }
    QString output() const { return m_output; }
    int number() const { return m_number; }
    // A French explanation of the last failure, naming ffmpeg; empty after a success.
    QString errorText() const { return m_error; }
    EncoderJob* job() const { return m_job.get(); }

signals:
    // One recording is done with; `recording` and `number` name it, errorText() says why not.
    void finished(kel::AnnotationTranscoder::Outcome outcome, const QString& recording, int number);
    // isBusy() changed.
    void busyChanged(bool busy);

private:
    struct Item {
        QString recording;
        int number;
    };
    bool launch(const Item& item);
    void startNext();
    void jobFinished();
    // What the run that just ended comes to; the file is replaced when it succeeded.
    Outcome settle();
    void watchProgress();
    void end(Outcome outcome);
    bool encoderAvailable() const;
    void updateBusy();

    QProcess* m_process;
    QString m_program;
    int m_stallMs = kStallMs;
    std::unique_ptr<EncoderJob> m_job;
    std::deque<Item> m_queue; // waiting, not running
    QString m_recording;
    QString m_output;
    int m_number = 0;
    bool m_active = false;
    bool m_stalled = false;
    bool m_wasBusy = false;
    Outcome m_outcome = Outcome::None;
    QString m_error;
    QTimer m_watch;
    QElapsedTimer m_sinceProgress;
    qint64 m_lastMark = -1;
};

// Moves `from` onto `to` in one step, replacing `to`.
bool replaceFile(const QString& from, const QString& to);

} // namespace kel
