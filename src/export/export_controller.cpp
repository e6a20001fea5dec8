#include "export_controller.h"

#include "export/export_window.h"
#include "export/montage_window.h"
#include "project/project_session.h"

#include "common/dialogs.h"
#include "common/timecode.h"
#include "common/video_probe.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>

namespace kel {

ExportController::ExportController(QObject* parent) : QObject(parent) {}

ExportController::~ExportController() {
    delete m_montage;
    delete m_settings;
}

namespace {
QStringList annotationFileNames(const ProjectSession& session) {
    QStringList files;
    for (const SessionAnnotation& a : session.annotations())
        files << QFileInfo(a.filePath).fileName();
    return files;
}
} // namespace

QList<AnnotationInsertion> planInsertions(const ProjectSession& session) {
    return planInsertions(session.dir(), session.entries(), annotationFileNames(session));
}

void ExportController::openSettings(const ProjectSession& session, const QString& studentVideo) {
    delete m_settings;
    m_settings = new Export(session.dir(), studentVideo);
    m_settings->setProject(planInsertions(session), annotationFileNames(session));
    connect(m_settings, &Export::launched, this, &ExportController::launch);
}

Export* ExportController::settingsWindow() const {
    return m_settings;
}

bool ExportController::isRendering() const {
    return m_montage && m_montage->isRendering();
}

QString ExportController::refusal(const ProjectSession& session, const QString& studentVideo,
                                  bool compressing) const {
    if (studentVideo.isEmpty())
        return QStringLiteral("Veuillez ouvrir la video à annoter.");
    if (session.count() > 0 && (compressing || session.hasAwaitingCompression()))
        return QStringLiteral("Traitement annotation(s) en cours. Veuillez relancer l'export dans "
                              "quelques secondes.");
    if (session.count() == 0)
        return QStringLiteral("Export annulé, aucune annotation n'est présente dans votre projet.");
    // Two montages would write the same files.
    if (isRendering())
        return QStringLiteral("Un export est déjà en cours. Veuillez attendre sa fin avant d'en "
                              "lancer un autre.");
    return QString();
}

void ExportController::showResult(const QString& montagePath, const UrlOpener& open) {
    const QFileInfo info(montagePath);
    const QLocale french(QLocale::French);
    const QString text = QStringLiteral("Le montage est prêt :\r\n%1\r\n%2 Mo, durée %3.")
                             .arg(QDir::toNativeSeparators(info.absoluteFilePath()),
                                  french.toString(info.size() / 1e6, 'f', 1),
                                  minutesText(probeVideo(montagePath).durationMs() + 500));
    const int action =
        dialogs().actions(QStringLiteral("Exporter"), text,
                          {QStringLiteral("Ouvrir le dossier"), QStringLiteral("Lire le montage")});
    if (action != 0 && action != 1)
        return;
    const bool folder = action == 0;
    const QString target = folder ? info.absolutePath() : info.absoluteFilePath();
    const QUrl url = QUrl::fromLocalFile(target);
    if (open ? open(url) : QDesktopServices::openUrl(url))
        return;
    // No file manager or player on this computer: the path, to copy, is all we can give.
    warn(QStringLiteral("Exporter"),
         folder ? QStringLiteral("Le dossier du montage n'a pas pu être ouvert : aucun "
                                 "gestionnaire de fichiers n'est installé ou aucun n'a répondu.\r\n"
                                 "Le montage se trouve dans le dossier :\r\n%1")
                      .arg(QDir::toNativeSeparators(target))
                : QStringLiteral("Le montage n'a pas pu être lu : aucun lecteur vidéo n'est "
                                 "installé ou aucun n'a répondu.\r\nLe fichier du montage "
                                 "est :\r\n%1")
                      .arg(QDir::toNativeSeparators(target)));
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
