// The main window's webcam preview, recording, transcoding, cutting and deletion.
#include "app/globals.h"
#include "app/principalw.h"
#include "common/dialogs.h"
#include "common/resources.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/annotation.h"
#include "project/project_file.h"
#include "recording/annotation_recorder.h"
#include "recording/annotation_transcoder.h"
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
    if (webcamCapture) {
        webcamAvailable = true;
        cv::Mat frame;
        if (webcamCapture->read(frame))
            webcamView->showFrame(frame);
    } else if (warnNoWebcam) {
        webcamAvailable = false;
        webcamView->hide();
        stopPreview();
        dialogs().platformBox(QStringLiteral("KEL"),
                              QStringLiteral("Aucune webcam n'a été détectée !"),
                              Dialogs::Icon::Warning);
        warnNoWebcam = false;
    }
}

void PrincipalW::enregistrerAnnotation() {
    // One compression at a time: a new recording would be handed to the encoder while it runs.
    if ((m_transcoder && m_transcoder->isRunning()) ||
        encoderProcess->state() != QProcess::NotRunning) {
        dialogs().plainBox(QStringLiteral("Merci de patienter quelques secondes pendant le "
                                          "traitement de l'annotation précédente."));
        return;
    }
    if (!webcamCapture) {
        warn(QStringLiteral("KEL"), QStringLiteral("Aucune webcam n'a été détectée !"));
        return;
    }
    if (projectDir.isEmpty()) {
        warn(kCaptionAnnotation, QStringLiteral("Créez ou ouvrez un projet avant d'enregistrer "
                                                "une annotation."));
        return;
    }

    Annotation record;
    if (record.kind != "VID")
        return;
    // What a recording cancelled during its countdown must leave as it found.
    const bool wasSyncEnabled = syncEnabled;
    const bool wasPaused = studentWasPaused;
    const bool wasPlaying = studentWasPlaying;
    const bool previewWasRunning = webcamTimerId != 0;
    const bool annotationWasPlaying = annotationPlayer->isPlaying();
    noteStudentState();

    // The count is raised only once the recording exists; its next value names the file.
    const QString extension = QString::fromLatin1(record.extension);
    int number = annotationCount + 1;
    QString path =
        QDir(projectDir).filePath(annotationPrefix + QString::number(number) + extension);
    if (QFileInfo::exists(path)) {
        number = highestAnnotationNumber() + 1;
        path = QDir(projectDir).filePath(annotationPrefix + QString::number(number) + extension);
    }

    // The recorder alone reads the camera until the recording ends; an annotation still playing
    // would end under it and restart the preview.
    if (annotationWasPlaying)
        annotationPlayer->pause();
    stopPreview();
    auto sinkOwner = std::make_unique<AviFrameSink>();
    AviFrameSink* sink = sinkOwner.get();
    AnnotationRecorder recorder(webcamCapture, std::move(sinkOwner));
    {
        HeldTimers held{syncTimer, annotationTimeTimer, progressTimer};
        if (!recorder.open(path)) {
            annotationPlayer->stop();
            startPreview();
            warn(kCaptionAnnotation, recordingFailureText(recorder.status(), false, path));
            return;
        }
        annotationWriter = sink->writer();
        syncEnabled = true;
        bEnregistrerAnnotation->setIcon(QIcon(resourcePath(QStringLiteral("stoprecord.png"))));
        dialogs().platformBox(kCaptionAnnotation,
                              QStringLiteral("Appuyez sur la touche ESPACE pour arrêter "
                                             "l'enregistrement"),
                              Dialogs::Icon::Information);

        // The teacher gets ready during the countdown, over the live picture; the clock, and
        // the file, start only at its end.
        RecordingWindow window;
        window.setWindowModality(Qt::ApplicationModal);
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

        annotationWriter = nullptr;
        bEnregistrerAnnotation->setIcon(QIcon(resourcePath(QStringLiteral("record.png"))));
        if (recorder.status() == AnnotationRecorder::Status::Cancelled) {
            syncEnabled = wasSyncEnabled;
            studentWasPaused = wasPaused;
            studentWasPlaying = wasPlaying;
            if (previewWasRunning)
                startPreview();
            if (annotationWasPlaying)
                annotationPlayer->play();
            return;
        }
        annotationPlayer->stop();
        for (QPushButton* b : {bCouperDebut, bCouperFin, bSupprimerAnnotation})
            b->setEnabled(true);
        startPreview();
    }

    const AnnotationRecorder::Status status = recorder.status();
    const bool kept = recorder.framesWritten() > 0 && AnnotationRecorder::isPlayable(path);
    if (!kept) {
        QFile::remove(path);
        warn(kCaptionAnnotation, recordingFailureText(status, false, path));
        return;
    }
    if (status != AnnotationRecorder::Status::Stopped)
        warn(kCaptionAnnotation, recordingFailureText(status, true, path));

    annotationCount += 1;
    annotationRecorded = true;
    addAnnotationEntry(number);
    currentAnnotationNumber = 0;
    // Set before the playback starts: its end hands the file to the encoder.
    transcodePending = true;
    transcodeFinished = false;
    recordedFile = path;
    playAnnotationFile(path);
    studentPlayer->nbAnnotationsJouees += 1;
}

void PrincipalW::transcodeAnnotation(const QString& source) {
    if (!QFileInfo::exists(source)) { // deleted before its playback ended: nothing to compress
        transcodeFinished = !(m_transcoder && m_transcoder->isRunning());
        return;
    }
    if (!m_transcoder) {
        m_transcoder = new AnnotationTranscoder(encoderProcess, this);
        disconnect(encoderProcess, &QProcess::finished, this,
                   &PrincipalW::isCompressionAnnotationTerminee);
        connect(m_transcoder, &AnnotationTranscoder::finished, this,
                &PrincipalW::isCompressionAnnotationTerminee);
        // Escape and the frame's close button end the application without destroying this
        // window: ffmpeg would go on writing after the end.
        connect(qApp, &QCoreApplication::aboutToQuit, this, &PrincipalW::stopTranscodingAtQuit);
    }
    if (m_transcoder->isRunning()) { // one at a time: this annotation stays uncompressed
        transcodeFinished = false;
        return;
    }
    int number = ProjectFile::annotationNumber(QFileInfo(source).fileName());
    if (number <= 0)
        number = currentAnnotationNumber;
    // Beside the recording, in its own project even if another one was opened since.
    const QString dir = QFileInfo(source).absolutePath();

    transcodeFinished = false;
    if (m_transcoder->start(source, dir, number))
        return;
    transcodeFinished = true;
    if (m_transcoder->outcome() == AnnotationTranscoder::Outcome::EncoderMissing)
        warn(QStringLiteral("KEL"),
             QStringLiteral("ffmpeg est introuvable : l'annotation reste non compressée.\r\n"
                            "Installez ffmpeg pour que les annotations soient compressées."));
    else
        warn(QStringLiteral("KEL"),
             m_transcoder->errorText() + QStringLiteral("\r\nL'annotation reste non compressée."));
}

void PrincipalW::isCompressionAnnotationTerminee() {
    transcodeFinished = true;
    if (!m_transcoder || m_transcoder->outcome() != AnnotationTranscoder::Outcome::Failed)
        return;
    warn(QStringLiteral("KEL"),
         QStringLiteral("La compression de l'annotation n°%1 a échoué : %2\r\n"
                        "L'annotation reste non compressée.")
             .arg(m_transcoder->number())
             .arg(m_transcoder->errorText()));
}

void PrincipalW::stopTranscodingAtQuit() {
    // The camera is released next: a preview tick after that would report it missing.
    stopPreview();
    if (!m_transcoder)
        return;
    disconnect(m_transcoder, nullptr, this, nullptr);
    m_transcoder->stop(1000);
    delete m_transcoder;
    m_transcoder = nullptr;
    transcodeFinished = true;
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

void PrincipalW::couperDebut() {
    int t = 0;
    if (cutPosition(annotationPlayer, annotationTimeLabel, annotationTimeBase,
                    QStringLiteral("Couper début annotation"),
                    QStringLiteral("L'annotation sera coupée et commencera au temps: \r\n"), t))
        updateAnnotationEntry(currentAnnotationNumber, 0, t, 0);
}

void PrincipalW::couperFin() {
    int t = 0;
    if (cutPosition(annotationPlayer, annotationTimeLabel, annotationTimeBase,
                    QStringLiteral("Couper fin annotation"),
                    QStringLiteral("L'annotation sera coupée et se terminera au temps: \r\n"), t))
        updateAnnotationEntry(currentAnnotationNumber, 0, 0, t);
}

void PrincipalW::supprimerAnnotation() {
    if (comboAnnotations->currentText() == noAnnotationText)
        return;
    const QString caption = QStringLiteral("Suppression annotation");
    const bool confirmed = dialogs().platformBox(
        caption, QStringLiteral("Etes-vous sûr de vouloir supprimer cette annotation ?"),
        Dialogs::Icon::Question);
    if (confirmed && currentAnnotationFile) {
        const QString path = currentAnnotationFile->fileName();
        QString numberText = QFileInfo(path).fileName();
        numberText = numberText.left(numberText.size() - 4).mid(annotationPrefix.size());
        const int index = comboAnnotations->findText(comboPrefix + numberText,
                                                     Qt::MatchExactly | Qt::MatchCaseSensitive);
        // The player lets go of the file first: some systems refuse to remove an open file.
        annotationPlayer->stop();
        const bool existed = QFileInfo::exists(path);
        if (existed && !QFile::remove(path)) {
            warn(caption, QStringLiteral("Le fichier de l'annotation n'a pas pu être supprimé :\r\n"
                                         "%1\r\nL'annotation est conservée.")
                              .arg(QDir::toNativeSeparators(path)));
        } else if (existed || index >= 0) {
            // A file already gone still leaves its entry to clear; one deleted twice is
            // counted once.
            annotationCount = qMax(0, annotationCount - 1);
            if (index >= 0)
                comboAnnotations->removeItem(index);
        } else {
            warn(caption, QStringLiteral("Cette annotation a déjà été supprimée."));
        }
    }
    if (comboAnnotations->count() <= 1) {
        if (comboAnnotations->findText(noAnnotationText, Qt::MatchExactly) < 0)
            comboAnnotations->insertItem(0, noAnnotationText);
        showAnnotationArea(false);
    }
}

} // namespace kel
