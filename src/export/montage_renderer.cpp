#include "montage_renderer.h"

#include "common/encoder_job.h"
#include "export/export_files.h"
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

Q_LOGGING_CATEGORY(lcMontage, "kel.export.montage", QtInfoMsg)

namespace kel {

namespace {
QString unreadable(const AnnotationInsertion& a) {
    return QStringLiteral("L'annotation « %1 » ne peut pas être lue. L'export est annulé.")
        .arg(QFileInfo(a.filePath).fileName());
}
} // namespace

// One rendering: the walk through the student's video with the annotations inserted on the way,
// every frame to the sink, the subtitle cues noted.
class MontageRenderer::Pass {
public:
    Pass(MontageRenderer& r, MontageSink& sink)
        : m_r(r), m_sink(sink), m_composer(r.m_job.geometry) {}

    // Every input is opened before anything is written.
    bool open() {
        if (!m_student.open(m_r.m_job.studentVideoPath)) {
            error = QStringLiteral("La vidéo « %1 » ne peut pas être lue. L'export est annulé.")
                        .arg(QDir::toNativeSeparators(m_r.m_job.studentVideoPath));
            return false;
        }
        m_totalMs = std::max(m_student.durationMs(), 1.0);
        for (const AnnotationInsertion& a : m_r.m_job.insertions) {
            FrameStepper probe;
            if (!probe.open(a.filePath)) {
                error = unreadable(a);
                return false;
            }
            double ms = std::max(probe.durationMs(), 1.0);
            if (a.endsAtCut())
                ms = std::min(ms, a.cutEnd + kStepMs);
            m_insertionMs << ms;
            m_totalMs += ms;
        }
        return true;
    }

    bool run() {
        const QList<AnnotationInsertion>& insertions = m_r.m_job.insertions;
        int next = 0;
        quint64 shown = 0;
        for (int k = 0; !m_r.m_cancel; ++k) {
            const double t = double(k) * kStepMs;
            if (!m_student.advanceTo(t))
                break;
            if (m_student.generation() != shown) {
                const cv::Rect rect = m_composer.studentRect(m_student.displaySize());
                m_composer.setStudent(m_student.picture(rect.size()), rect);
                shown = m_student.generation();
            }
            bool inserted = false;
            while (next < insertions.size() && insertions[next].startMs() <= qint64(t)) {
                if (!insert(next++))
                    return false;
                inserted = true;
            }
            if (!inserted && !write(m_composer.student()))
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
    // The student's picture stands still while the annotation plays in the inset.
    bool insert(int index) {
        const AnnotationInsertion& a = m_r.m_job.insertions[index];
        FrameStepper annotation;
        if (!annotation.open(a.filePath)) {
            error = unreadable(a);
            return false;
        }
        SubtitleCue cue{a.number, -1, -1};
        for (int k = 0; !m_r.m_cancel; ++k) {
            const double t = double(k) * kStepMs;
            if ((a.endsAtCut() && t > a.cutEnd) || !annotation.advanceTo(t))
                break;
            advance(std::min(t, m_insertionMs[index]));
            if (!isInsideCut(t, a.cutStart, a.cutEnd))
                continue;
            const cv::Size fill = m_composer.insetFillSize(annotation.displaySize());
            const cv::Mat& frame = m_composer.withAnnotation(annotation.picture(fill));
            if (!m_composer.insetBrightEnough(frame))
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
        if (!m_sink.write(frame, &error))
            return false;
        ++m_written;
        return true;
    }

    void advance(double annotationMs) {
        const double done = m_studentDoneMs + m_insertedMs + annotationMs;
        m_r.report(int(std::min(990.0, done * 1000 / m_totalMs)));
    }

    MontageRenderer& m_r;
    MontageSink& m_sink;
    MontageComposer m_composer;
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
    ExportTempFile temp(finalPath);
    std::unique_ptr<MontageSink> sink;
    if (compresses())
        sink = makeEncoderSink(temp.path(), finalPath, g, m_job.ffmpegProgram, kFps, kOutputFps,
                               m_job.format == QLatin1String("mp4"), m_cancel);
    else
        sink = makeRawAviSink(temp.path(), finalPath, cv::Size(g.frameWidth, g.frameHeight), kFps);
    Pass pass(*this, *sink);
    if (!pass.open())
        return fail(pass.error);
    if (!compresses()) {
        const qint64 bytes = rawMontageBytes(pass.frameBound(), g.frameWidth, g.frameHeight);
        if (const QString refusal = diskSpaceRefusal(m_job.projectDir, bytes); !refusal.isEmpty())
            return fail(refusal);
    }
    QString error;
    if (!temp.create())
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
    if (m_cancel)
        return finish(Outcome::Cancelled); // the stop came before the montage took its name

    // The subtitles are written before the montage takes its name, so that a full disk leaves
    // the previous montage and its subtitles together; they take their own name just after.
    const QString srtPath = subtitlesPath();
    QSaveFile srt(srtPath);
    const QByteArray srtBytes = srtText(pass.cues, kFps);
    if (!srt.open(QIODevice::WriteOnly) || srt.write(srtBytes) != srtBytes.size()) {
        srt.cancelWriting();
        return fail(QStringLiteral("Les sous-titres « %1 » n'ont pas pu être écrits. L'export est "
                                   "annulé.")
                        .arg(QDir::toNativeSeparators(srtPath)));
    }
    if (!temp.commit()) {
        srt.cancelWriting();
        return fail(QStringLiteral("Le montage n'a pas pu être enregistré sous « %1 ».")
                        .arg(QDir::toNativeSeparators(finalPath)));
    }
    if (!srt.commit()) {
        // The previous subtitles would describe another montage.
        QFile::remove(srtPath);
        return fail(
            QStringLiteral("Le montage « %1 » est enregistré, mais pas ses sous-titres "
                           "« %2 ».")
                .arg(QDir::toNativeSeparators(finalPath), QDir::toNativeSeparators(srtPath)));
    }
    report(1000);
    qCDebug(lcMontage) << "montage" << finalPath;
    return finish(Outcome::Succeeded);
}

} // namespace kel
