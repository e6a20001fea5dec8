#include "annotation_transcoder.h"

#include "common/annotation_name.h"
#include "common/encoder_job.h"
#include "common/video_probe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <opencv2/videoio.hpp>

Q_LOGGING_CATEGORY(lcTranscoder, "kel.recording.transcoder")

namespace kel {

bool replaceFile(const QString& from, const QString& to) {
#ifdef Q_OS_WIN
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(from.toStdWString()),
                            std::filesystem::path(to.toStdWString()), error);
    return !error;
#else
    // rename(2) replaces the target atomically: readers see the old file or the new one.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

namespace {

quint32 le32(const QByteArray& data, int at) {
    if (at < 0 || at + 4 > data.size())
        return 0;
    const auto* p = reinterpret_cast<const uchar*>(data.constData() + at);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

QString absolute(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

AnnotationTranscoder::AnnotationTranscoder(QProcess* process, QObject* parent)
    : QObject(parent), m_process(process) {
    connect(&m_watch, &QTimer::timeout, this, &AnnotationTranscoder::watchProgress);
}

AnnotationTranscoder::~AnnotationTranscoder() {
    m_queue.clear();
    if (m_job) {
        disconnect(m_job.get(), nullptr, this, nullptr);
        if (isRunning())
            m_job->stop(1000);
    }
}

QStringList AnnotationTranscoder::arguments(const QString& source, const QString& output) {
    return {QStringLiteral("-hide_banner"), QStringLiteral("-y"),
            QStringLiteral("-i"),           source,
            QStringLiteral("-an"),          QStringLiteral("-c:v"),
            QStringLiteral("mpeg4"),        QStringLiteral("-b:v"),
            QStringLiteral("1200k"),        QStringLiteral("-r"),
            QStringLiteral("25"),           QStringLiteral("-s"),
            QStringLiteral("640x480"),      QStringLiteral("-f"),
            QStringLiteral("avi"),          output};
}

QString AnnotationTranscoder::workPath(const QString& recording) {
    const QFileInfo info(recording);
    return info.dir().filePath(QLatin1Char('.') + info.completeBaseName() +
                               QStringLiteral(".compressing.avi"));
}

namespace {

// What the header of an AVI file says of its first video stream.
struct AviVideo {
    bool found = false;
    QByteArray handler;     // four-character code of the stream header
    QByteArray compression; // biCompression of the format, four bytes
    int width = 0, height = 0;
};

AviVideo readAviVideo(const QString& path) {
    AviVideo video;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return video;
    const QByteArray head = file.read(64 * 1024);
    if (!head.startsWith("RIFF") || head.mid(8, 4) != "AVI ")
        return video;
    // The first video stream header ('strh', type 'vids') is followed by its format, a
    // BITMAPINFOHEADER.
    for (int at = head.indexOf("strh"); at >= 0; at = head.indexOf("strh", at + 4)) {
        if (head.mid(at + 8, 4) != "vids")
            continue;
        const quint32 size = le32(head, at + 4);
        if (size > quint32(head.size()))
            return video;
        const int format = at + 8 + int(size + (size & 1));
        if (head.mid(format, 4) != "strf" || format + 8 + 20 > head.size())
            return video;
        video.found = true;
        video.handler = head.mid(at + 12, 4);
        video.width = int(le32(head, format + 8 + 4));
        video.height = std::abs(int(le32(head, format + 8 + 8)));
        video.compression = head.mid(format + 8 + 16, 4);
        return video;
    }
    return video;
}

} // namespace

bool AnnotationTranscoder::isRawRecording(const QString& path) {
    const AviVideo video = readAviVideo(path);
    if (!video.found)
        return false;
    const quint32 code = le32(video.compression, 0);
    return code == 0 /* BI_RGB */ || code == 3 /* BI_BITFIELDS */ || video.compression == "DIB " ||
           video.compression == "RGB " || video.compression == "raw ";
}

QStringList AnnotationTranscoder::removeLeftovers(const QString& dir) {
    QStringList removed;
    const QDir folder(dir);
    // Our work files carry a name no one else gives: whatever is under it is ours.
    for (const QString& name : folder.entryList({QStringLiteral(".annotation*.compressing.avi")},
                                                QDir::Files | QDir::Hidden)) {
        if (QFile::remove(folder.filePath(name)))
            removed << folder.filePath(name);
    }
    return removed;
}

qint64 AnnotationTranscoder::durationMs(const QString& path) {
    const qint64 ms = probeVideo(path).durationMs();
    return ms > 0 ? ms : -1;
}

bool AnnotationTranscoder::isRunning() const {
    return m_active && m_job && m_job->isRunning();
}

bool AnnotationTranscoder::isPending(const QString& recording) const {
    const QString path = absolute(recording);
    if (isRunning() && m_recording == path)
        return true;
    return std::any_of(m_queue.begin(), m_queue.end(),
                       [&path](const Item& i) { return i.recording == path; });
}

QStringList AnnotationTranscoder::pending() const {
    QStringList list;
    if (isRunning())
        list << m_recording;
    for (const Item& i : m_queue)
        list << i.recording;
    return list;
}

bool AnnotationTranscoder::encoderAvailable() const {
    if (m_program.isEmpty())
        return !EncoderJob::findFfmpeg().isEmpty();
    const QFileInfo info(m_program);
    return info.isFile() && info.isExecutable();
}

bool AnnotationTranscoder::start(const QString& recording, const QString& dir, int number) {
    Q_UNUSED(dir) // always the recording's own folder
    return enqueue(recording, number);
}

bool AnnotationTranscoder::enqueue(const QString& recording, int number) {
    const Item item{absolute(recording), number > 0 ? number : annotationNumber(recording)};
    if (isPending(item.recording))
        return true;
    if (!encoderAvailable()) {
        m_outcome = Outcome::EncoderMissing;
        m_error = QStringLiteral("ffmpeg n'est pas installé.");
        return false;
    }
    if (isRunning() || !m_queue.empty()) {
        m_queue.push_back(item);
        updateBusy();
        return true;
    }
    const bool started = launch(item);
    updateBusy();
    return started;
}

bool AnnotationTranscoder::launch(const Item& item) {
    m_recording = item.recording;
    m_number = item.number;
    m_output = workPath(item.recording);
    m_outcome = Outcome::None;
    m_error.clear();
    m_stalled = false;
    if (!QFileInfo::exists(m_recording)) {
        m_outcome = Outcome::Discarded;
        return false;
    }
    // The hidden name is ours alone: what carries it is left from a run cut short.
    QFile::remove(m_output);

    // A fresh job per run; the previous one may still be on the stack (this can run from its
    // finished signal), and it must not read the shared process's output any more.
    if (m_job) {
        disconnect(m_job.get(), nullptr, this, nullptr);
        disconnect(m_job->process(), nullptr, m_job.get(), nullptr);
        m_job.release()->deleteLater();
    }
    m_job = m_process ? std::make_unique<EncoderJob>(m_process) : std::make_unique<EncoderJob>();
    if (!m_program.isEmpty())
        m_job->setProgram(m_program);
    m_job->setArguments(arguments(m_recording, m_output));
    m_job->setOutputPath(m_output);
    connect(m_job.get(), &EncoderJob::finished, this, &AnnotationTranscoder::jobFinished);

    if (!m_job->start()) {
        m_outcome = m_job->result() == EncoderJob::Result::NotFound ? Outcome::EncoderMissing
                                                                    : Outcome::Failed;
        m_error = m_job->errorText();
        return false;
    }
    m_active = true;
    m_lastMark = -1;
    m_sinceProgress.start();
    m_watch.start(qBound(20, m_stallMs / 4, 1000));
    return true;
}

void AnnotationTranscoder::startNext() {
    while (!isRunning() && !m_queue.empty()) {
        const Item item = m_queue.front();
        m_queue.pop_front();
        if (launch(item))
            break;
        end(m_outcome);
    }
    updateBusy();
}

void AnnotationTranscoder::updateBusy() {
    if (isBusy() == m_wasBusy)
        return;
    m_wasBusy = isBusy();
    emit busyChanged(m_wasBusy);
}

void AnnotationTranscoder::remove(const QString& recording) {
    const QString path = absolute(recording);
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                                 [&path](const Item& i) { return i.recording == path; }),
                  m_queue.end());
    if (isRunning() && m_recording == path)
        m_job->requestStop(500);
    updateBusy();
}

void AnnotationTranscoder::stop(int graceMs) {
    m_queue.clear();
    if (isRunning())
        m_job->stop(graceMs);
    updateBusy();
}

void AnnotationTranscoder::watchProgress() {
    if (!isRunning()) {
        m_watch.stop();
        return;
    }
    // ffmpeg's position, or failing that its output growing, shows that it works.
    const qint64 mark = m_job->processedMs() * 1000003 + QFileInfo(m_output).size();
    if (mark != m_lastMark) {
        m_lastMark = mark;
        m_sinceProgress.restart();
        return;
    }
    if (m_sinceProgress.elapsed() < m_stallMs)
        return;
    qCWarning(lcTranscoder) << "ffmpeg shows no progress, stopped:" << m_recording;
    m_stalled = true;
    m_watch.stop();
    m_job->requestStop(500);
}

void AnnotationTranscoder::jobFinished() {
    if (!m_active)
        return;
    m_active = false;
    m_watch.stop();
    updateBusy(); // idle before finished() when nothing waits: the window may export at once
    const Outcome outcome = settle();
    // The next run starts once this one's finished() has been handled, even when a handler
    // runs an event loop of its own (a box): the job that is ending is still on the stack.
    QPointer<AnnotationTranscoder> alive(this);
    end(outcome);
    if (alive)
        QTimer::singleShot(0, this, &AnnotationTranscoder::startNext);
}

AnnotationTranscoder::Outcome AnnotationTranscoder::settle() {
    const EncoderJob::Result result = m_job->result();
    if (m_stalled) {
        m_error = QStringLiteral("ffmpeg ne progressait plus depuis %1 s : la compression a été "
                                 "arrêtée.")
                      .arg((m_stallMs + 999) / 1000);
        return Outcome::Failed;
    }
    if (result == EncoderJob::Result::Stopped)
        return Outcome::Stopped;
    if (result != EncoderJob::Result::Succeeded) {
        m_error = m_job->errorText(); // the job has removed what ffmpeg wrote
        return Outcome::Failed;
    }
    if (!QFileInfo::exists(m_recording)) {
        QFile::remove(m_output);
        return Outcome::Discarded;
    }
    // A compressed file that does not last as long as the recording would move every later
    // moment of the comment: it is not kept.
    const qint64 recorded = durationMs(m_recording), compressed = durationMs(m_output);
    if (recorded > 0 && std::abs(compressed - recorded) > qMax<qint64>(250, recorded / 20)) {
        qCWarning(lcTranscoder) << "compressed" << compressed << "ms for" << recorded << "ms";
        QFile::remove(m_output);
        m_error = QStringLiteral("ffmpeg a produit une vidéo de %1 s pour un enregistrement de "
                                 "%2 s.")
                      .arg(compressed / 1000.0, 0, 'f', 1)
                      .arg(recorded / 1000.0, 0, 'f', 1);
        return Outcome::Failed;
    }
    if (!replaceFile(m_output, m_recording)) {
        qCWarning(lcTranscoder) << "cannot move" << m_output << "onto" << m_recording;
        m_error = QStringLiteral("Le fichier compressé n'a pas pu remplacer l'enregistrement.");
        QFile::remove(m_output);
        return Outcome::Failed;
    }
    return Outcome::Replaced;
}

void AnnotationTranscoder::end(Outcome outcome) {
    m_outcome = outcome;
    emit finished(outcome, m_recording, m_number);
}

} // namespace kel
