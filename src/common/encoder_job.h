#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>

namespace cv {
class Mat;
}

namespace kel {

// One run of ffmpeg on a QProcess, started with an argument list (never through a shell).
//
// Two ways to drive it:
// - asynchronously on a thread with an event loop: start(), then wait for finished();
// - blocking, on any thread (an export worker): start(), writeFrame() for raw frames on stdin,
//   closeInput(), waitForFinished(). The process object must live on the calling thread. Every
//   blocking wait looks at the cancel flag every 100 ms, and writing gives up when ffmpeg has
//   taken nothing for kStallMs.
//
// The verdict needs a normal exit, exit code 0 and an output file that opens as a video with
// frames. A failed or stopped run removes the output it wrote, so no half-written file remains.
class EncoderJob : public QObject {
    Q_OBJECT
public:
    enum class Result {
        None,        // not finished (or not started)
        Succeeded,   // normal exit, code 0, the output decodes
        NotFound,    // no ffmpeg executable: nothing was started
        StartFailed, // the executable could not be started
        Crashed,     // ffmpeg ended abnormally (signal, killed)
        Failed,      // ffmpeg exited with a non-zero code
        BadOutput,   // exit code 0, but the output is missing or is not a readable video
        Stopped,     // stop() ended it
    };
    Q_ENUM(Result)

    explicit EncoderJob(QObject* parent = nullptr);
    // Runs in `process`, which stays owned by the caller (a window that already has one).
    explicit EncoderJob(QProcess* process, QObject* parent = nullptr);
    // Stops a run still going (gently, then by force).
    ~EncoderJob() override;

    // ffmpeg beside the application's executable first, then in PATH; empty when there is none.
    static QString findFfmpeg();
    // The output opens with OpenCV's FFmpeg back end and yields at least one frame.
    static bool isReadableVideo(const QString& path);

    // Uses this executable instead of searching for ffmpeg (tests use fake scripts).
    void setProgram(const QString& path) { m_programOverride = path; }
    // The executable that start() would run; empty when none exists.
    QString program() const;
    bool isAvailable() const { return !program().isEmpty(); }

    void setArguments(const QStringList& arguments) { m_arguments = arguments; }
    QStringList arguments() const { return m_arguments; }
    // The file ffmpeg writes: checked at the end, removed when the run fails or is stopped.
    void setOutputPath(const QString& path) { m_outputPath = path; }
    QString outputPath() const { return m_outputPath; }
    // Stdin carries raw frames (writeFrame); a gentle stop then closes it instead of sending "q".
    void setFeedsInput(bool feeds) { m_feedsInput = feeds; }
    // Set from any thread: the blocking calls return false soon after (ffmpeg is left running;
    // stop() ends it).
    void setCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }

    // False when nothing runs afterwards; result() then tells NotFound or StartFailed.
    bool start();
    // Writes one frame of raw video to stdin, waiting while ffmpeg lags behind so that memory
    // stays bounded. False when ffmpeg is gone, has stalled, or on cancel.
    bool writeFrame(const cv::Mat& frame);
    // Flushes what is pending and closes stdin: ffmpeg then ends its output. False when ffmpeg
    // stalled or on cancel (stdin is left open).
    bool closeInput();
    // False when the run has not finished within `msecs` (-1: no limit) or on cancel.
    bool waitForFinished(int msecs = -1);
    // ffmpeg stopped taking frames for kStallMs.
    bool hasStalled() const { return m_stalled; }
    // Gentle stop ("q", or end of input), then terminate, then kill. Blocks up to about
    // graceMs + 2 s. The partial output is removed and the result is Stopped.
    void stop(int graceMs = 3000);
    // The same steps without waiting: finished(Stopped) follows once ffmpeg has ended.
    void requestStop(int graceMs = 1000);

    bool isRunning() const;
    Result result() const { return m_result; }
    int exitCode() const { return m_exitCode; }
    // Position reached in the output, in ms, as ffmpeg reports it; -1 when unknown.
    qint64 processedMs() const { return m_processedMs; }
    // Last lines that ffmpeg wrote (progress key=value lines left out).
    QStringList log() const;
    // A short French explanation of a failure, naming ffmpeg; empty on success.
    QString errorText() const;

    QProcess* process() const { return m_process; }

    static constexpr int kLogLines = 100;
    static constexpr int kStallMs = 30000;

signals:
    void finished(kel::EncoderJob::Result result);

private:
    void init();
    void readOutput();
    void takeLine(const QString& line);
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onError(QProcess::ProcessError error);
    void finish(Result result);
    void removeOutputIfOurs();
    bool cancelled() const { return m_cancel && m_cancel->load(); }
    // Waits until at most `limit` bytes are pending; false on cancel, stall or ffmpeg's end.
    bool drainInput(qint64 limit);

    QProcess* m_process = nullptr;
    bool m_ownsProcess = false;
    QString m_programOverride;
    QStringList m_arguments;
    QString m_outputPath;
    bool m_feedsInput = false;
    const std::atomic<bool>* m_cancel = nullptr;
    bool m_stalled = false;

    Result m_result = Result::None;
    bool m_running = false;
    bool m_starting = false;
    bool m_stopping = false;
    int m_exitCode = -1;
    qint64 m_processedMs = -1;
    QByteArray m_pending;
    std::deque<QString> m_log;
    // What the output looked like before the run, so that a failure never removes a file that
    // ffmpeg did not touch.
    bool m_outputExisted = false;
    qint64 m_outputStamp = 0;
};

} // namespace kel
