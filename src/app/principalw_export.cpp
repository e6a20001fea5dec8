// The main window's export command, its progress, and quitting.
#include "app/principalw.h"
#include "app/recording_controller.h"
#include "common/dialogs.h"
#include "common/timecode.h"
#include "common/video_probe.h"
#include "export/export_controller.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/annotation_transcoder.h"
#include "recording/camera_source.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

namespace kel {

void PrincipalW::exporter() {
    if (m_studentVideoPath.isEmpty()) {
        dialogs().plainBox(QStringLiteral("Veuillez ouvrir la video à annoter."));
        return;
    }
    // Only while a recorded annotation still waits for its transcoding or is being transcoded:
    // its file is about to be replaced.
    const bool transcoding =
        m_session->hasAwaitingCompression() || m_recording->transcoder()->isBusy();
    if (m_session->count() > 0 && transcoding) {
        dialogs().plainBox(QStringLiteral("Traitement annotation(s) en cours. Veuillez relancer "
                                          "l'export dans quelques secondes."));
        return;
    }
    if (m_session->count() == 0) {
        dialogs().plainBox(
            QStringLiteral("Export annulé, aucune annotation n'est présente dans votre projet."));
        return;
    }
    // Two montages would write the same files.
    if (m_exports->isRendering()) {
        dialogs().plainBox(QStringLiteral("Un export est déjà en cours. Veuillez attendre sa fin "
                                          "avant d'en lancer un autre."));
        return;
    }
    bAnnulerExport->hide();
    progressBar->setRange(0, 100);
    progressBar->setValue(1);
    stopPreview();
    m_exports->openSettings(*m_session, m_studentVideoPath);
}

void PrincipalW::annulerExport() {
    if (!m_exports->isRendering())
        return;
    if (!dialogs().platformBox(QStringLiteral("Exporter"),
                               QStringLiteral("Voulez-vous annuler l'export en cours ? Le montage "
                                              "commencé ne sera pas enregistré et le montage "
                                              "précédent sera conservé."),
                               Dialogs::Icon::Question))
        return;
    // The render may have ended while the question was shown.
    if (!m_exports->isRendering())
        return;
    bAnnulerExport->setEnabled(false);
    // Without waiting: the render thread stops ffmpeg and removes its files, then reports.
    m_exports->requestCancel();
}

void PrincipalW::exportEnded(bool succeeded, const QString& path) {
    progressBar->setValue(succeeded ? 100 : 0);
    bAnnulerExport->hide();
    startPreview();
    if (m_quitAfterExport) {
        closeWindow(m_discardAtQuit);
        return;
    }
    if (succeeded)
        showExportResult(path);
}

void PrincipalW::showExportResult(const QString& montagePath) {
    const QFileInfo info(montagePath);
    const QLocale french(QLocale::French);
    const QString text = QStringLiteral("Le montage est prêt :\r\n%1\r\n%2 Mo, durée %3.")
                             .arg(QDir::toNativeSeparators(info.absoluteFilePath()),
                                  french.toString(info.size() / 1e6, 'f', 1),
                                  minutesText(probeVideo(montagePath).durationMs() + 500));
    const int action =
        dialogs().actions(QStringLiteral("Exporter"), text,
                          {QStringLiteral("Ouvrir le dossier"), QStringLiteral("Lire le montage")});
    if (action == 0)
        QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
    else if (action == 1)
        QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

void PrincipalW::quitter() {
    // Asked first: "Annuler" must leave everything as it was, a running export included.
    bool discard = false;
    if (m_session->hasChanges()) {
        const int answer = dialogs().choice(
            QStringLiteral("Voulez-vous enregistrer les modifications du projet ?"),
            {QStringLiteral("Enregistrer"), QStringLiteral("Ne pas enregistrer"),
             QStringLiteral("Annuler")});
        if (answer == 0)
            m_session->markSaved();
        else if (answer == 1)
            discard = true;
        else
            return;
    }
    if (m_exports->isRendering()) {
        const int answer = dialogs().choice(
            QStringLiteral("Un montage est en cours d'exportation. Voulez-vous attendre sa fin "
                           "avant de quitter KEL ?"),
            {QStringLiteral("Quitter à la fin de l'export"),
             QStringLiteral("Arrêter l'export et quitter"), QStringLiteral("Annuler")});
        if (answer == 0) {
            m_quitAfterExport = true;
            m_discardAtQuit = discard;
            bQuitter->setEnabled(false);
            return;
        }
        if (answer != 1)
            return;
    }
    closeWindow(discard);
}

void PrincipalW::closeWindow(bool discard) {
    m_studentPlayer->lecteur->stop();
    annotationPlayer->stop();
    annotationPlayer->load(QString());
    // The files to remove must not be written or held any more.
    stopBackgroundWork();
    if (discard)
        m_session->discardChanges();
    setCamera(nullptr);
    close();
    deleteLater();
}

} // namespace kel
