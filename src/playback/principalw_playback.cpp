// The main window's student video and synchronised annotation playback.
#include "app/globals.h"
#include "app/principalw.h"
#include "common/dialogs.h"
#include "playback/annotation_sync.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_file.h"
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
    chosenVideoPath = dialogs().getOpenFileName(this, QStringLiteral("Ouvrir une vidéo"),
                                                projectDir, videoFileFilter());
    if (chosenVideoPath.isEmpty())
        return false;

    QFile file(chosenVideoPath);
    if (!file.open(QIODevice::ReadOnly)) {
        dialogs().information(this, file.errorString());
        return false;
    }
    file.close();

    auto capture = std::make_unique<cv::VideoCapture>(
        QFile::encodeName(chosenVideoPath).toStdString(), cv::CAP_FFMPEG);
    if (!readsAsVideo(*capture)) {
        warn(QStringLiteral("Le fichier « %1 » n'est pas une vidéo lisible.\r\n%2")
                 .arg(QDir::toNativeSeparators(chosenVideoPath),
                      asAnnotation ? QStringLiteral("Il n'a pas été ajouté aux annotations.")
                                   : QStringLiteral("La vidéo précédente reste ouverte.")));
        return false;
    }
    const int fps = int(capture->get(cv::CAP_PROP_FPS));
    const int frames = int(capture->get(cv::CAP_PROP_FRAME_COUNT));

    QString copy;
    if (asAnnotation) {
        if (projectDir.isEmpty()) {
            warn(QStringLiteral("Aucun projet n'est ouvert : créez ou ouvrez un projet avant "
                                "d'ajouter une annotation."));
            return false;
        }
        copy = QDir(projectDir)
                   .filePath(ProjectFile::annotationFileName(highestAnnotationNumber() + 1));
        if (!QFile::copy(chosenVideoPath, copy)) {
            QFile::remove(copy);
            warn(QStringLiteral("Impossible de copier « %1 » dans le projet.\r\nL'annotation n'a "
                                "pas été ajoutée.")
                     .arg(QDir::toNativeSeparators(chosenVideoPath)));
            return false;
        }
    }

    delete studentCapture;
    studentCapture = capture.release();
    studentFps = fps;
    frameCount = frames;
    comboAnnotations->setEnabled(true);

    if (asAnnotation) {
        annotationCount += 1;
        syncEnabled = true;
        playAnnotationFile(copy);
    }
    if (asStudentVideo) {
        refreshTimelineMarks();
        studentPlayer->lectureDemarree = false;
        setStudentControlsDisabled(false);
        studentVideoPath = chosenVideoPath;
        studentPlayer->fichierVideo = studentVideoPath;
        studentPlayer->fps = studentFps;
        studentPlayer->lectureVideo();
    } else {
        importedAnnotationPath = chosenVideoPath;
    }

    if (!syncTimer->isActive()) {
        connect(syncTimer, &QTimer::timeout, this, &PrincipalW::timerAnnotations,
                Qt::UniqueConnection);
        syncTimer->start(kSyncIntervalMs);
    }
    return true;
}

void PrincipalW::ouvrirVideoEleve() {
    openVideoFile(false, true);
    if (webcamAvailable)
        bEnregistrerAnnotation->setEnabled(true);
    bOuvrirAnnotation->setEnabled(true);
}

void PrincipalW::ouvrirVideoProf() {
    for (QWidget* w : std::initializer_list<QWidget*>{bCouperDebut, bCouperFin,
                                                      bSupprimerAnnotation, comboAnnotations})
        w->setEnabled(true);
    stopPreview();
    if (!openVideoFile(true, false))
        return;
    noteStudentState();
    addAnnotationEntry(currentAnnotationNumber);
}

void PrincipalW::lectureVideo() {
    studentPlayer->fichierVideo = studentVideoPath;
    studentPlayer->lectureVideo();
}

void PrincipalW::timerAnnotations() {
    SyncState state;
    state.studentPlaying = studentPlayer->lecteur->isPlaying();
    state.positionMs = studentPlayer->lecteur->currentTime();
    state.annotationCount = annotationCount;
    state.projectOpen = !projectDir.isEmpty();
    state.syncEnabled = syncEnabled;
    state.played = studentPlayer->nbAnnotationsJouees;
    const QDir dir(projectDir);
    const int i = dueAnnotationPair(annotationSchedule, state, [&dir](int number) {
        return QFileInfo::exists(dir.filePath(ProjectFile::annotationFileName(number)));
    });
    if (i < 0)
        return;
    const int number = annotationSchedule[i];
    if (isPauseType(QString::number(number)))
        studentPlayer->lecteur->pause();
    playAnnotationFile(dir.filePath(ProjectFile::annotationFileName(number)));
    studentPlayer->nbAnnotationsJouees += 1;
    annotationSchedule.remove(i, 2);
}

void PrincipalW::playAnnotationFile(const QString& path) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{bCouperDebut, bCouperFin, bSupprimerAnnotation})
        w->setEnabled(true);
    showAnnotationArea(true);
    registerAnnotation(path);
    currentAnnotationNumber = ProjectFile::annotationNumber(QFileInfo(path).fileName());
    if (!annotationTimeTimer->isActive()) {
        connect(annotationTimeTimer, &QTimer::timeout, this, &PrincipalW::updateTimerProf,
                Qt::UniqueConnection);
        annotationTimeTimer->start(kAnnotationTimeIntervalMs);
    }
    annotationPlayer->stop();
    annotationPlayer->load(path);
    annotationPlayer->play();
    durationPending = true;
}

void PrincipalW::updateTimerProf() {
    annotationTimeLabel->setText(annotationTimeBase.addMSecs(annotationPlayer->currentTime())
                                     .toString(QStringLiteral("hh:mm:ss.zzz")));
    // The duration is known only once the media has loaded; until then it reads 0.
    if (durationPending && annotationPlayer->isPlaying() && annotationPlayer->totalTime() > 0) {
        updateAnnotationEntry(currentAnnotationNumber, double(annotationPlayer->totalTime()), 0, 0);
        durationPending = false;
    }
}

void PrincipalW::selectAnnotationCombo() {
    const QString text = comboAnnotations->currentText();
    if (text == noAnnotationText) {
        annotationPlayer->stop();
        return;
    }
    if (projectDir.isEmpty()) {
        warn(QStringLiteral("Annotation inexistante dans le répertoire de travail"));
        return;
    }
    const QString number = text.mid(comboPrefix.size());
    stopPreview();
    playAnnotationFile(
        QDir(projectDir).filePath(annotationPrefix + number + QStringLiteral(".avi")));
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
    closeAnnotation();
    if (studentPlayer->lectureDemarree) {
        studentPlayer->lecteur->seek(studentPlayer->lecteur->currentTime());
        studentPlayer->lecteur->play();
        studentPlayer->bLecture->setText(QCoreApplication::translate("MainWindow", "||"));
    }
    if (transcodePending) {
        transcodePending = false;
        transcodeFinished = false;
        transcodeAnnotation(recordedFile);
    }
}

// An annotation that cannot be played would never end: tell the user and restore the window.
void PrincipalW::annotationPlaybackFailed(const QString& message) {
    warn(QStringLiteral("L'annotation « %1 » ne peut pas être lue.\r\n%2")
             .arg(QDir::toNativeSeparators(annotationPlayer->source()), message));
    lectureAnnotationTerminee();
}

} // namespace kel
