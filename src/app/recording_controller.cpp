#include "recording_controller.h"

#include "common/dialogs.h"
#include "project/project_session.h"
#include "recording/annotation_recorder.h"
#include "recording/annotation_transcoder.h"
#include "recording/camera_grabber.h"
#include "recording/camera_source.h"
#include "recording/recording_window.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace kel {

namespace {

const QString kCaption = QStringLiteral("Annotation");
// The countdown before a recording: 3, 2, 1.
constexpr int kCountdownFrom = 3;

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

} // namespace

namespace {
const QString kMirrorKey = QStringLiteral("enregistrement/miroir");
} // namespace

RecordingController::RecordingController(ProjectSession* session, QObject* parent)
    : QObject(parent), m_session(session), m_transcoder(new AnnotationTranscoder(nullptr, this)) {
    m_mirrored =
        QSettings(QStringLiteral("KEL"), QStringLiteral("KEL")).value(kMirrorKey, false).toBool();
    connect(m_transcoder, &AnnotationTranscoder::finished, this,
            [this](AnnotationTranscoder::Outcome outcome, const QString&, int number) {
                if (outcome != AnnotationTranscoder::Outcome::Failed)
                    return;
                const QString text = QStringLiteral("La compression de l'annotation n°%1 a échoué "
                                                    ": %2\r\nL'annotation reste non compressée.")
                                         .arg(number)
                                         .arg(m_transcoder->errorText());
                // Told from the event loop: a box opened inside the queue's handler would let the
                // queue start and delete jobs under the one still finishing.
                QMetaObject::invokeMethod(
                    this, [this, text] { emit warning(QStringLiteral("KEL"), text); },
                    Qt::QueuedConnection);
            });
}

void RecordingController::setMirrored(bool mirrored) {
    m_mirrored = mirrored;
    QSettings(QStringLiteral("KEL"), QStringLiteral("KEL")).setValue(kMirrorKey, mirrored);
}

RecordingController::~RecordingController() {
    delete m_window;
}

RecordingWindow* RecordingController::window() const {
    return m_window;
}

void RecordingController::setCamera(CameraGrabber* grabber, const QString& name) {
    m_grabber = grabber;
    m_cameraName = name;
}

bool RecordingController::record(int type, int framePosition, const QRect& area) {
    if (isRecording())
        return false;
    if (!m_grabber) {
        emit warning(QStringLiteral("KEL"), cameraOpenFailureText(m_cameraName));
        return false;
    }
    if (m_grabber->isLost()) {
        emit warning(kCaption, QStringLiteral("La webcam ne fournit plus d'images : "
                                              "l'enregistrement est impossible. Vérifiez qu'elle "
                                              "est branchée."));
        return false;
    }
    if (!m_session->isOpen()) {
        emit warning(kCaption, QStringLiteral("Créez ou ouvrez un projet avant d'enregistrer "
                                              "une annotation."));
        return false;
    }
    m_number = m_session->numberForRecording();
    const QString path = m_session->filePath(m_number);
    if (m_number == 0) {
        emit warning(kCaption,
                     recordingFailureText(AnnotationRecorder::Status::OpenFailed, false, path));
        return false;
    }
    m_recorder = new AnnotationRecorder(m_grabber, std::make_unique<AviFrameSink>(), this);
    m_recorder->setMirrored(m_mirrored);
    if (!m_recorder->open(path)) {
        const auto status = m_recorder->status();
        delete std::exchange(m_recorder, nullptr);
        emit warning(kCaption, recordingFailureText(status, false, path));
        return false;
    }
    // Entered before it starts: a recording cut short by a crash is found at the next opening.
    m_session->addAnnotation(m_number, type, framePosition);
    emit started(m_number);
    dialogs().platformBox(kCaption,
                          QStringLiteral("Appuyez sur la touche ESPACE pour arrêter "
                                         "l'enregistrement"),
                          Dialogs::Icon::Information);

    // The teacher gets ready during the countdown, over the live picture; the clock, and the
    // file, start only at its end. The window covers the preview, not the student.
    m_window = new RecordingWindow;
    m_window->setWindowModality(Qt::ApplicationModal);
    m_window->placeOver(area);
    m_window->showFrame(m_recorder->latestFrame());
    AnnotationRecorder* recorder = m_recorder;
    connect(recorder, &AnnotationRecorder::frameCaptured, m_window, &RecordingWindow::showFrame);
    connect(m_window, &RecordingWindow::countdownFinished, recorder,
            [recorder] { recorder->start(); });
    connect(m_window, &RecordingWindow::cancelRequested, recorder, &AnnotationRecorder::cancel);
    connect(m_window, &RecordingWindow::stopRequested, recorder, &AnnotationRecorder::stop);
    // Queued: the recorder is done with when its own signal has returned.
    connect(recorder, &AnnotationRecorder::finished, this, &RecordingController::finish,
            Qt::QueuedConnection);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    recorder->preview();
    m_window->startCountdown(kCountdownFrom, m_countdownStepMs);
    return true;
}

void RecordingController::finish() {
    if (!m_recorder)
        return;
    const AnnotationRecorder::Status status = m_recorder->status();
    const int frames = m_recorder->framesWritten();
    m_recorder->deleteLater();
    m_recorder = nullptr;
    if (m_window) {
        m_window->hide();
        m_window->deleteLater();
    }
    const int number = std::exchange(m_number, 0);
    const QString path = m_session->filePath(number);
    if (status == AnnotationRecorder::Status::Cancelled) {
        m_session->cancelAnnotation(number);
        emit ended(0, true);
        return;
    }
    if (frames == 0 || !AnnotationRecorder::isPlayable(path)) {
        m_session->cancelAnnotation(number);
        emit ended(0, false);
        emit warning(kCaption, recordingFailureText(status, false, path));
        return;
    }
    // Its first playback ends by handing it to the compression queue.
    m_session->setAwaitingCompression(number, true);
    emit ended(number, false);
    if (status != AnnotationRecorder::Status::Stopped)
        emit warning(kCaption, recordingFailureText(status, true, path));
}

void RecordingController::compress(int number) {
    m_session->setAwaitingCompression(number, false);
    const QString source = m_session->filePath(number);
    if (!QFileInfo::exists(source)) // deleted before its playback ended: nothing to compress
        return;
    if (m_transcoder->enqueue(source, number))
        return;
    if (m_transcoder->outcome() == AnnotationTranscoder::Outcome::EncoderMissing)
        emit warning(QStringLiteral("KEL"),
                     QStringLiteral("ffmpeg est introuvable : l'annotation reste non compressée."
                                    "\r\nInstallez ffmpeg pour que les annotations soient "
                                    "compressées."));
    else
        emit warning(QStringLiteral("KEL"),
                     m_transcoder->errorText() + QStringLiteral("\r\nL'annotation reste non "
                                                                "compressée."));
}

void RecordingController::compressRawRecordings() {
    if (!m_session->isOpen())
        return;
    AnnotationTranscoder::removeLeftovers(m_session->dir());
    for (const SessionAnnotation& a : m_session->annotations())
        if (AnnotationTranscoder::isRawRecording(a.filePath))
            m_transcoder->enqueue(a.filePath, a.number);
}

} // namespace kel
