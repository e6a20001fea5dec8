#pragma once

#include "export/export_settings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace kel {

// One annotation to insert into the montage.
struct AnnotationInsertion {
    int number = 0;
    int framePosition = 0; // whole second of the student's video x 25
    QString filePath;
    double cutStart = 0; // ms of the annotation's own playback; 0 when not set
    double cutEnd = 0;

    // Where it goes in the student's video: the start of its second.
    qint64 startMs() const { return qint64(framePosition / 25) * 1000; }
};

// A frame at time `t` (ms) of an annotation is kept only inside its cut range. A cut value counts
// as set when it is greater than 0.
bool isInsideCut(double t, double cutStart, double cutEnd);

// The annotations to insert, in the order they go into the montage: by position, and in project
// order within one second. Only numbers whose file is among `annotationFiles` (names without
// directory, "annotation" + number + a 4-character extension) are kept; a number given twice
// counts as its last entry. Cuts come from the project file.
QList<AnnotationInsertion> planInsertions(const QString& projectDir,
                                          const QStringList& annotationFiles,
                                          const QList<int>& schedule);

struct MontageJob {
    QString studentVideoPath;
    QString projectDir;
    MontageGeometry geometry;
    QList<AnnotationInsertion> insertions;
    bool compress = false;
    QString ffmpegProgram; // empty: ffmpeg is searched for
};

// Composes the montage off screen: the student's video in steps of 63 ms, one output frame per
// step; at an annotation's second the student's picture stands still while the annotation plays
// in the inset with its caption. No widget: it runs on any thread, with a QGuiApplication alive
// (the caption is drawn with QPainter).
//
// The result is written under a temporary name in the project directory and renamed at the end:
// "VideoFinale.avi" (uncompressed, 16 fps) or, compressed by ffmpeg, "montage.avi". Beside it,
// "montage.srt" holds one subtitle per annotation shown, from the first to the end of the last
// frame of its inset (frame i at i / 16 s in both files), so that a player lists the comments. A
// failed or cancelled run leaves neither a partial file nor a changed previous result.
class MontageRenderer {
public:
    enum class Outcome { None, Succeeded, Cancelled, Failed };

    static constexpr int kStepMs = 63;
    static constexpr double kFps = 16.0;
    // Sum of the three channels over the inset above which a frame is written.
    static constexpr double kMinInsetBrightness = 49000;
    static constexpr int kOutputFps = 25; // compressed montage
    static const char* const kCaption;
    static const char* const kX264Preset;

    explicit MontageRenderer(MontageJob job);
    ~MontageRenderer();

    // Compression was asked but no ffmpeg exists: the run writes the uncompressed montage.
    bool encoderMissing() const { return m_encoderMissing; }
    bool compresses() const { return m_job.compress && !m_encoderMissing; }
    // Full path of the montage this run produces.
    QString resultPath() const;
    QString subtitlesPath() const;

    // Renders the whole montage on the calling thread.
    Outcome run();
    // From any thread: run() stops soon after and removes what it wrote.
    void cancel() { m_cancel = true; }
    // From any thread: 0 to 1000, the share of the student's video and of the annotations done.
    int progressPermille() const { return m_progress; }
    // Called from the rendering thread whenever the progress changes by at least 1 %.
    void setProgressCallback(std::function<void(int permille)> callback) {
        m_onProgress = std::move(callback);
    }

    Outcome outcome() const { return m_outcome; }
    // French, naming the file at fault; empty unless the outcome is Failed.
    QString errorMessage() const { return m_error; }
    int framesWritten() const { return m_written; }
    int framesDropped() const { return m_dropped; }

    static QString uncompressedName() { return QStringLiteral("VideoFinale.avi"); }
    static QString compressedName() { return QStringLiteral("montage.avi"); }
    static QString subtitlesName() { return QStringLiteral("montage.srt"); }

private:
    class Impl;
    Outcome fail(const QString& message);

    MontageJob m_job;
    bool m_encoderMissing = false;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_progress{0};
    std::function<void(int)> m_onProgress;
    Outcome m_outcome = Outcome::None;
    QString m_error;
    int m_written = 0;
    int m_dropped = 0;
};

} // namespace kel
