// The main window's student video and comment playback.
#include "app/principalw.h"
#include "app/project_questions.h"
#include "app/recording_controller.h"
#include "app/window_widgets.h"
#include "common/dialogs.h"
#include "common/video_probe.h"
#include "playback/comment_player.h"
#include "playback/player_widget.h"
#include "playback/synchronised_playback.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/camera_preview.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>

namespace kel {

bool PrincipalW::openVideoFile(bool asAnnotation) {
    const QString chosen = dialogs().getOpenFileName(this, QStringLiteral("Ouvrir une vidéo"),
                                                     m_session->dir(), videoFileFilter());
    return !chosen.isEmpty() && loadVideoFile(chosen, asAnnotation);
}

bool PrincipalW::loadVideoFile(const QString& chosen, bool asAnnotation) {
    QFile file(chosen);
    if (!file.open(QIODevice::ReadOnly)) {
        dialogs().information(this, file.errorString());
        return false;
    }
    file.close();
    const VideoProbe probe = probeVideo(chosen);
    if (!probe.readable) {
        warn(QStringLiteral("Le fichier « %1 » n'est pas une vidéo lisible.\r\n%2")
                 .arg(QDir::toNativeSeparators(chosen),
                      asAnnotation ? QStringLiteral("Il n'a pas été ajouté aux annotations.")
                                   : QStringLiteral("La vidéo précédente reste ouverte.")));
        return false;
    }
    ui->comboAnnotations->setEnabled(true);
    if (asAnnotation)
        return addAnnotationCopy(chosen);
    if (!acceptOtherStudentVideo(chosen))
        return false;
    // The same video again keeps what has played: only "|<" makes the comments due again.
    if (QFileInfo(chosen) != QFileInfo(m_studentPlayer->fichierVideo))
        m_sync->rearm();
    m_studentPlayer->lectureDemarree = false;
    setStudentControlsDisabled(false);
    m_studentPlayer->fichierVideo = chosen;
    m_studentPlayer->fps = int(probe.fps);
    m_studentPlayer->lectureVideo();
    m_session->setStudentVideo(chosen);
    return true;
}

bool PrincipalW::acceptOtherStudentVideo(const QString& chosen) {
    const QString previous = m_session->studentVideo();
    if (m_session->count() == 0 || previous.isEmpty() || QFileInfo(previous) == QFileInfo(chosen))
        return true;
    const OtherVideo answer = askAboutOtherVideo(previous, chosen);
    if (answer == OtherVideo::NewProject)
        on_bNouveau_clicked();
    // A new project holds no annotation yet: the video goes into it.
    return answer == OtherVideo::Keep ||
           (answer == OtherVideo::NewProject && m_session->count() == 0);
}

bool PrincipalW::addAnnotationCopy(const QString& chosen) {
    if (!m_session->isOpen()) {
        warn(QStringLiteral("Aucun projet n'est ouvert : créez ou ouvrez un projet avant "
                            "d'ajouter une annotation."));
        return false;
    }
    noteStudentState();
    const int number =
        m_session->addCopy(chosen, m_studentWasPaused ? 1 : 0, studentFramePosition());
    if (number == 0) {
        warn(QStringLiteral("Impossible de copier « %1 » dans le projet.\r\nL'annotation n'a "
                            "pas été ajoutée.")
                 .arg(QDir::toNativeSeparators(chosen)));
        return false;
    }
    playAnnotationFile(number);
    return true;
}

int PrincipalW::studentFramePosition() const {
    return positionKey(m_studentPlayer->lecteur->currentTime());
}

void PrincipalW::enableVideoCommands() {
    if (m_preview->grabber())
        ui->bEnregistrerAnnotation->setEnabled(true);
    ui->bOuvrirAnnotation->setEnabled(true);
}

void PrincipalW::ouvrirVideoEleve() {
    openVideoFile(false);
    enableVideoCommands();
}

void PrincipalW::ouvrirVideoProf() {
    ui->comboAnnotations->setEnabled(true);
    m_preview->stop();
    if (!openVideoFile(true) && !ui->comment->isShown() && m_preview->grabber())
        m_preview->start();
}

// The player toggles on the same click; the rule learns the teacher took the video.
void PrincipalW::lectureVideo() {
    m_sync->teacherTookStudent();
}

void PrincipalW::playAnnotationFile(int number) {
    const int previous = m_session->current();
    showAnnotationArea(true);
    m_session->setCurrent(number);
    ui->comment->play(m_session->filePath(number));
    // A recording replaced before the end of its first playback is compressed all the same.
    if (previous != number && m_session->isAwaitingCompression(previous))
        m_recording->compress(previous);
}

void PrincipalW::selectAnnotationCombo() {
    const int number = ui->comboAnnotations->currentData().toInt();
    if (number == 0) {
        m_sync->dropWaiting();
        ui->comment->player()->stop();
        return;
    }
    m_preview->stop();
    playAnnotationFile(number);
}

void PrincipalW::lectureAnnotationTerminee() {
    const int number = m_session->current();
    // The next comment of the same second follows without the preview in between.
    if (m_sync->waiting().isEmpty())
        closeAnnotation();
    // The student's video is left as the teacher left it: only a pause of ours is undone.
    m_sync->commentEnded();
    if (m_session->isAwaitingCompression(number))
        m_recording->compress(number);
}

// An annotation that cannot be played would never end: tell the user and restore the window.
void PrincipalW::annotationPlaybackFailed(const QString& message) {
    warn(QStringLiteral("L'annotation « %1 » ne peut pas être lue.\r\n%2")
             .arg(QDir::toNativeSeparators(ui->comment->player()->source()), message));
    lectureAnnotationTerminee();
}

} // namespace kel
