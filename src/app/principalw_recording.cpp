// The main window's webcam preview, recording, transcoding, cutting and deletion.
#include "app/principalw.h"
#include "common/dialogs.h"
#include "common/resources.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/annotation.h"
#include "project/project_session.h"
#include "recording/annotation_recorder.h"
#include "recording/annotation_transcoder.h"
#include "recording/camera_grabber.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"
#include "recording/recording_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QTimerEvent>

namespace kel {

namespace {

const QString kCaptionAnnotation = QStringLiteral("Annotation");
// The countdown before a recording: 3, 2, 1.
constexpr int kCountdownFrom = 3;

void warn(const QString& caption, const QString& text) {
    dialogs().platformBox(caption, text, Dialogs::Icon::Warning);
}

// What the teacher is told when a recording could not be made, or ended early.
QString recordingFailureText(AnnotationRecorder::Status status, bool kept, const QString& path) {
    const QString keptText = QStringLiteral("\r\nLa partie déjà enregistrée est conservée.");
    const QString lostText = QStringLiteral("\r\nAucune annotation n'a été enregistrée.");
    switch (status) {
    case AnnotationRecorder::Status::NoFrame:
        return QStringLiteral(
            "La webcam ne fournit aucune image : l'enregistrement est impossible.");
    case AnnotationRecorder::Status::OpenFailed:
        return QStringLiteral("Le fichier de l'annotation ne peut pas être créé :\r\n%1\r\n"
                              "Vérifiez que le répertoire du projet existe, qu'il est accessible "
                              "en écriture et que le disque n'est pas plein.")
            .arg(QDir::toNativeSeparators(path));
    case AnnotationRecorder::Status::CameraLost:
        return QStringLiteral("La webcam a cessé de fournir des images : l'enregistrement a été "
                              "arrêté.") +
               (kept ? keptText : lostText);
    case AnnotationRecorder::Status::WriteFailed:
        return QStringLiteral("L'écriture de l'annotation a échoué (disque plein ou "
                              "inaccessible) : l'enregistrement a été arrêté.") +
               (kept ? keptText : lostText);
    default:
        return QStringLiteral("L'annotation enregistrée est illisible : elle n'a pas été "
                              "conservée.");
    }
}

// The window's own timers would read the camera, start annotations and write durations under
// the recording: they are held while it runs.
class HeldTimers {
public:
    explicit HeldTimers(std::initializer_list<QTimer*> timers) {
        for (QTimer* t : timers)
            if (t->isActive()) {
                t->stop();
                m_held << t;
            }
    }
    ~HeldTimers() {
        for (QTimer* t : m_held)
            t->start();
    }

private:
    QList<QTimer*> m_held;
};

} // namespace

void PrincipalW::startPreview() {
    if (webcamTimerId)
        killTimer(webcamTimerId);
    webcamTimerId = startTimer(40);
}

void PrincipalW::stopPreview() {
    if (webcamTimerId)
        killTimer(webcamTimerId);
    webcamTimerId = 0;
}

void PrincipalW::timerEvent(QTimerEvent* event) {
    if (event->timerId() != webcamTimerId) {
        QMainWindow::timerEvent(event);
        return;
    }
    if (m_grabber) {
        // The camera is read on its own thread: the tick only takes its latest picture.
        webcamAvailable = true;
        const CameraFrame frame = m_grabber->latestFrame();
        if (frame.index != m_shownFrame) {
            m_shownFrame = frame.index;
            // showFrame mirrors in place, and the grabber's picture is shared.
            cv::Mat picture = frame.image.clone();
            webcamView->showFrame(picture);
        }
    } else if (warnNoWebcam) {
        webcamAvailable = false;
        webcamView->hide();
        stopPreview();
        dialogs().platformBox(QStringLiteral("KEL"), cameraOpenFailureText(m_cameraName),
                              Dialogs::Icon::Warning);
        warnNoWebcam = false;
    }
}

void PrincipalW::enregistrerAnnotation() {
    if (!m_grabber) {
        warn(QStringLiteral("KEL"), cameraOpenFailureText(m_cameraName));
        return;
    }
    if (!session->isOpen()) {
        warn(kCaptionAnnotation, QStringLiteral("Créez ou ouvrez un projet avant d'enregistrer "
                                                "une annotation."));
        return;
    }

    Annotation record;
    if (record.kind != "VID")
        return;
    // The moment the teacher chose: where the student's video is now, and whether it is paused.
    const bool wasPaused = studentWasPaused;
    const bool wasPlaying = studentWasPlaying;
    noteStudentState();
    const int type = studentWasPaused ? 1 : 0;
    const int framePosition = studentFramePosition();
    const bool previewWasRunning = webcamTimerId != 0;
    const bool annotationWasPlaying = annotationPlayer->isPlaying();

    const int number = session->numberForRecording();
    const QString path = session->filePath(number);
    if (number == 0) {
        warn(kCaptionAnnotation,
             recordingFailureText(AnnotationRecorder::Status::OpenFailed, false, path));
        return;
    }

    // An annotation still playing would end under the recording and restart the preview.
    if (annotationWasPlaying)
        annotationPlayer->pause();
    stopPreview();
    AnnotationRecorder recorder(m_grabber, std::make_unique<AviFrameSink>());
    {
        HeldTimers held{syncTimer, annotationTimeTimer, progressTimer};
        if (!recorder.open(path)) {
            annotationPlayer->stop();
            startPreview();
            warn(kCaptionAnnotation, recordingFailureText(recorder.status(), false, path));
            return;
        }
        // Entered before it starts: a recording cut short by a crash is found at the next opening.
        session->addAnnotation(number, type, framePosition);
        bEnregistrerAnnotation->setIcon(QIcon(resourcePath(QStringLiteral("stoprecord.png"))));
        dialogs().platformBox(kCaptionAnnotation,
                              QStringLiteral("Appuyez sur la touche ESPACE pour arrêter "
                                             "l'enregistrement"),
                              Dialogs::Icon::Information);

        // The teacher gets ready during the countdown, over the live picture; the clock, and
        // the file, start only at its end. The window covers the preview, not the student.
        RecordingWindow window;
        window.setWindowModality(Qt::ApplicationModal);
        window.placeOver(
            QRect(mapToGlobal(webcamView->geometry().topLeft()), webcamView->geometry().size()));
        window.showFrame(recorder.latestFrame());
        connect(&recorder, &AnnotationRecorder::frameCaptured, &window,
                &RecordingWindow::showFrame);
        connect(&window, &RecordingWindow::countdownFinished, &recorder,
                [&recorder] { recorder.start(); });
        connect(&window, &RecordingWindow::cancelRequested, &recorder, &AnnotationRecorder::cancel);
        connect(&window, &RecordingWindow::stopRequested, &recorder, &AnnotationRecorder::stop);
        QEventLoop loop;
        connect(&recorder, &AnnotationRecorder::finished, &loop, &QEventLoop::quit);
        window.show();
        window.raise();
        window.activateWindow();
        recorder.preview();
        window.startCountdown(kCountdownFrom, m_countdownStepMs);
        // A countdown of no length, or a failure at once, may already have ended it.
        const auto state = recorder.status();
        if (state == AnnotationRecorder::Status::Ready ||
            state == AnnotationRecorder::Status::Recording)
            loop.exec();
        window.hide();

        bEnregistrerAnnotation->setIcon(QIcon(resourcePath(QStringLiteral("record.png"))));
        if (recorder.status() == AnnotationRecorder::Status::Cancelled) {
            session->cancelAnnotation(number);
            studentWasPaused = wasPaused;
            studentWasPlaying = wasPlaying;
            if (previewWasRunning)
                startPreview();
            if (annotationWasPlaying)
                annotationPlayer->play();
            return;
        }
        annotationPlayer->stop();
        startPreview();
    }

    const AnnotationRecorder::Status status = recorder.status();
    const bool kept = recorder.framesWritten() > 0 && AnnotationRecorder::isPlayable(path);
    if (!kept) {
        session->cancelAnnotation(number);
        warn(kCaptionAnnotation, recordingFailureText(status, false, path));
        return;
    }
    if (status != AnnotationRecorder::Status::Stopped)
        warn(kCaptionAnnotation, recordingFailureText(status, true, path));

    session->refresh();
    // A recording counts as played; its first playback ends by handing it to the encoder.
    session->markPlayed(number);
    session->setAwaitingCompression(number, true);
    playAnnotationFile(number);
}

bool PrincipalW::isTranscoding() const {
    return m_transcoder->isBusy();
}

void PrincipalW::compressRawAnnotations() {
    if (!session->isOpen())
        return;
    AnnotationTranscoder::removeLeftovers(session->dir());
    for (const SessionAnnotation& a : session->annotations())
        if (AnnotationTranscoder::isRawRecording(a.filePath))
            m_transcoder->enqueue(a.filePath, a.number);
}

void PrincipalW::transcodeAnnotation(int number) {
    session->setAwaitingCompression(number, false);
    const QString source = session->filePath(number);
    if (!QFileInfo::exists(source)) // deleted before its playback ended: nothing to compress
        return;
    if (m_transcoder->enqueue(source, number))
        return;
    if (m_transcoder->outcome() == AnnotationTranscoder::Outcome::EncoderMissing)
        warn(QStringLiteral("KEL"),
             QStringLiteral("ffmpeg est introuvable : l'annotation reste non compressée.\r\n"
                            "Installez ffmpeg pour que les annotations soient compressées."));
    else
        warn(QStringLiteral("KEL"),
             m_transcoder->errorText() + QStringLiteral("\r\nL'annotation reste non compressée."));
}

void PrincipalW::isCompressionAnnotationTerminee() {
    if (m_transcoder->outcome() != AnnotationTranscoder::Outcome::Failed)
        return;
    warn(QStringLiteral("KEL"),
         QStringLiteral("La compression de l'annotation n°%1 a échoué : %2\r\n"
                        "L'annotation reste non compressée.")
             .arg(m_transcoder->number())
             .arg(m_transcoder->errorText()));
}

void PrincipalW::stopTranscodingAtQuit() {
    stopPreview();
    if (m_transcoder)
        m_transcoder->stop(1000);
}

namespace {

// Both cuts: the same checks and confirmation, one value stored.
bool cutPosition(VideoPlayer* player, QLabel* timeLabel, const QTime& timeBase,
                 const QString& caption, const QString& confirmation, int& position) {
    if (!player->isPaused()) {
        warn(caption, QStringLiteral("La video doit être en pause"));
        return false;
    }
    position = player->currentTime();
    // The label may lag behind the player by one refresh; it must show what is stored.
    timeLabel->setText(timeBase.addMSecs(position).toString(QStringLiteral("hh:mm:ss.zzz")));
    dialogs().plainBox(confirmation + timeLabel->text());
    return true;
}

} // namespace

// The number is taken before the confirmation: an annotation may start under the box.
void PrincipalW::couperDebut() {
    const int number = session->current();
    int t = 0;
    if (cutPosition(annotationPlayer, annotationTimeLabel, annotationTimeBase,
                    QStringLiteral("Couper début annotation"),
                    QStringLiteral("L'annotation sera coupée et commencera au temps: \r\n"), t))
        session->setCutStart(number, t);
}

void PrincipalW::couperFin() {
    const int number = session->current();
    int t = 0;
    if (cutPosition(annotationPlayer, annotationTimeLabel, annotationTimeBase,
                    QStringLiteral("Couper fin annotation"),
                    QStringLiteral("L'annotation sera coupée et se terminera au temps: \r\n"), t))
        session->setCutEnd(number, t);
}

void PrincipalW::supprimerAnnotation() {
    const int number = session->current();
    if (number == 0)
        return;
    const QString caption = QStringLiteral("Suppression annotation");
    // The student's video waits for the answer, so that no annotation starts under the question.
    VideoPlayer* student = studentPlayer->lecteur;
    const bool heldPlaying = student->isPlaying();
    if (heldPlaying)
        student->pause();
    const bool confirmed = dialogs().platformBox(
        caption,
        QStringLiteral("Etes-vous sûr de vouloir supprimer l'annotation n°%1 ?").arg(number),
        Dialogs::Icon::Question);
    if (confirmed)
        deleteAnnotation(number, caption);
    if (heldPlaying)
        student->play();
}

void PrincipalW::deleteAnnotation(int number, const QString& caption) {
    // Another annotation may have started while the question was open: it stays loaded.
    const bool shown = session->current() == number;
    // The player and the encoder let go of the file first: some systems refuse to remove an open
    // file.
    if (shown) {
        annotationPlayer->stop();
        annotationPlayer->load(QString());
    }
    m_transcoder->remove(session->filePath(number));
    QString error;
    if (!session->removeAnnotation(number, &error)) {
        warn(caption, QStringLiteral("Le fichier de l'annotation n'a pas pu être supprimé :\r\n"
                                     "%1\r\n%2\r\nL'annotation est conservée.")
                          .arg(QDir::toNativeSeparators(session->filePath(number)), error));
        if (shown)
            annotationPlayer->load(session->filePath(number));
        return;
    }
    if (shown)
        closeAnnotation();
}

} // namespace kel
