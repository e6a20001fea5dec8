// The main window's export command, its progress, and quitting.
#include "app/principalw.h"
#include "app/project_questions.h"
#include "app/recording_controller.h"
#include "app/window_widgets.h"
#include "common/dialogs.h"
#include "common/timecode.h"
#include "common/video_probe.h"
#include "export/export_controller.h"
#include "playback/comment_player.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/annotation_transcoder.h"
#include "recording/camera_preview.h"
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
    const QString refusal = m_exports->refusal(*m_session, m_studentPlayer->fichierVideo,
                                               m_recording->transcoder()->isBusy());
    if (!refusal.isEmpty()) {
        dialogs().plainBox(refusal);
        return;
    }
    ui->bAnnulerExport->hide();
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(1);
    m_exports->openSettings(*m_session, m_studentPlayer->fichierVideo);
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
    ui->bAnnulerExport->setEnabled(false);
    // Without waiting: the render thread stops ffmpeg and removes its files, then reports.
    m_exports->requestCancel();
}

void PrincipalW::exportEnded(bool succeeded, const QString& path) {
    ui->progressBar->setValue(succeeded ? 100 : 0);
    ui->bAnnulerExport->hide();
    m_preview->start();
    if (m_quitAfterExport) {
        closeWindow(m_discardAtQuit);
        return;
    }
    if (succeeded)
        ExportController::showResult(path);
}

void PrincipalW::quitter() {
    // Asked first: "Annuler" must leave everything as it was, a running export included.
    bool discard = false;
    if (m_session->hasChanges()) {
        const int answer = dialogs().choice(
            QStringLiteral("Voulez-vous enregistrer les modifications du projet ?\r\n\r\n") +
                discardWarning(m_session->changes()),
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
            ui->bQuitter->setEnabled(false);
            return;
        }
        if (answer != 1)
            return;
    }
    closeWindow(discard);
}

void PrincipalW::closeWindow(bool discard) {
    m_studentPlayer->lecteur->stop();
    ui->comment->unload();
    // The files to remove must not be written or held any more.
    stopBackgroundWork();
    if (discard)
        m_session->discardChanges();
    setCamera(nullptr);
    close();
    deleteLater();
}

} // namespace kel
