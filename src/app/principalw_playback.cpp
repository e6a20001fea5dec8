// The main window's student video and synchronised annotation playback.
#include "app/principalw.h"
#include "common/dialogs.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/opencv_widget.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <opencv2/videoio.hpp>

namespace kel {

namespace {
// Polling intervals of the synchronisation and of the annotation time display: short enough that
// an annotation starts within a fraction of a second, long enough not to spin a core.
constexpr int kSyncIntervalMs = 50;
constexpr int kAnnotationTimeIntervalMs = 50;

// Opens `path` with OpenCV and reads one frame: a file that passes plays as a video.
bool readsAsVideo(cv::VideoCapture& capture) {
    if (!capture.isOpened())
        return false;
    cv::Mat frame;
    const bool ok = capture.read(frame) && !frame.empty();
    capture.set(cv::CAP_PROP_POS_FRAMES, 0);
    return ok;
}

void warn(const QString& text) {
    dialogs().platformBox(QStringLiteral("KEL"), text, Dialogs::Icon::Warning);
}
} // namespace

bool PrincipalW::openVideoFile(bool asAnnotation, bool asStudentVideo) {
    const QString chosen = dialogs().getOpenFileName(this, QStringLiteral("Ouvrir une vidéo"),
                                                     session->dir(), videoFileFilter());
    return !chosen.isEmpty() && loadVideoFile(chosen, asAnnotation, asStudentVideo);
}

bool PrincipalW::loadVideoFile(const QString& chosen, bool asAnnotation, bool asStudentVideo) {
    QFile file(chosen);
    if (!file.open(QIODevice::ReadOnly)) {
        dialogs().information(this, file.errorString());
        return false;
    }
    file.close();

    cv::VideoCapture capture(QFile::encodeName(chosen).toStdString(), cv::CAP_FFMPEG);
    if (!readsAsVideo(capture)) {
        warn(QStringLiteral("Le fichier « %1 » n'est pas une vidéo lisible.\r\n%2")
                 .arg(QDir::toNativeSeparators(chosen),
                      asAnnotation ? QStringLiteral("Il n'a pas été ajouté aux annotations.")
                                   : QStringLiteral("La vidéo précédente reste ouverte.")));
        return false;
    }
    const int fps = int(capture.get(cv::CAP_PROP_FPS));

    if (asAnnotation) {
        const int number = session->isOpen() ? session->numberForCopy() : 0;
        if (!session->isOpen()) {
            warn(QStringLiteral("Aucun projet n'est ouvert : créez ou ouvrez un projet avant "
                                "d'ajouter une annotation."));
            return false;
        }
        const QString copy = session->filePath(number);
        if (number == 0 || !QFile::copy(chosen, copy)) {
            if (number != 0)
                QFile::remove(copy);
            warn(QStringLiteral("Impossible de copier « %1 » dans le projet.\r\nL'annotation n'a "
                                "pas été ajoutée.")
                     .arg(QDir::toNativeSeparators(chosen)));
            return false;
        }
        noteStudentState();
        session->addAnnotation(number, studentWasPaused ? 1 : 0, studentFramePosition());
        playAnnotationFile(number);
    }
    comboAnnotations->setEnabled(true);
    if (asStudentVideo) {
        studentFps = fps;
        studentPlayer->lectureDemarree = false;
        setStudentControlsDisabled(false);
        studentVideoPath = chosen;
        studentPlayer->fichierVideo = studentVideoPath;
        studentPlayer->fps = studentFps;
        studentPlayer->lectureVideo();
        session->rearm();
        session->setStudentVideo(chosen);
    }

    if (!syncTimer->isActive()) {
        connect(syncTimer, &QTimer::timeout, this, &PrincipalW::timerAnnotations,
                Qt::UniqueConnection);
        syncTimer->start(kSyncIntervalMs);
    }
    return true;
}

int PrincipalW::studentFramePosition() const {
    return positionKey(studentPlayer->lecteur->currentTime());
}

void PrincipalW::ouvrirVideoEleve() {
    openVideoFile(false, true);
    if (webcamAvailable)
        bEnregistrerAnnotation->setEnabled(true);
    bOuvrirAnnotation->setEnabled(true);
}

void PrincipalW::ouvrirVideoProf() {
    comboAnnotations->setEnabled(true);
    stopPreview();
    if (!openVideoFile(true, false) && annotationPlayer->isHidden() && m_grabber)
        startPreview();
}

void PrincipalW::lectureVideo() {
    // The teacher has taken the student's video in hand.
    m_resumeStudent = false;
    studentPlayer->fichierVideo = studentVideoPath;
    studentPlayer->lectureVideo();
}

void PrincipalW::timerAnnotations() {
    if (!studentPlayer->lecteur->isPlaying() || !session->isOpen())
        return;
    const int number = session->dueAnnotation(studentPlayer->lecteur->currentTime());
    if (number == 0)
        return;
    session->markPlayed(number);
    const bool pause = session->isPauseType(number);
    if (pause)
        studentPlayer->lecteur->pause();
    playAnnotationFile(number);
    if (pause)
        m_resumeStudent = true;
}

void PrincipalW::playAnnotationFile(int number) {
    const int previous = session->current();
    showAnnotationArea(true);
    session->setCurrent(number);
    if (!annotationTimeTimer->isActive()) {
        connect(annotationTimeTimer, &QTimer::timeout, this, &PrincipalW::updateTimerProf,
                Qt::UniqueConnection);
        annotationTimeTimer->start(kAnnotationTimeIntervalMs);
    }
    annotationPlayer->stop();
    annotationPlayer->load(session->filePath(number));
    annotationPlayer->play();
    durationPending = true;
    // A recording replaced before the end of its first playback is compressed all the same.
    if (previous != number && session->isAwaitingCompression(previous))
        transcodeAnnotation(previous);
}

void PrincipalW::updateTimerProf() {
    annotationTimeLabel->setText(annotationTimeBase.addMSecs(annotationPlayer->currentTime())
                                     .toString(QStringLiteral("hh:mm:ss.zzz")));
    // The duration is known only once the media has loaded; until then it reads 0.
    if (durationPending && annotationPlayer->isPlaying() && annotationPlayer->totalTime() > 0) {
        session->setDuration(session->current(), double(annotationPlayer->totalTime()));
        durationPending = false;
    }
}

void PrincipalW::selectAnnotationCombo() {
    const int number = comboAnnotations->currentData().toInt();
    if (number == 0) {
        annotationPlayer->stop();
        return;
    }
    stopPreview();
    playAnnotationFile(number);
}

void PrincipalW::playAnnotation() {
    if (annotationPlayer->isPaused()) {
        const int p = annotationPlayer->currentTime();
        annotationPlayer->seek(p == annotationPlayer->totalTime() ? 0 : p);
    }
    annotationPlayer->play();
}

void PrincipalW::pauseAnnotation() {
    if (!annotationPlayer->isPlaying())
        return;
    annotationPlayer->seek(annotationPlayer->currentTime());
    annotationPlayer->pause();
}

void PrincipalW::lectureAnnotationTerminee() {
    const int number = session->current();
    closeAnnotation();
    // The student's video is left as the teacher left it: only a pause of ours is undone.
    if (m_resumeStudent) {
        m_resumeStudent = false;
        studentPlayer->lecteur->seek(studentPlayer->lecteur->currentTime());
        studentPlayer->lecteur->play();
    }
    if (session->isAwaitingCompression(number))
        transcodeAnnotation(number);
}

// An annotation that cannot be played would never end: tell the user and restore the window.
void PrincipalW::annotationPlaybackFailed(const QString& message) {
    warn(QStringLiteral("L'annotation « %1 » ne peut pas être lue.\r\n%2")
             .arg(QDir::toNativeSeparators(annotationPlayer->source()), message));
    lectureAnnotationTerminee();
}

} // namespace kel
