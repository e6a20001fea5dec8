#include "export_controller.h"

#include "export/export_window.h"
#include "export/montage_window.h"
#include "project/project_session.h"

#include <QFileInfo>

namespace kel {

ExportController::ExportController(QObject* parent) : QObject(parent) {}

ExportController::~ExportController() {
    delete m_montage;
    delete m_settings;
}

QList<AnnotationInsertion> planInsertions(const ProjectSession& session) {
    QStringList files;
    for (const SessionAnnotation& a : session.annotations())
        files << QFileInfo(a.filePath).fileName();
    return planInsertions(session.dir(), session.entries(), files);
}

void ExportController::openSettings(const ProjectSession& session, const QString& studentVideo) {
    QStringList files;
    for (const SessionAnnotation& a : session.annotations())
        files << QFileInfo(a.filePath).fileName();
    delete m_settings;
    m_settings = new Export(session.dir(), studentVideo);
    m_settings->setProject(planInsertions(session), files);
    connect(m_settings, &Export::launched, this, &ExportController::launch);
}

Export* ExportController::settingsWindow() const {
    return m_settings;
}

bool ExportController::isRendering() const {
    return m_montage && m_montage->isRendering();
}

void ExportController::launch(const MontageJob& job, const QStringList& annotationFiles) {
    // Two montages would write the same files.
    if (isRendering())
        return;
    delete m_montage;
    m_montage = new Mixing(job, annotationFiles);
    connect(m_montage, &Mixing::progressChanged, this, &ExportController::progressChanged);
    Mixing* montage = m_montage;
    connect(m_montage, &Mixing::exportEnded, this, [this, montage](bool succeeded) {
        emit ended(succeeded, succeeded ? montage->outputPath() : QString());
    });
    emit started();
    if (!m_montage->isRendering()) // refused before it started
        emit ended(false, QString());
}

void ExportController::requestCancel() {
    if (isRendering())
        m_montage->requestCancel();
}

void ExportController::cancelAndWait() {
    if (m_montage)
        m_montage->cancel();
}

} // namespace kel
