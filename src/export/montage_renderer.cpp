#include "montage_renderer.h"

#include "common/encoder_job.h"
#include "project/project_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>
#include <QSaveFile>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cmath>
#include <memory>

Q_LOGGING_CATEGORY(lcMontage, "kel.export.montage", QtInfoMsg)

namespace kel {

const char* const MontageRenderer::kCaption = "TORVEN";
// Fast enough that the whole export, decoding and compositing included, beats a plain ffmpeg
// overlay run at its default preset (see bench_export).
const char* const MontageRenderer::kX264Preset = "veryfast";

bool isInsideCut(double t, double cutStart, double cutEnd) {
    const bool startSet = cutStart > 0;
    const bool endSet = cutEnd > 0;
    if (startSet && cutEnd == 0)
        return t >= cutStart;
    if (endSet && cutStart == 0)
        return t <= cutEnd;
    if (startSet && endSet)
        return cutStart <= t && t <= cutEnd;
    return true;
}

QList<AnnotationInsertion> planInsertions(const QString& projectDir,
                                          const QStringList& annotationFiles,
                                          const QList<int>& schedule) {
    // The file of each number: the name between "annotation" and a 4-character extension must be
    // the number written plainly (annotation05.avi is not number 5).
    QHash<QString, QString> fileOfNumber;
    for (const QString& name : annotationFiles) {
        if (name.size() <= 14)
            continue;
        const QString s = name.mid(10, name.size() - 14);
        if (!fileOfNumber.contains(s))
            fileOfNumber.insert(s, name);
    }

    // A number given again after a deletion counts as its last entry.
    QHash<int, int> lastPosition;
    QList<int> order;
    for (int i = 0; i + 1 < schedule.size(); i += 2) {
        if (!lastPosition.contains(schedule[i]))
            order << schedule[i];
        lastPosition[schedule[i]] = schedule[i + 1];
    }

    // One read of the project file for every annotation's cuts.
    QHash<int, ProjectFile::Entry> entries;
    for (const ProjectFile::Entry& e : ProjectFile(projectDir).read().entries)
        entries.insert(e.number, e);
    QList<AnnotationInsertion> plan;
    for (int number : order) {
        const int position = lastPosition.value(number);
        const auto file = fileOfNumber.constFind(QString::number(number));
        if (position < 0 || file == fileOfNumber.constEnd())
            continue;
        AnnotationInsertion a;
        a.number = number;
        a.framePosition = position;
        a.filePath = QDir(projectDir).filePath(*file);
        a.cutStart = entries.value(number).cutStart;
        a.cutEnd = entries.value(number).cutEnd;
        plan << a;
    }
    std::stable_sort(plan.begin(), plan.end(),
                     [](const AnnotationInsertion& x, const AnnotationInsertion& y) {
                         return x.startMs() < y.startMs();
                     });
    return plan;
}

namespace {

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Walks a video forwards in time, decoding to pixels only the frames that are shown.
class FrameStepper {
public:
    bool open(const QString& path) {
        if (!QFileInfo(path).isFile() || !m_capture.open(localPath(path), cv::CAP_FFMPEG))
            return false;
        const double fps = m_capture.get(cv::CAP_PROP_FPS);
        m_frameMs = fps > 0.5 && fps < 1000 ? 1000.0 / fps : 40.0;
        const double count = m_capture.get(cv::CAP_PROP_FRAME_COUNT);
        m_durationMs = count > 0 ? count * m_frameMs : 0;
        if (!m_capture.grab())
            return false;
        m_pts = std::max(0.0, m_capture.get(cv::CAP_PROP_POS_MSEC));
        m_retrieved = m_capture.retrieve(m_frame) && !m_frame.empty();
        ++m_generation;
        return m_retrieved && m_frame.type() == CV_8UC3;
    }

    double durationMs() const { return m_durationMs; }

    // Moves to the frame shown at `t` ms (never backwards). False once `t` is past the last frame.
    bool advanceTo(double t) {
        while (m_pts + m_frameMs <= t + 1e-6) {
            if (!m_capture.grab())
                return false;
            const double pts = m_capture.get(cv::CAP_PROP_POS_MSEC);
            m_pts = pts > m_pts ? pts : m_pts + m_frameMs;
            m_retrieved = false;
            ++m_generation;
        }
        return true;
    }

    // The current frame; a frame that does not decode shows the previous one again.
    const cv::Mat& pixels() {
        if (!m_retrieved) {
            cv::Mat decoded;
            if (m_capture.retrieve(decoded) && !decoded.empty() && decoded.type() == CV_8UC3)
                m_frame = decoded;
            m_retrieved = true;
        }
        return m_frame;
    }
    // Changes whenever the current frame does.
    quint64 generation() const { return m_generation; }

private:
    cv::VideoCapture m_capture;
    cv::Mat m_frame;
    double m_frameMs = 40;
    double m_durationMs = 0;
    double m_pts = 0;
    bool m_retrieved = false;
    quint64 m_generation = 0;
};

// Bilinear down to half size, as a video widget scales; area averaging below, where bilinear would
// alias (and where it costs less, the output being small). Area averaging at 640 -> 400 would
// cost six times as much as bilinear.
int interpolation(double scale) {
    return scale < 0.5 ? cv::INTER_AREA : cv::INTER_LINEAR;
}

// The montage frame: the student's picture fitted with its aspect ratio kept on black, and during
// an annotation the inset (filled and cropped) with its caption.
class Composer {
public:
    explicit Composer(const MontageGeometry& g) : m_g(g) {
        const cv::Size size(g.frameWidth, g.frameHeight);
        m_student = cv::Mat::zeros(size, CV_8UC3);
        m_out.create(size, CV_8UC3);
        m_insetFull = cv::Rect(0, g.insetTop, g.insetWidth, g.insetHeight);
        m_insetVisible = m_insetFull & cv::Rect(cv::Point(0, 0), size);
        m_captionFont.setPixelSize(std::max(1, g.captionFontPx));
        m_captionFont.setBold(true);
    }

    const cv::Mat& student() const { return m_student; }
    const cv::Mat& composed() const { return m_out; }

    void fitStudent(const cv::Mat& src) {
        const double scale =
            std::min(double(m_g.frameWidth) / src.cols, double(m_g.frameHeight) / src.rows);
        const int w = std::clamp(int(std::lround(src.cols * scale)), 1, m_g.frameWidth);
        const int h = std::clamp(int(std::lround(src.rows * scale)), 1, m_g.frameHeight);
        const cv::Rect fit((m_g.frameWidth - w) / 2, (m_g.frameHeight - h) / 2, w, h);
        if (fit != m_fit) {
            m_student.setTo(cv::Scalar::all(0));
            m_fit = fit;
        }
        cv::Mat target = m_student(fit);
        if (src.size() == fit.size())
            src.copyTo(target);
        else
            cv::resize(src, target, fit.size(), 0, 0, interpolation(scale));
    }

    void composeAnnotation(const cv::Mat& annotation) {
        m_student.copyTo(m_out);
        if (!m_insetVisible.empty()) {
            const double scale = std::max(double(m_insetFull.width) / annotation.cols,
                                          double(m_insetFull.height) / annotation.rows);
            const int cw =
                std::clamp(int(std::lround(m_insetFull.width / scale)), 1, annotation.cols);
            const int ch =
                std::clamp(int(std::lround(m_insetFull.height / scale)), 1, annotation.rows);
            const cv::Rect crop((annotation.cols - cw) / 2, (annotation.rows - ch) / 2, cw, ch);
            cv::resize(annotation(crop), m_inset, m_insetFull.size(), 0, 0, interpolation(scale));
            const cv::Rect part(m_insetVisible.tl() - m_insetFull.tl(), m_insetVisible.size());
            m_inset(part).copyTo(m_out(m_insetVisible));
        }
        drawCaption(m_out);
    }

    // The frame is kept only when the inset area is not (nearly) black.
    bool brightEnough(const cv::Mat& frame) const {
        const cv::Scalar sum = cv::sum(frame(m_insetVisible));
        return sum[0] + sum[1] + sum[2] > MontageRenderer::kMinInsetBrightness;
    }

private:
    void drawCaption(cv::Mat& frame) {
        QImage image(frame.data, frame.cols, frame.rows, int(frame.step), QImage::Format_BGR888);
        QPainter painter(&image);
        const QRect box(0, 0, m_g.captionWidth, m_g.captionHeight);
        painter.setClipRect(box);
        painter.setFont(m_captionFont);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignRight | Qt::AlignBottom,
                         QString::fromLatin1(MontageRenderer::kCaption));
    }

    MontageGeometry m_g;
    cv::Mat m_student;
    cv::Mat m_out;
    cv::Mat m_inset;
    cv::Rect m_fit;
    cv::Rect m_insetFull;
    cv::Rect m_insetVisible;
    QFont m_captionFont;
};

// Where the frames go: a file under a temporary name, renamed once complete.
class Sink {
public:
    virtual ~Sink() = default;
    virtual bool open(QString* error) = 0;
    virtual bool write(const cv::Mat& frame, QString* error) = 0;
    // Completes the temporary file; false when cancelled (error left empty) or failed.
    virtual bool finish(const std::atomic<bool>& cancel, QString* error) = 0;
    // Stops and removes the temporary file.
    virtual void abort() = 0;
};

// Uncompressed 'DIB ' AVI through OpenCV's GStreamer writer.
class RawAviSink : public Sink {
public:
    RawAviSink(QString path, cv::Size size) : m_path(std::move(path)), m_size(size) {}

    bool open(QString* error) override {
        m_writer.open(localPath(m_path), cv::CAP_GSTREAMER,
                      cv::VideoWriter::fourcc('D', 'I', 'B', ' '), MontageRenderer::kFps, m_size);
        if (!m_writer.isOpened()) {
            *error = QStringLiteral("Impossible de créer le fichier « %1 ». L'export est annulé.")
                         .arg(QDir::toNativeSeparators(m_path));
            QFile::remove(m_path);
            return false;
        }
        return true;
    }

    bool write(const cv::Mat& frame, QString*) override {
        m_writer.write(frame);
        ++m_frames;
        return true;
    }

    bool finish(const std::atomic<bool>&, QString* error) override {
        m_writer.release();
        // The writer reports no error of its own (a full disk, for one): read the file back.
        cv::VideoCapture check(localPath(m_path), cv::CAP_FFMPEG);
        const bool complete = check.isOpened() && check.get(cv::CAP_PROP_FRAME_COUNT) == m_frames;
        check.release();
        if (!complete) {
            *error = QStringLiteral("L'écriture du fichier « %1 » a échoué (disque plein ?). "
                                    "L'export est annulé.")
                         .arg(QDir::toNativeSeparators(m_path));
            QFile::remove(m_path);
        }
        return complete;
    }

    void abort() override {
        m_writer.release();
        QFile::remove(m_path);
    }

private:
    QString m_path;
    cv::Size m_size;
    cv::VideoWriter m_writer;
    double m_frames = 0;
};

// H.264 in AVI: raw frames at 16 fps piped to ffmpeg, which writes 25 fps.
class FfmpegSink : public Sink {
public:
    FfmpegSink(QString path, const MontageGeometry& g, QString program)
        : m_path(std::move(path)), m_g(g), m_program(std::move(program)) {}

    bool open(QString* error) override {
        m_job = std::make_unique<EncoderJob>();
        m_job->setProgram(m_program);
        m_job->setFeedsInput(true);
        m_job->setOutputPath(m_path);
        const QString size = QStringLiteral("%1x%2").arg(m_g.frameWidth).arg(m_g.frameHeight);
        m_job->setArguments(
            {QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-nostats"),
             QStringLiteral("-loglevel"), QStringLiteral("error"),
             // input: the montage's raw frames
             QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
             QStringLiteral("bgr24"), QStringLiteral("-s"), size, QStringLiteral("-r"),
             QString::number(MontageRenderer::kFps), QStringLiteral("-i"), QStringLiteral("pipe:0"),
             // output
             QStringLiteral("-an"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
             QStringLiteral("-preset"), QString::fromLatin1(MontageRenderer::kX264Preset),
             // AVI keeps no presentation times: with B-frames a player shows every picture a few
             // frames late, behind the subtitles.
             QStringLiteral("-bf"), QStringLiteral("0"), QStringLiteral("-b:v"),
             QStringLiteral("%1k").arg(montageBitRate(m_g.frameWidth)), QStringLiteral("-pix_fmt"),
             QStringLiteral("yuv420p"), QStringLiteral("-r"),
             QString::number(MontageRenderer::kOutputFps), QStringLiteral("-f"),
             QStringLiteral("avi"), m_path});
        if (!m_job->start()) {
            *error = QStringLiteral("La compression du montage n'a pas pu démarrer : %1")
                         .arg(m_job->errorText());
            return false;
        }
        return true;
    }

    bool write(const cv::Mat& frame, QString* error) override {
        if (m_job->writeFrame(frame))
            return true;
        m_job->waitForFinished(5000);
        *error = failure();
        return false;
    }

    bool finish(const std::atomic<bool>& cancel, QString* error) override {
        m_job->closeInput();
        while (!m_job->waitForFinished(100)) {
            if (cancel) {
                m_job->stop(1000);
                return false;
            }
        }
        if (m_job->result() == EncoderJob::Result::Succeeded)
            return true;
        *error = failure();
        return false;
    }

    void abort() override {
        if (m_job)
            m_job->stop(1000); // removes the partial output
        QFile::remove(m_path);
    }

private:
    QString failure() const {
        return QStringLiteral("La compression du montage par ffmpeg a échoué. %1")
            .arg(m_job->errorText());
    }

    QString m_path;
    MontageGeometry m_g;
    QString m_program;
    std::unique_ptr<EncoderJob> m_job;
};

// Where an annotation's inset shows in the montage, in frames of the file.
struct Cue {
    int number;
    int firstFrame;
    int lastFrame;
};

// SRT time stamp: hh:mm:ss,mmm.
QString srtTime(qint64 ms) {
    return QStringLiteral("%1:%2:%3,%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// A cue starts inside its first frame and ends inside its last one (rounded towards them), so
// that a player's jump never lands on a frame without the inset.
QByteArray srtText(const QList<Cue>& cues) {
    QString text;
    int index = 0;
    for (const Cue& c : cues) {
        const double frameMs = 1000.0 / MontageRenderer::kFps;
        const qint64 start = qint64(std::ceil(c.firstFrame * frameMs));
        const qint64 end = qint64(std::floor((c.lastFrame + 1) * frameMs));
        text += QStringLiteral("%1\n%2 --> %3\nAnnotation n°%4\n\n")
                    .arg(++index)
                    .arg(srtTime(start), srtTime(end))
                    .arg(c.number);
    }
    return text.toUtf8();
}

bool replaceFile(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    QFile::remove(to);
    return QFile::rename(from, to);
}

} // namespace

MontageRenderer::MontageRenderer(MontageJob job) : m_job(std::move(job)) {
    if (m_job.compress) {
        EncoderJob probe;
        probe.setProgram(m_job.ffmpegProgram);
        m_encoderMissing = !probe.isAvailable();
    }
}

MontageRenderer::~MontageRenderer() = default;

QString MontageRenderer::resultPath() const {
    return QDir(m_job.projectDir).filePath(compresses() ? compressedName() : uncompressedName());
}

QString MontageRenderer::subtitlesPath() const {
    return QDir(m_job.projectDir).filePath(subtitlesName());
}

MontageRenderer::Outcome MontageRenderer::fail(const QString& message) {
    qCWarning(lcMontage) << message;
    m_error = message;
    m_outcome = Outcome::Failed;
    return m_outcome;
}

MontageRenderer::Outcome MontageRenderer::run() {
    m_outcome = Outcome::None;
    m_error.clear();
    m_written = m_dropped = 0;
    m_progress = 0;
    const MontageGeometry& g = m_job.geometry;
    if (g.frameWidth < 2 || g.frameHeight < 2)
        return fail(QStringLiteral("Taille d'image du montage invalide."));

    // Every input is checked before anything is written.
    FrameStepper student;
    if (!student.open(m_job.studentVideoPath))
        return fail(QStringLiteral("La vidéo « %1 » ne peut pas être lue. L'export est annulé.")
                        .arg(QDir::toNativeSeparators(m_job.studentVideoPath)));
    double totalMs = std::max(student.durationMs(), 1.0);
    QList<double> insertionMs;
    for (const AnnotationInsertion& a : m_job.insertions) {
        FrameStepper probe;
        if (!probe.open(a.filePath))
            return fail(QStringLiteral("L'annotation « %1 » ne peut pas être lue. L'export est "
                                       "annulé.")
                            .arg(QFileInfo(a.filePath).fileName()));
        double ms = std::max(probe.durationMs(), 1.0);
        if (a.cutEnd > 0 && a.cutStart >= 0)
            ms = std::min(ms, a.cutEnd + kStepMs);
        insertionMs << ms;
        totalMs += ms;
    }

    const QDir dir(m_job.projectDir);
    const QString finalPath = resultPath();
    const QString tempPath = dir.filePath(
        QLatin1Char('.') + QFileInfo(finalPath).completeBaseName() + QStringLiteral(".tmp.avi"));
    QFile::remove(tempPath); // left by a run that was killed
    std::unique_ptr<Sink> sink;
    if (compresses())
        sink = std::make_unique<FfmpegSink>(tempPath, g, m_job.ffmpegProgram);
    else
        sink = std::make_unique<RawAviSink>(tempPath, cv::Size(g.frameWidth, g.frameHeight));
    QString error;
    if (!sink->open(&error))
        return fail(error);

    Composer composer(g);
    QList<Cue> cues;
    double studentDoneMs = 0;
    double insertedMs = 0; // annotations already inserted
    int reported = 0;
    auto advance = [&](double annotationMs) {
        const double done = studentDoneMs + insertedMs + annotationMs;
        const int permille = int(std::min(990.0, done * 1000 / totalMs));
        if (permille > m_progress)
            m_progress = permille;
        if (m_onProgress && permille - reported >= 10) {
            reported = permille;
            m_onProgress(permille);
        }
    };
    auto emitFrame = [&](const cv::Mat& frame) {
        if (!composer.brightEnough(frame)) {
            ++m_dropped;
            return true;
        }
        if (!sink->write(frame, &error))
            return false;
        ++m_written;
        return true;
    };
    // The student's picture stands still while the annotation plays in the inset.
    auto insert = [&](int index) {
        const AnnotationInsertion& a = m_job.insertions[index];
        FrameStepper annotation;
        if (!annotation.open(a.filePath)) {
            error = QStringLiteral("L'annotation « %1 » ne peut pas être lue. L'export est annulé.")
                        .arg(QFileInfo(a.filePath).fileName());
            return false;
        }
        const bool endsAtCut = a.cutEnd > 0 && a.cutStart >= 0;
        Cue cue{a.number, -1, -1};
        for (int k = 0; !m_cancel; ++k) {
            const double t = double(k) * kStepMs;
            if ((endsAtCut && t > a.cutEnd) || !annotation.advanceTo(t))
                break;
            advance(std::min(t, insertionMs[index]));
            if (!isInsideCut(t, a.cutStart, a.cutEnd))
                continue;
            composer.composeAnnotation(annotation.pixels());
            const int frame = m_written;
            if (!emitFrame(composer.composed()))
                return false;
            if (m_written == frame)
                continue; // too dark: not in the file
            if (cue.firstFrame < 0)
                cue.firstFrame = frame;
            cue.lastFrame = frame;
        }
        if (cue.firstFrame >= 0)
            cues << cue;
        insertedMs += insertionMs[index];
        return true;
    };

    bool ok = true;
    int next = 0;
    const int count = int(m_job.insertions.size());
    quint64 fitted = 0;
    for (int k = 0; ok && !m_cancel; ++k) {
        const double t = double(k) * kStepMs;
        if (!student.advanceTo(t))
            break;
        if (student.generation() != fitted) {
            composer.fitStudent(student.pixels());
            fitted = student.generation();
        }
        bool inserted = false;
        while (ok && next < count && m_job.insertions[next].startMs() <= qint64(t)) {
            ok = insert(next++);
            inserted = true;
        }
        if (ok && !inserted)
            ok = emitFrame(composer.student());
        studentDoneMs = std::min(t, student.durationMs());
        advance(0);
    }
    studentDoneMs = student.durationMs();
    // Seconds past the end of the student's video (a shorter video than the one annotated): the
    // annotations follow its last picture rather than being lost.
    while (ok && !m_cancel && next < count)
        ok = insert(next++);

    if (m_cancel) {
        sink->abort();
        m_outcome = Outcome::Cancelled;
        return m_outcome;
    }
    if (!ok) {
        sink->abort();
        return fail(error);
    }
    if (m_written == 0) {
        sink->abort();
        return fail(QStringLiteral("Le montage ne contient aucune image : la zone de l'annotation "
                                   "est noire dans toute la vidéo. L'export est annulé."));
    }
    if (!sink->finish(m_cancel, &error) || m_cancel) {
        sink->abort();
        if (m_cancel) {
            m_outcome = Outcome::Cancelled;
            return m_outcome;
        }
        return fail(error);
    }
    // The subtitles are written before the montage takes its name, so that a full disk leaves
    // the previous montage and its subtitles together; they take their own name just after.
    const QString srtPath = subtitlesPath();
    QSaveFile srt(srtPath);
    const QByteArray srtBytes = srtText(cues);
    if (!srt.open(QIODevice::WriteOnly) || srt.write(srtBytes) != srtBytes.size()) {
        srt.cancelWriting();
        sink->abort();
        return fail(QStringLiteral("Les sous-titres « %1 » n'ont pas pu être écrits. L'export est "
                                   "annulé.")
                        .arg(QDir::toNativeSeparators(srtPath)));
    }
    if (!replaceFile(tempPath, finalPath)) {
        srt.cancelWriting();
        QFile::remove(tempPath);
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
    m_progress = 1000;
    if (m_onProgress)
        m_onProgress(1000);
    m_outcome = Outcome::Succeeded;
    qCDebug(lcMontage) << "montage" << finalPath << m_written << "frames written," << m_dropped
                       << "dropped";
    return m_outcome;
}

} // namespace kel
