#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

namespace kel {

class EncoderJob;

// Compresses one recorded annotation with ffmpeg into "<number>.avi" beside it; that file then
// replaces the recording in a single rename. Anything short of a clean run leaves the recording
// as it was and no "<number>.avi" behind.
class AnnotationTranscoder : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        None,           // not run yet, or running
        Replaced,       // the compressed file now carries the recording's name
        Failed,         // ffmpeg failed or its output was unusable: the recording is untouched
        EncoderMissing, // no ffmpeg: nothing was started
        Discarded,      // the recording was deleted meanwhile: its compressed copy was dropped
        Stopped,        // stopped (quit): the recording is untouched
    };
    Q_ENUM(Outcome)

    // Runs ffmpeg in `process` when given (it stays owned by the caller).
    explicit AnnotationTranscoder(QProcess* process = nullptr, QObject* parent = nullptr);
    ~AnnotationTranscoder() override;

    // Runs this executable instead of the ffmpeg found beside the application or in PATH.
    void setProgram(const QString& program) { m_program = program; }

    // MPEG-4 Part 2, 1200 kbit/s, 25 frames per second, 640 x 480, AVI.
    static QStringList arguments(const QString& source, const QString& output);
    static QString compressedPath(const QString& dir, int number);

    // Starts compressing `recording` into `dir`/<number>.avi. False when nothing was started;
    // outcome() and errorText() then tell why.
    bool start(const QString& recording, const QString& dir, int number);
    bool isRunning() const;
    // Ends a run still going without waiting for it: ffmpeg is asked to stop, then killed; its
    // partial output is removed. Emits finished(Stopped).
    void stop(int graceMs = 1000);

    Outcome outcome() const { return m_outcome; }
    QString recording() const { return m_recording; }
    QString output() const { return m_output; }
    int number() const { return m_number; }
    // A French explanation of the last failure, naming ffmpeg; empty after a success.
    QString errorText() const;
    EncoderJob* job() const { return m_job.get(); }

signals:
    void finished(kel::AnnotationTranscoder::Outcome outcome);

private:
    void jobFinished();
    void end(Outcome outcome);

    QProcess* m_process;
    QString m_program;
    std::unique_ptr<EncoderJob> m_job;
    QString m_recording;
    QString m_output;
    int m_number = 0;
    bool m_active = false;
    Outcome m_outcome = Outcome::None;
    QString m_error;
};

// Moves `from` onto `to` in one step, replacing `to`.
bool replaceFile(const QString& from, const QString& to);

} // namespace kel
