#include "encoder_job.h"
#include "video_probe.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcEncoder, "kel.encoder", QtInfoMsg)

namespace kel {

namespace {
// Raw frames waiting in the process's buffer before writeFrame() waits for ffmpeg.
constexpr qint64 kMaxPendingBytes = 8 * 1024 * 1024;
// How long one blocking wait lasts before the cancel flag is looked at again.
constexpr int kSliceMs = 100;

qint64 fileStamp(const QFileInfo& info) {
    return info.lastModified().toMSecsSinceEpoch() ^ (info.size() << 20);
}
} // namespace

EncoderJob::EncoderJob(QObject* parent) : QObject(parent) {
    m_process = new QProcess(this);
    m_ownsProcess = true;
    init();
}

EncoderJob::EncoderJob(QProcess* process, QObject* parent) : QObject(parent), m_process(process) {
    init();
}

void EncoderJob::init() {
    // ffmpeg's statistics and messages, and anything it might print on stdout, all go to the log.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &EncoderJob::readOutput);
    connect(m_process, &QProcess::finished, this, &EncoderJob::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, &EncoderJob::onError);
}

EncoderJob::~EncoderJob() {
    if (isRunning())
        stop(1000);
    if (!m_ownsProcess)
        disconnect(m_process, nullptr, this, nullptr);
}

QString EncoderJob::findFfmpeg() {
    const QString name = QStringLiteral("ffmpeg");
    QString found;
    if (QCoreApplication::instance())
        found = QStandardPaths::findExecutable(name, {QCoreApplication::applicationDirPath()});
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name);
    return found;
}

bool EncoderJob::isReadableVideo(const QString& path) {
    return probeVideo(path).readable;
}

QString EncoderJob::program() const {
    if (!m_programOverride.isEmpty()) {
        const QFileInfo info(m_programOverride);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return findFfmpeg();
}

bool EncoderJob::isRunning() const {
    return m_running;
}

bool EncoderJob::start() {
    if (m_running)
        return false;
    m_result = Result::None;
    m_exitCode = -1;
    m_processedMs = -1;
    m_pending.clear();
    m_log.clear();
    m_stopping = false;
    m_stalled = false;

    const QString exe = program();
    if (exe.isEmpty()) {
        m_result = Result::NotFound;
        return false;
    }
    if (!m_outputPath.isEmpty()) {
        const QFileInfo out(m_outputPath);
        m_outputExisted = out.exists();
        m_outputStamp = m_outputExisted ? fileStamp(out) : 0;
    }

    qCDebug(lcEncoder) << exe << m_arguments;
    m_starting = true;
#ifdef Q_OS_LINUX
    // A raw frame is hundreds of kilobytes: a 1 MB pipe takes it whole instead of in 64 KB
    // pieces, each a switch between the two processes. A refusal only keeps the default.
    if (m_feedsInput)
        m_process->setChildProcessModifier([] { ::fcntl(STDIN_FILENO, F_SETPIPE_SZ, 1 << 20); });
    else
        m_process->setChildProcessModifier({});
#endif
    m_process->start(exe, m_arguments, QIODevice::ReadWrite);
    const bool started = m_process->waitForStarted(10000);
    m_starting = false;
    if (!started) {
        m_process->kill();
        m_process->waitForFinished(1000);
        m_result = Result::StartFailed;
        return false;
    }
    m_running = true;
    return true;
}

bool EncoderJob::drainInput(qint64 limit) {
    QElapsedTimer idle;
    idle.start();
    qint64 pending = m_process->bytesToWrite();
    while (pending > limit) {
        if (cancelled() || m_process->state() != QProcess::Running)
            return false;
        m_process->waitForBytesWritten(kSliceMs);
        const qint64 now = m_process->bytesToWrite();
        if (now < pending) {
            idle.restart();
        } else if (idle.hasExpired(kStallMs)) {
            m_stalled = true;
            qCWarning(lcEncoder) << "ffmpeg has taken no input for" << kStallMs << "ms";
            return false;
        }
        pending = now;
    }
    return true;
}

bool EncoderJob::writeFrame(const cv::Mat& frame) {
    if (!m_running || m_stalled || m_process->state() != QProcess::Running || cancelled())
        return false;
    const cv::Mat data = frame.isContinuous() ? frame : frame.clone();
    const qint64 bytes = qint64(data.total() * data.elemSize());
    if (m_process->write(reinterpret_cast<const char*>(data.data), bytes) != bytes)
        return false;
    return drainInput(kMaxPendingBytes) && m_process->state() == QProcess::Running;
}

bool EncoderJob::closeInput() {
    if (m_process->state() == QProcess::Running && !drainInput(0))
        return false;
    m_process->closeWriteChannel();
    return true;
}

bool EncoderJob::waitForFinished(int msecs) {
    QElapsedTimer clock;
    clock.start();
    while (m_running) {
        if (cancelled())
            return false;
        const int left = msecs < 0 ? kSliceMs : int(msecs - clock.elapsed());
        if (left <= 0)
            return false;
        if (!m_process->waitForFinished(qMin(left, kSliceMs)) &&
            m_process->state() == QProcess::NotRunning && m_running)
            break; // no finished() will come
    }
    if (m_running && m_process->state() == QProcess::NotRunning)
        onFinished(m_process->exitCode(), m_process->exitStatus());
    return !m_running;
}

void EncoderJob::stop(int graceMs) {
    if (!m_running)
        return;
    m_stopping = true;
    if (m_feedsInput) {
        m_process->closeWriteChannel();
    } else {
        m_process->write("q");
        m_process->waitForBytesWritten(200);
    }
    if (!m_process->waitForFinished(graceMs) && m_running) {
        m_process->terminate();
        if (!m_process->waitForFinished(1000) && m_running) {
            m_process->kill();
            m_process->waitForFinished(1000);
        }
    }
    if (m_running) // no finished() came: account for it here
        finish(Result::Stopped);
}

void EncoderJob::requestStop(int graceMs) {
    if (!m_running || m_stopping)
        return;
    m_stopping = true;
    if (m_feedsInput)
        m_process->closeWriteChannel();
    else
        m_process->write("q");
    QTimer::singleShot(graceMs, this, [this] {
        if (!m_running)
            return;
        m_process->terminate();
        QTimer::singleShot(1000, this, [this] {
            if (m_running)
                m_process->kill();
        });
    });
}

void EncoderJob::readOutput() {
    m_pending += m_process->readAllStandardOutput();
    int from = 0;
    for (int i = 0; i < m_pending.size(); ++i) {
        const char c = m_pending.at(i);
        if (c == '\n' || c == '\r') {
            if (i > from)
                takeLine(QString::fromLocal8Bit(m_pending.constData() + from, i - from));
            from = i + 1;
        }
    }
    m_pending.remove(0, from);
}

void EncoderJob::takeLine(const QString& line) {
    static const QRegularExpression progressKey(QStringLiteral("^[a-z_0-9]+=\\S*$"));
    static const QRegularExpression outTimeUs(QStringLiteral("^out_time_(?:us|ms)=(\\d+)$"));
    static const QRegularExpression clock(
        QStringLiteral("(?:^|\\s)time=\\s*(\\d+):(\\d{2}):(\\d{2}(?:\\.\\d+)?)"));

    qint64 ms = -1;
    const bool isProgressKey = progressKey.match(line).hasMatch();
    if (const auto m = outTimeUs.match(line); m.hasMatch()) {
        // Both keys are in microseconds, whatever the name says.
        ms = m.captured(1).toLongLong() / 1000;
    } else if (const auto c = clock.match(line); c.hasMatch()) {
        ms = qint64((c.captured(1).toLongLong() * 3600 + c.captured(2).toLongLong() * 60 +
                     c.captured(3).toDouble()) *
                    1000);
    }
    if (ms >= 0)
        m_processedMs = ms;
    if (isProgressKey)
        return;
    m_log.push_back(line);
    while (m_log.size() > size_t(kLogLines))
        m_log.pop_front();
}

QStringList EncoderJob::log() const {
    QStringList lines;
    for (const QString& l : m_log)
        lines << l;
    return lines;
}

void EncoderJob::onFinished(int exitCode, QProcess::ExitStatus status) {
    if (!m_running)
        return;
    readOutput();
    if (!m_pending.isEmpty()) {
        takeLine(QString::fromLocal8Bit(m_pending));
        m_pending.clear();
    }
    m_exitCode = exitCode;
    if (m_stopping)
        finish(Result::Stopped);
    else if (status != QProcess::NormalExit)
        finish(Result::Crashed);
    else if (exitCode != 0)
        finish(Result::Failed);
    else if (!m_outputPath.isEmpty() && !isReadableVideo(m_outputPath))
        finish(Result::BadOutput);
    else
        finish(Result::Succeeded);
}

void EncoderJob::onError(QProcess::ProcessError error) {
    // A failed start is answered by start() itself; other errors end in finished().
    if (error == QProcess::FailedToStart && !m_starting && m_running)
        finish(Result::StartFailed);
}

void EncoderJob::finish(Result result) {
    m_running = false;
    m_result = result;
    if (result != Result::Succeeded) {
        removeOutputIfOurs();
        if (result != Result::Stopped && !m_log.empty())
            qCWarning(lcEncoder) << "ffmpeg:" << m_log.back();
    }
    emit finished(result);
}

void EncoderJob::removeOutputIfOurs() {
    if (m_outputPath.isEmpty())
        return;
    const QFileInfo out(m_outputPath);
    if (!out.exists())
        return;
    if (!m_outputExisted || fileStamp(out) != m_outputStamp)
        QFile::remove(m_outputPath);
}

QString EncoderJob::errorText() const {
    const QString last = m_log.empty() ? QString() : m_log.back().trimmed();
    const QString detail = last.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(last);
    switch (m_result) {
    case Result::None:
    case Result::Succeeded:
        return QString();
    case Result::NotFound:
        return QStringLiteral("ffmpeg n'est pas installé.");
    case Result::StartFailed:
        return QStringLiteral("ffmpeg n'a pas pu être lancé.");
    case Result::Crashed:
        return QStringLiteral("ffmpeg s'est arrêté brutalement%1.").arg(detail);
    case Result::Failed:
        return QStringLiteral("ffmpeg a échoué (code %1)%2.").arg(m_exitCode).arg(detail);
    case Result::BadOutput:
        return QStringLiteral("ffmpeg n'a pas produit de vidéo lisible.");
    case Result::Stopped:
        return QStringLiteral("ffmpeg a été arrêté.");
    }
    return QString();
}

} // namespace kel
