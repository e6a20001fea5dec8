#include "montage_window.h"

#include "common/dialogs.h"
#include "export/export_settings.h"
#include "export/montage_renderer.h"

#include <QCoreApplication>
#include <QThread>

namespace kel {

Mixing::Mixing(const QString& video, const QString& dir, int width, int height, int top, int insetW,
               int insetH, const QStringList& files, const QList<int>& schedule, int captionW,
               int captionH, int fontPx, bool compress, const QString& format)
    : frameWidth(width), frameHeight(height), insetTop(top), insetWidth(insetW),
      insetHeight(insetH), captionWidth(captionW), captionHeight(captionH), captionFontPx(fontPx),
      compressMontage(compress), studentVideoPath(video), projectDir(dir), annotationFiles(files),
      annotationSchedule(schedule) {
    MontageJob job;
    job.studentVideoPath = studentVideoPath;
    job.projectDir = projectDir;
    job.geometry = {frameWidth,  frameHeight,  insetTop,      insetWidth,
                    insetHeight, captionWidth, captionHeight, captionFontPx};
    job.insertions = planInsertions(projectDir, annotationFiles, annotationSchedule);
    job.compress = compressMontage;
    job.format = format;
    m_renderer = std::make_unique<MontageRenderer>(job);
    outputPath = m_renderer->resultPath();

    setFixedSize(frameWidth, frameHeight);
    setWindowModality(Qt::WindowModal);

    const QString refusal = montageRefusal(projectDir, annotationFiles, job.insertions);
    if (!refusal.isEmpty()) {
        dialogs().platformBox(QStringLiteral("KEL"), refusal, Dialogs::Icon::Warning);
        return; // failed at once: the previous montage stays
    }

    MontageRenderer* renderer = m_renderer.get();
    m_thread = QThread::create([renderer] { renderer->run(); });
    m_thread->setParent(this);
    connect(m_thread, &QThread::finished, this, &Mixing::finExport);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Mixing::cancel);
    m_rendering = true;
    m_thread->start(QThread::LowPriority);

    if (m_renderer->encoderMissing())
        dialogs().platformBox(QStringLiteral("KEL"),
                              QStringLiteral("ffmpeg n'est pas installé. La vidéo ne sera pas "
                                             "compressée."),
                              Dialogs::Icon::Warning);
}

Mixing::~Mixing() {
    cancel();
}

bool Mixing::fellBackToUncompressed() const {
    return m_renderer->encoderMissing();
}

int Mixing::progressPercent() const {
    return m_succeeded ? 100 : m_renderer->progressPermille() / 10;
}

void Mixing::requestCancel() {
    if (m_rendering)
        m_renderer->cancel();
}

void Mixing::cancel() {
    if (!m_rendering)
        return;
    requestCancel();
    m_thread->wait();
    m_rendering = false;
    m_succeeded = false;
}

void Mixing::finExport() {
    if (!m_rendering)
        return;
    m_rendering = false;
    m_succeeded = m_renderer->outcome() == MontageRenderer::Outcome::Succeeded;
    if (m_renderer->outcome() == MontageRenderer::Outcome::Failed)
        dialogs().platformBox(QStringLiteral("KEL"), m_renderer->errorMessage(),
                              Dialogs::Icon::Warning);
    emit exportEnded(m_succeeded);
}

} // namespace kel
