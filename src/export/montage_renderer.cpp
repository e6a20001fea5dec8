#include "montage_renderer.h"

#include "common/encoder_job.h"
#include "export/export_files.h"
#include "export/film_composer.h"
#include "export/montage_composer.h"
#include "export/montage_sinks.h"
#include "export/montage_subtitles.h"
#include "export/video_decoder.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <algorithm>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcMontage, "kel.export.montage", QtInfoMsg)

namespace kel {

namespace {
QString unreadable(const AnnotationInsertion& a) {
    return QStringLiteral("L'annotation « %1 » ne peut pas être lue. L'export est annulé.")
        .arg(QFileInfo(a.filePath).fileName());
}
} // namespace

// A comment's part of its recording in the film: its cut range, as isInsideCut reads it.
struct FilmRange {
    double from = 0;
    double to = 1e12;
};
FilmRange filmRange(const AnnotationInsertion& a) {
    const bool startSet = a.cutStart > 0, endSet = a.cutEnd > 0;
    FilmRange r;
    if (startSet && (a.cutEnd == 0 || endSet))
        r.from = a.cutStart;
    if (endSet && (a.cutStart == 0 || startSet))
        r.to = a.cutEnd;
    return r;
}

// One rendering: the walk through the student's video with the annotations inserted on the way,
// every frame to the sink, the subtitle cues noted. The AVI steps 63 ms a frame as it always did;
// the MP4 (the film) shows in each frame the pictures of its own time.
class MontageRenderer::Pass {
public:
    explicit Pass(MontageRenderer& r) : m_r(r), m_film(r.makesFilm()) {}

    // Every input is opened before anything is written.
    bool open() {
        const bool bt709 = m_film && m_r.m_job.hd;
        m_student.setBt709Output(bt709);
        if (!m_student.open(m_r.m_job.studentVideoPath)) {
            error = QStringLiteral("La vidéo « %1 » ne peut pas être lue. L'export est annulé.")
                        .arg(QDir::toNativeSeparators(m_r.m_job.studentVideoPath));
            return false;
        }
        m_g = m_r.m_job.geometry;
        if (m_film) {
            const cv::Size upright = m_student.displaySize();
            if (m_r.m_job.hd)
                m_g = hdGeometry(m_g, upright.height > upright.width);
            // Sign language wants 25 frames a second; a phone's 30 keeps its own rhythm.
            m_fps = 1000.0 / m_student.frameMs() > 27 ? 30 : 25;
            m_filmComposer = std::make_unique<FilmComposer>(m_g, m_r.m_job.layout);
        } else {
            m_composer = std::make_unique<MontageComposer>(m_g);
        }
        m_totalMs = std::max(m_student.durationMs(), 1.0);
        for (const AnnotationInsertion& a : m_r.m_job.insertions) {
            FrameStepper probe;
            if (!probe.open(a.filePath)) {
                error = unreadable(a);
                return false;
            }
            double ms = std::max(probe.durationMs(), 1.0);
            if (m_film) {
                const FilmRange range = filmRange(a);
                ms = std::max(0.0, std::min(ms, range.to) - range.from);
            } else if (a.endsAtCut()) {
                ms = std::min(ms, a.cutEnd + kStepMs);
            }
            m_insertionMs << ms;
            m_totalMs += ms;
        }
        return true;
    }

    const MontageGeometry& geometry() const { return m_g; }
    double fps() const { return m_fps; }
    bool bt709() const { return m_film && m_r.m_job.hd; }
    void setSink(MontageSink* sink) { m_sink = sink; }

    bool run() {
        if (m_film)
            return runFilm();
        const QList<AnnotationInsertion>& insertions = m_r.m_job.insertions;
        int next = 0;
        quint64 shown = 0;
        for (int k = 0; !m_r.m_cancel; ++k) {
            const double t = double(k) * kStepMs;
            if (!m_student.advanceTo(t))
                break;
            if (m_student.generation() != shown) {
                const cv::Rect rect = m_composer->studentRect(m_student.displaySize());
                m_composer->setStudent(m_student.picture(rect.size()), rect);
                shown = m_student.generation();
            }
            bool inserted = false;
            while (next < insertions.size() && insertions[next].startMs() <= qint64(t)) {
                if (!insert(next++))
                    return false;
                inserted = true;
            }
            if (!inserted && !write(m_composer->student()))
                return false;
            m_studentDoneMs = std::min(t, m_student.durationMs());
            advance(0);
        }
        m_studentDoneMs = m_student.durationMs();
        // Seconds past the end of the student's video (a shorter video than the one annotated):
        // the annotations follow its last picture rather than being lost.
        while (!m_r.m_cancel && next < insertions.size())
            if (!insert(next++))
                return false;
        return true;
    }

    QString error;
    QList<SubtitleCue> cues;
    // At most: one per step of the student's video and of each annotation.
    qint64 frameBound() const { return qint64(m_totalMs / kStepMs) + 1 + m_insertionMs.size(); }

private:
    // The film: the student's part frame by frame at the film's rate, each comment in its place
    // at its second for exactly the length of its cut recording.
    bool runFilm() {
        const QList<AnnotationInsertion>& insertions = m_r.m_job.insertions;
        const double frameMs = 1000.0 / m_fps;
        int next = 0;
        for (qint64 k = 0; !m_r.m_cancel; ++k) {
            const double t = double(k) * frameMs;
            if (!m_student.advanceTo(t))
                break;
            // A second's first frame, not one later by a rounding.
            while (next < insertions.size() && double(insertions[next].startMs()) <= t + 1e-6)
                if (!insertFilm(next++))
                    return false;
            const cv::Rect rect = m_filmComposer->studentRect(m_student.displaySize(), false);
            if (!write(m_filmComposer->student(m_student.picture(rect.size()), rect)))
                return false;
            m_studentDoneMs = std::min(t, m_student.durationMs());
            advance(0);
        }
        m_studentDoneMs = m_student.durationMs();
        while (!m_r.m_cancel && next < insertions.size())
            if (!insertFilm(next++))
                return false;
        return true;
    }

    // The student's picture stands still beside the comment.
    bool insertFilm(int index) {
        const AnnotationInsertion& a = m_r.m_job.insertions[index];
        FrameStepper comment;
        comment.setBt709Output(bt709());
        if (!comment.open(a.filePath)) {
            error = unreadable(a);
            return false;
        }
        SubtitleCue cue{a.number, -1, -1, a.title};
        const FilmRange range = filmRange(a);
        const cv::Size display = comment.displaySize();
        const cv::Rect still = m_filmComposer->studentRect(m_student.displaySize(), true);
        m_filmComposer->beginComment(m_student.picture(still.size()), still, display, cue.text());
        const cv::Size size = m_filmComposer->commentRect(display).size();
        const double frameMs = 1000.0 / m_fps;
        for (int k = 0; !m_r.m_cancel; ++k) {
            const double t = range.from + k * frameMs;
            if (t >= range.to - 1e-6 || !comment.advanceTo(t))
                break;
            if (!write(m_filmComposer->comment(comment.picture(size))))
                return false;
            if (cue.firstFrame < 0)
                cue.firstFrame = m_written - 1;
            cue.lastFrame = m_written - 1;
            advance(std::min(k * frameMs, m_insertionMs[index]));
        }
        if (cue.firstFrame >= 0)
            cues << cue;
        m_insertedMs += m_insertionMs[index];
        return true;
    }

    // The student's picture stands still while the annotation plays in the inset.
    bool insert(int index) {
        const AnnotationInsertion& a = m_r.m_job.insertions[index];
        FrameStepper annotation;
        if (!annotation.open(a.filePath)) {
            error = unreadable(a);
            return false;
        }
        SubtitleCue cue{a.number, -1, -1, a.title};
        for (int k = 0; !m_r.m_cancel; ++k) {
            const double t = double(k) * kStepMs;
            if ((a.endsAtCut() && t > a.cutEnd) || !annotation.advanceTo(t))
                break;
            advance(std::min(t, m_insertionMs[index]));
            if (!isInsideCut(t, a.cutStart, a.cutEnd))
                continue;
            const cv::Size fill = m_composer->insetFillSize(annotation.displaySize());
            const cv::Mat& frame = m_composer->withAnnotation(annotation.picture(fill));
            if (!m_composer->insetBrightEnough(frame))
                continue; // a webcam's dark first frames
            if (!write(frame))
                return false;
            if (cue.firstFrame < 0)
                cue.firstFrame = m_written - 1;
            cue.lastFrame = m_written - 1;
        }
        if (cue.firstFrame >= 0)
            cues << cue;
        m_insertedMs += m_insertionMs[index];
        return true;
    }

    bool write(const cv::Mat& frame) {
        if (!m_sink->write(frame, &error))
            return false;
        ++m_written;
        return true;
    }

    void advance(double annotationMs) {
        const double done = m_studentDoneMs + m_insertedMs + annotationMs;
        m_r.report(int(std::min(990.0, done * 1000 / m_totalMs)));
    }

    MontageRenderer& m_r;
    const bool m_film;
    MontageGeometry m_g;
    double m_fps = kFps;
    MontageSink* m_sink = nullptr;
    std::unique_ptr<MontageComposer> m_composer;
    std::unique_ptr<FilmComposer> m_filmComposer;
    FrameStepper m_student;
    QList<double> m_insertionMs;
    double m_totalMs = 1;
    double m_studentDoneMs = 0;
    double m_insertedMs = 0; // annotations already inserted
    int m_written = 0;
};

MontageRenderer::MontageRenderer(MontageJob job) : m_job(std::move(job)) {
    auto absolute = [](const QString& path) {
        return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
    };
    m_job.studentVideoPath = absolute(m_job.studentVideoPath);
    m_job.projectDir = absolute(m_job.projectDir);
    for (AnnotationInsertion& a : m_job.insertions)
        a.filePath = absolute(a.filePath);
    if (wantsCompression()) {
        EncoderJob probe;
        probe.setProgram(m_job.ffmpegProgram);
        m_encoderMissing = !probe.isAvailable();
    }
}

MontageRenderer::~MontageRenderer() = default;

QString MontageRenderer::resultPath() const {
    return QDir(m_job.projectDir)
        .filePath(compresses() ? compressedName(m_job.format) : uncompressedName());
}

QString MontageRenderer::subtitlesPath() const {
    return QDir(m_job.projectDir).filePath(subtitlesName());
}

QString MontageRenderer::webSubtitlesPath() const {
    return QDir(m_job.projectDir).filePath(webSubtitlesName());
}

void MontageRenderer::report(int permille) {
    if (permille > m_progress)
        m_progress = permille;
    if (m_onProgress && (permille - m_reported >= 10 || permille == 1000)) {
        m_reported = permille;
        m_onProgress(permille);
    }
}

MontageRenderer::Outcome MontageRenderer::fail(const QString& message) {
    qCWarning(lcMontage) << message;
    m_error = message;
    return finish(Outcome::Failed);
}

MontageRenderer::Outcome MontageRenderer::finish(Outcome outcome) {
    m_outcome = outcome;
    return m_outcome;
}

MontageRenderer::Outcome MontageRenderer::run() {
    m_outcome = Outcome::None;
    m_error.clear();
    m_progress = 0;
    m_reported = 0;
    const MontageGeometry& g = m_job.geometry;
    if (g.frameWidth < 2 || g.frameHeight < 2)
        return fail(QStringLiteral("Taille d'image du montage invalide."));

    const QString finalPath = resultPath();
    if (const QString refusal = readOnlyRefusal(finalPath); !refusal.isEmpty())
        return fail(refusal);
    removeStaleExportFiles(m_job.projectDir);
    Pass pass(*this);
    if (!pass.open())
        return fail(pass.error);
    if (!compresses()) {
        const qint64 bytes = rawMontageBytes(pass.frameBound(), g.frameWidth, g.frameHeight);
        if (const QString refusal = diskSpaceRefusal(m_job.projectDir, bytes); !refusal.isEmpty())
            return fail(refusal);
    }
    const bool film = makesFilm();
    ExportTempFile temp(finalPath);
    // The film is encoded first, then copied with its chapters (known once it is made).
    ExportTempFile chaptered(finalPath);
    const std::unique_ptr<MontageSink> sink = makeSink(pass, temp.path(), finalPath);
    pass.setSink(sink.get());
    QString error;
    if (!temp.create() || (film && !chaptered.create()))
        return fail(QStringLiteral("Impossible de créer le fichier « %1 ». L'export est annulé.")
                        .arg(QDir::toNativeSeparators(finalPath)));
    if (!sink->open(&error))
        return fail(error);

    const bool rendered = pass.run();
    if (m_cancel || !rendered) {
        sink->abort();
        return m_cancel ? finish(Outcome::Cancelled) : fail(pass.error);
    }
    if (!sink->finish(&error)) {
        sink->abort();
        return m_cancel ? finish(Outcome::Cancelled) : fail(error);
    }
    ExportTempFile* result = &temp;
    if (film) {
        if (!addChapters(m_job.ffmpegProgram, temp.path(), chapterMetadata(pass.cues, pass.fps()),
                         chaptered.path(), finalPath, m_cancel, &error))
            return m_cancel ? finish(Outcome::Cancelled) : fail(error);
        result = &chaptered;
    }
    if (m_cancel)
        return finish(Outcome::Cancelled); // the stop came before the montage took its name
    return publish(pass, *result);
}

std::unique_ptr<MontageSink> MontageRenderer::makeSink(const Pass& pass, const QString& tempPath,
                                                       const QString& finalPath) const {
    const MontageGeometry& out = pass.geometry();
    if (!makesFilm() && !compresses())
        return makeRawAviSink(tempPath, finalPath, cv::Size(out.frameWidth, out.frameHeight), kFps);
    EncoderSettings s;
    if (makesFilm()) {
        s.fps = pass.fps();
        s.outputFps = int(pass.fps());
        s.mp4 = true;
        s.faststart = false;
        s.bitRate = m_job.hd ? kHdBitRate : 0;
        s.bt709 = pass.bt709();
    } else {
        s.fps = kFps;
        s.outputFps = kOutputFps;
        s.mp4 = m_job.format == QLatin1String("mp4");
    }
    return makeEncoderSink(tempPath, finalPath, out, m_job.ffmpegProgram, s, m_cancel);
}

MontageRenderer::Outcome MontageRenderer::publish(const Pass& pass, ExportTempFile& result) {
    const QString finalPath = resultPath();
    // The subtitles are written before the montage takes its name, so that a full disk leaves
    // the previous montage and its subtitles together; they take their own name just after.
    struct Text {
        QString path;
        QByteArray bytes;
    };
    QList<Text> texts{{subtitlesPath(), srtText(pass.cues, pass.fps())}};
    if (makesFilm())
        texts << Text{webSubtitlesPath(), vttText(pass.cues, pass.fps())};
    std::vector<std::unique_ptr<QSaveFile>> saved;
    for (const Text& t : texts) {
        saved.push_back(std::make_unique<QSaveFile>(t.path));
        QSaveFile& f = *saved.back();
        if (!f.open(QIODevice::WriteOnly) || f.write(t.bytes) != t.bytes.size()) {
            for (auto& each : saved)
                each->cancelWriting();
            return fail(QStringLiteral("Les sous-titres « %1 » n'ont pas pu être écrits. "
                                       "L'export est annulé.")
                            .arg(QDir::toNativeSeparators(t.path)));
        }
    }
    if (!result.commit()) {
        for (auto& each : saved)
            each->cancelWriting();
        return fail(QStringLiteral("Le montage n'a pas pu être enregistré sous « %1 ».")
                        .arg(QDir::toNativeSeparators(finalPath)));
    }
    for (auto& f : saved)
        if (!f->commit()) {
            // The previous subtitles would describe another montage.
            QFile::remove(f->fileName());
            return fail(QStringLiteral("Le montage « %1 » est enregistré, mais pas ses "
                                       "sous-titres « %2 ».")
                            .arg(QDir::toNativeSeparators(finalPath),
                                 QDir::toNativeSeparators(f->fileName())));
        }
    report(1000);
    qCDebug(lcMontage) << "montage" << finalPath;
    return finish(Outcome::Succeeded);
}

} // namespace kel
