// The main window's recording, cutting and deletion.
#include "app/principalw.h"
#include "app/project_questions.h"
#include "app/recording_controller.h"
#include "app/window_widgets.h"
#include "common/dialogs.h"
#include "common/resources.h"
#include "common/timecode.h"
#include "playback/comment_player.h"
#include "playback/player_widget.h"
#include "playback/synchronised_playback.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/annotation_transcoder.h"
#include "recording/camera_preview.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimerEvent>

namespace kel {

void PrincipalW::enregistrerAnnotation() {
    leaveFullScreen();
    // The moment the teacher chose: where the student's video is now, and whether it is paused.
    m_beforeRecording = {m_studentWasPaused, m_studentWasPlaying, isPreviewRunning(),
                         ui->comment->player()->isPlaying()};
    noteStudentState();
    const QRect area(mapToGlobal(ui->webcamView->geometry().topLeft()),
                     ui->webcamView->geometry().size());
    // An annotation still playing would end under the recording and restart the preview.
    if (m_beforeRecording.annotationPlaying)
        ui->comment->player()->pause();
    m_preview->stop();
    if (!m_recording->record(m_studentWasPaused ? 1 : 0, studentFramePosition(), area))
        restoreBeforeRecording();
}

void PrincipalW::restoreBeforeRecording() {
    m_studentWasPaused = m_beforeRecording.studentWasPaused;
    m_studentWasPlaying = m_beforeRecording.studentWasPlaying;
    if (m_beforeRecording.previewRunning)
        m_preview->start();
    if (m_beforeRecording.annotationPlaying)
        ui->comment->player()->play();
}

void PrincipalW::recordingEnded(int kept, bool cancelled) {
    ui->bEnregistrerAnnotation->setIcon(QIcon(resourcePath(QStringLiteral("record.png"))));
    m_sync->setHeld(false);
    if (cancelled) {
        restoreBeforeRecording();
        return;
    }
    ui->comment->player()->stop();
    m_preview->start();
    if (kept == 0)
        return;
    // A recording counts as played; its first playback ends by handing it to the encoder.
    m_sync->markPlayed(kept);
    askTitle(this, *m_session, kept);
    playAnnotationFile(kept);
}

bool PrincipalW::cutPosition(const QString& caption, const QString& confirmation, int& position) {
    position = ui->comment->pausedPosition();
    if (position < 0) {
        warn(caption, QStringLiteral("La video doit être en pause"));
        return false;
    }
    dialogs().plainBox(confirmation + clockText(position));
    return true;
}

// The number is taken before the confirmation: an annotation may start under the box.
void PrincipalW::couperDebut() {
    const int number = m_session->current();
    int t = 0;
    if (cutPosition(QStringLiteral("Couper début annotation"),
                    QStringLiteral("L'annotation sera coupée et commencera au temps: \r\n"), t))
        m_session->setCutStart(number, t);
}

void PrincipalW::couperFin() {
    const int number = m_session->current();
    int t = 0;
    if (cutPosition(QStringLiteral("Couper fin annotation"),
                    QStringLiteral("L'annotation sera coupée et se terminera au temps: \r\n"), t))
        m_session->setCutEnd(number, t);
}

void PrincipalW::supprimerAnnotation() {
    const int number = m_session->current();
    if (number == 0)
        return;
    const QString caption = QStringLiteral("Suppression annotation");
    // The student's video waits for the answer, so that no annotation starts under the question.
    VideoPlayer* student = m_studentPlayer->lecteur;
    const bool heldPlaying = student->isPlaying();
    if (heldPlaying)
        student->pause();
    const bool confirmed = dialogs().platformBox(
        caption,
        QStringLiteral("Êtes-vous sûr de vouloir supprimer l'annotation n°%1 ?").arg(number),
        Dialogs::Icon::Question);
    if (confirmed)
        deleteAnnotation(number, caption);
    if (heldPlaying)
        student->play();
}

void PrincipalW::deleteAnnotation(int number, const QString& caption) {
    // Another annotation may have started while the question was open: it stays loaded.
    const bool shown = m_session->current() == number;
    // The player and the encoder let go of the file first: some systems refuse to remove an open
    // file.
    if (shown) {
        ui->comment->unload();
    }
    m_recording->transcoder()->remove(m_session->filePath(number));
    QString error;
    if (!m_session->removeAnnotation(number, &error)) {
        warn(caption, QStringLiteral("Le fichier de l'annotation n'a pas pu être supprimé :\r\n"
                                     "%1\r\n%2\r\nL'annotation est conservée.")
                          .arg(QDir::toNativeSeparators(m_session->filePath(number)), error));
        if (shown)
            ui->comment->player()->load(m_session->filePath(number));
        return;
    }
    if (shown)
        closeAnnotation();
}

} // namespace kel
