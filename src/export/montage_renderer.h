#pragma once

#include "export/export_settings.h"
#include "export/montage_plan.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace kel {

class ExportTempFile;
class MontageSink;

struct MontageJob {
    QString studentVideoPath;
    QString projectDir;
    MontageGeometry geometry;
    QList<AnnotationInsertion> insertions;
    bool compress = false;
    // The compressed montage's container: "avi", or "mp4" (streamable, for phones and browsers),
    // which is always compressed.
    QString format = QStringLiteral("avi");
    QString ffmpegProgram; // empty: ffmpeg is searched for
    // The MP4 only (the film for students): where the comment goes, and the hd size in place of
    // the geometry's frame (the geometry's inset grown to it).
    MontageLayout layout = MontageLayout::Incrustation;
    bool hd = false;
};

// Composes the montage off screen: the student's video in steps of 63 ms, one output frame per
// step; at an annotation's second the student's picture stands still while the annotation plays
// in the inset with its caption. No widget: it runs on any thread, with a QGuiApplication alive
// (the caption is drawn with QPainter).
//
// The result is written under a hidden name of its own in the project directory and renamed at
// the end: "VideoFinale.avi" (uncompressed, 16 fps) or, compressed by ffmpeg, "montage.avi".
// Beside it, "montage.srt" holds one subtitle per annotation shown, from the first to the end of
// the last frame of its inset (frame i at i / 16 s in both files), so that a player lists the
// comments. A failed or cancelled run leaves neither a partial file nor a changed previous result.
//
// "montage.mp4" is the film for students instead: 25 frames a second (30 for a faster student's
// video), each showing the pictures of its own time, so that every part lasts as long as its
// recording; the job's layout and size; a chapter per comment, and "montage.vtt" beside it.
class MontageRenderer {
public:
    enum class Outcome { None, Succeeded, Cancelled, Failed };

    static constexpr int kStepMs = 63;
    static constexpr double kFps = 16.0;
    static constexpr int kOutputFps = 25; // compressed montage

    // Paths are made absolute here, before any of them reaches ffmpeg.
    explicit MontageRenderer(MontageJob job);
    ~MontageRenderer();

    // Compression was asked but no ffmpeg exists: the run writes the uncompressed montage.
    bool encoderMissing() const { return m_encoderMissing; }
    bool compresses() const { return wantsCompression() && !m_encoderMissing; }
    bool wantsCompression() const { return m_job.compress || m_job.format == QLatin1String("mp4"); }
    // Full path of the montage this run produces.
    QString resultPath() const;
    QString subtitlesPath() const;
    QString webSubtitlesPath() const;
    // The MP4 made for students (its own timeline, layouts, chapters and WebVTT).
    bool makesFilm() const { return compresses() && m_job.format == QLatin1String("mp4"); }

    // Renders the whole montage on the calling thread.
    Outcome run();
    // From any thread, a signal handler included: run() stops soon after (ffmpeg too) and
    // removes what it wrote.
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

    static QString uncompressedName() { return QStringLiteral("VideoFinale.avi"); }
    static QString compressedName(const QString& format = QStringLiteral("avi")) {
        return QStringLiteral("montage.") + format;
    }
    static QString subtitlesName() { return QStringLiteral("montage.srt"); }
    static QString webSubtitlesName() { return QStringLiteral("montage.vtt"); }

private:
    class Pass;
    Outcome fail(const QString& message);
    std::unique_ptr<MontageSink> makeSink(const Pass& pass, const QString& tempPath,
                                          const QString& finalPath) const;
    // Gives the montage and its subtitles their names.
    Outcome publish(const Pass& pass, ExportTempFile& result);
    Outcome finish(Outcome outcome);
    void report(int permille);

    MontageJob m_job;
    bool m_encoderMissing = false;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_progress{0};
    int m_reported = 0;
    std::function<void(int)> m_onProgress;
    Outcome m_outcome = Outcome::None;
    QString m_error;
};

} // namespace kel
