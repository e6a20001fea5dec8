#include "annotation_transcoder.h"

#include "common/encoder_job.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>
#include <filesystem>

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

AnnotationTranscoder::AnnotationTranscoder(QProcess* process, QObject* parent)
    : QObject(parent), m_process(process) {}

AnnotationTranscoder::~AnnotationTranscoder() {
    if (isRunning()) {
        disconnect(m_job.get(), nullptr, this, nullptr);
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

QString AnnotationTranscoder::compressedPath(const QString& dir, int number) {
    return QDir(dir).filePath(QString::number(number) + QStringLiteral(".avi"));
}

bool AnnotationTranscoder::isRunning() const {
    return m_active && m_job && m_job->isRunning();
}

bool AnnotationTranscoder::start(const QString& recording, const QString& dir, int number) {
    if (isRunning())
        return false;
    m_recording = recording;
    m_number = number;
    m_output = compressedPath(dir, number);
    m_outcome = Outcome::None;
    m_error.clear();

    // A fresh job per run; the process object, when shared, is handed from one to the next.
    m_job.reset();
    m_job = m_process ? std::make_unique<EncoderJob>(m_process) : std::make_unique<EncoderJob>();
    if (!m_program.isEmpty())
        m_job->setProgram(m_program);
    m_job->setArguments(arguments(recording, m_output));
    m_job->setOutputPath(m_output);
    connect(m_job.get(), &EncoderJob::finished, this, &AnnotationTranscoder::jobFinished);

    if (!m_job->start()) {
        m_outcome = m_job->result() == EncoderJob::Result::NotFound ? Outcome::EncoderMissing
                                                                    : Outcome::Failed;
        m_error = m_job->errorText();
        return false;
    }
    m_active = true;
    return true;
}

void AnnotationTranscoder::stop(int graceMs) {
    if (isRunning())
        m_job->stop(graceMs);
}

void AnnotationTranscoder::jobFinished() {
    if (!m_active)
        return;
    m_active = false;
    const EncoderJob::Result result = m_job->result();
    if (result == EncoderJob::Result::Stopped) {
        end(Outcome::Stopped);
        return;
    }
    if (result != EncoderJob::Result::Succeeded) {
        m_error = m_job->errorText(); // the job has removed what ffmpeg wrote
        end(Outcome::Failed);
        return;
    }
    if (!QFileInfo::exists(m_recording)) {
        QFile::remove(m_output);
        end(Outcome::Discarded);
        return;
    }
    if (!replaceFile(m_output, m_recording)) {
        qCWarning(lcTranscoder) << "cannot move" << m_output << "onto" << m_recording;
        m_error = QStringLiteral("Le fichier compressé n'a pas pu remplacer l'enregistrement.");
        QFile::remove(m_output);
        end(Outcome::Failed);
        return;
    }
    end(Outcome::Replaced);
}

void AnnotationTranscoder::end(Outcome outcome) {
    m_outcome = outcome;
    emit finished(outcome);
}

QString AnnotationTranscoder::errorText() const {
    return m_error;
}

} // namespace kel
