#include "montage_window.h"

#include "common/dialogs.h"
#include "export/export_settings.h"
#include "export/montage_renderer.h"

#include <QCoreApplication>
#include <QThread>

namespace kel {

Mixing::Mixing(const MontageJob& job, const QStringList& annotationFiles)
    : m_renderer(std::make_unique<MontageRenderer>(job)) {
    setFixedSize(job.geometry.frameWidth, job.geometry.frameHeight);
    setWindowModality(Qt::WindowModal);

    const QString refusal = montageRefusal(job.projectDir, annotationFiles, job.insertions);
    if (!refusal.isEmpty()) {
        dialogs().platformBox(QStringLiteral("KEL"), refusal, Dialogs::Icon::Warning);
        return; // failed at once: the previous montage stays
    }

    MontageRenderer* renderer = m_renderer.get();
    // Called on the render thread: the signal crosses to this window's.
    renderer->setProgressCallback([this](int permille) {
        QMetaObject::invokeMethod(
            this, [this, permille] { emit progressChanged(permille / 10); }, Qt::QueuedConnection);
    });
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

QString Mixing::outputPath() const {
    return m_renderer->resultPath();
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
