#include "principalw.h"

#include "app/recording_controller.h"
#include "app/window_widgets.h"
#include "common/dialogs.h"
#include "common/resources.h"
#include "common/timecode.h"
#include "export/export_controller.h"
#include "help/help_window.h"
#include "playback/comment_player.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/synchronised_playback.h"
#include "playback/transport_keys.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/annotation_transcoder.h"
#include "recording/camera_preview.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace kel {

PrincipalW::PrincipalW(const QString& cameraSpec, QWidget* parent)
    : QMainWindow(parent), m_studentPlayer(new MyVideoPlayer(this)),
      m_session(new ProjectSession(this)), m_sync(new SynchronisedPlayback(this)),
      m_recording(new RecordingController(m_session, this)), m_exports(new ExportController(this)),
      ui(std::make_unique<WindowWidgets>(this, m_studentPlayer)) {
    ui->cbMiroir->setChecked(m_recording->isMirrored());
    connectWidgets();
    connectUnits();
    setWindowTitle(QStringLiteral("KEL"));
    setWindowIcon(QIcon(resourcePath(QStringLiteral("kel.png"))));
    setMinimumSize(975, 515);
    resize(975, 515);

    showAnnotations();
    setUpShortcuts();
    setStudentControlsDisabled(true);
    m_studentPlayer->lectureDemarree = false;
    // Escape and the frame's close button end the application without destroying this window:
    // ffmpeg would go on writing after the end.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &PrincipalW::stopBackgroundWork);

    m_preview = new CameraPreview(ui->webcamView, cameraSpec, this);
    connect(m_preview, &CameraPreview::unavailable, this, [](const QString& text) { warn(text); });
    // Queued: the box must not open inside the grabber's signal.
    connect(
        m_preview, &CameraPreview::lost, this, [](const QString& text) { warn(text); },
        Qt::QueuedConnection);
    setCamera(openCameraSource(cameraSpec));
    m_preview->start();
}

void PrincipalW::connectWidgets() {
    connect(ui->comment, &CommentPlayer::finished, this, &PrincipalW::lectureAnnotationTerminee);
    connect(ui->comment, &CommentPlayer::failed, this, &PrincipalW::annotationPlaybackFailed);
    connect(ui->comment, &CommentPlayer::lengthKnown, m_session, [session = m_session](qint64 ms) {
        if (session->current() != 0)
            session->setDuration(session->current(), double(ms));
    });
    connect(ui->bNouveau, &QPushButton::clicked, this, &PrincipalW::on_bNouveau_clicked);
    connect(ui->bOuvrirProjet, &QPushButton::clicked, this, &PrincipalW::on_bOuvrirProjet_clicked);
    connect(ui->bOuvrirVideo, &QPushButton::clicked, this, &PrincipalW::ouvrirVideoEleve);
    connect(ui->bEnregistrerProjet, &QPushButton::clicked, this, &PrincipalW::enregistrerProjet);
    connect(ui->bExporter, &QPushButton::clicked, this, &PrincipalW::exporter);
    connect(ui->bAide, &QPushButton::clicked, this, [] { new HelpW; }); // a window of its own
    connect(ui->bQuitter, &QPushButton::clicked, this, &PrincipalW::quitter);
    connect(ui->bOuvrirAnnotation, &QPushButton::clicked, this, &PrincipalW::ouvrirVideoProf);
    connect(ui->bEnregistrerAnnotation, &QPushButton::clicked, this,
            &PrincipalW::enregistrerAnnotation);
    connect(ui->bCouperDebut, &QPushButton::clicked, this, &PrincipalW::couperDebut);
    connect(ui->bCouperFin, &QPushButton::clicked, this, &PrincipalW::couperFin);
    connect(ui->bSupprimerAnnotation, &QPushButton::clicked, this,
            &PrincipalW::supprimerAnnotation);
    connect(ui->bTitreAnnotation, &QPushButton::clicked, this, &PrincipalW::titrerAnnotation);
    connect(ui->bPleinEcran, &QPushButton::clicked, this, &PrincipalW::pleinEcran);
    connect(ui->bAnnulerExport, &QPushButton::clicked, this, &PrincipalW::annulerExport);
    connect(ui->cbMiroir, &QCheckBox::toggled, m_recording, &RecordingController::setMirrored);
    connect(ui->comboAnnotations, &QComboBox::activated, this, &PrincipalW::selectAnnotationCombo);
    connect(m_studentPlayer->bLecture, &QPushButton::clicked, this, &PrincipalW::lectureVideo);
    connect(m_studentPlayer->bDebut, &QPushButton::clicked, this, &PrincipalW::remplirListe);
}

void PrincipalW::connectUnits() {
    connect(m_session, &ProjectSession::annotationsChanged, this, &PrincipalW::showAnnotations);
    connect(m_session, &ProjectSession::currentChanged, this, &PrincipalW::showCurrentAnnotation);
    connect(m_session, &ProjectSession::warning, this, [](const QString& text) { warn(text); });

    VideoPlayer* student = m_studentPlayer->lecteur;
    connect(student, &VideoPlayer::positionChanged, m_sync,
            &SynchronisedPlayback::studentPositionChanged);
    connect(student, &VideoPlayer::stateChanged, m_sync,
            [sync = m_sync, student] { sync->studentPlayingChanged(student->isPlaying()); });
    connect(m_sync, &SynchronisedPlayback::pauseStudent, student, &VideoPlayer::pause);
    connect(m_sync, &SynchronisedPlayback::resumeStudent, student, [student] {
        student->seek(student->currentTime());
        student->play();
    });
    connect(m_sync, &SynchronisedPlayback::commentDue, this, &PrincipalW::playAnnotationFile);

    connect(m_recording, &RecordingController::started, this, [this] {
        m_sync->setHeld(true);
        ui->bEnregistrerAnnotation->setIcon(QIcon(resourcePath(QStringLiteral("stoprecord.png"))));
    });
    connect(m_recording, &RecordingController::ended, this, &PrincipalW::recordingEnded);
    connect(m_recording, &RecordingController::warning, this,
            [](const QString& caption, const QString& text) { warn(caption, text); });

    // The preview stands still while a montage renders, not while its settings are chosen.
    connect(m_exports, &ExportController::started, this, [this] {
        m_preview->stop();
        ui->bAnnulerExport->setEnabled(true);
        ui->bAnnulerExport->show();
    });
    // 100 is for the end, which ended() shows.
    connect(m_exports, &ExportController::progressChanged, ui->progressBar, [this](int percent) {
        ui->progressBar->setValue(qBound(ui->progressBar->value(), percent, 99));
    });
    connect(m_exports, &ExportController::ended, this, &PrincipalW::exportEnded);
}

PrincipalW::~PrincipalW() {
    // The players stop as they go, after this window's own members: nothing may hear them then.
    ui->comment->player()->disconnect();
    m_studentPlayer->lecteur->disconnect();
    // Closed by the frame or Escape: ffmpeg must not outlive the window, nor leave its output.
    stopBackgroundWork();
    delete m_exports;
    m_exports = nullptr;
    delete m_studentPlayer;
}

void PrincipalW::setCamera(std::unique_ptr<CameraSource> camera) {
    m_recording->setCamera(nullptr, m_preview->cameraName());
    m_preview->setCamera(std::move(camera));
    m_recording->setCamera(m_preview->grabber(), m_preview->cameraName());
}

CameraSource* PrincipalW::camera() const {
    return m_preview->camera();
}

bool PrincipalW::isPreviewRunning() const {
    return m_preview->isRunning();
}

void PrincipalW::setStudentControlsDisabled(bool disabled) {
    const MyVideoPlayer* p = m_studentPlayer;
    for (QWidget* w : std::initializer_list<QWidget*>{
             p->bDebut, p->bRetourRapide, p->bTramePrecedente, p->bLecture, p->bTrameSuivante,
             p->bAvanceRapide, p->bFin, p->labelTemps, ui->bPleinEcran})
        w->setDisabled(disabled);
}

void PrincipalW::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (event->key() != Qt::Key_Escape)
        return;
    if (m_studentOnly) {
        leaveFullScreen();
        return;
    }
    QApplication::closeAllWindows();
    QApplication::exit(0);
}

void PrincipalW::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    ui->layout.apply(size(), m_studentOnly);
}

bool PrincipalW::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_studentPlayer->lecteur && event->type() == QEvent::MouseButtonDblClick) {
        if (ui->bPleinEcran->isEnabled())
            pleinEcran();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void PrincipalW::pleinEcran() {
    if (m_studentOnly) {
        leaveFullScreen();
        return;
    }
    m_studentOnly = true;
    showFullScreen();
    ui->layout.apply(size(), true);
}

void PrincipalW::leaveFullScreen() {
    if (!m_studentOnly)
        return;
    m_studentOnly = false;
    showNormal();
    ui->layout.apply(size(), false);
}

void PrincipalW::showAnnotationArea(bool shown) {
    // A comment that starts shows in the window: the student's video leaves the full screen.
    if (shown)
        leaveFullScreen();
    // Without a camera the preview stays hidden: it would show nothing.
    ui->showCommentArea(shown, m_preview->grabber());
}

void PrincipalW::setUpShortcuts() {
    bindTransportKeys(this, m_studentPlayer);
    bindKey(this, Qt::Key_R, ui->bEnregistrerAnnotation, QStringLiteral("R"));
    bindKey(this, Qt::Key_F11, ui->bPleinEcran, QStringLiteral("F11"));
    m_studentPlayer->lecteur->installEventFilter(this);
}

void PrincipalW::closeAnnotation() {
    ui->comment->player()->stop();
    showAnnotationArea(false);
    if (m_preview->grabber())
        m_preview->start();
}

void PrincipalW::noteStudentState() {
    if (m_studentPlayer->lecteur->isPaused()) {
        m_studentWasPaused = true;
        m_studentWasPlaying = false;
    } else if (m_studentPlayer->lecteur->isPlaying()) {
        m_studentWasPaused = false;
        m_studentWasPlaying = true;
    }
}

void PrincipalW::stopBackgroundWork() {
    m_preview->stop();
    if (m_exports)
        m_exports->cancelAndWait();
    m_recording->transcoder()->stop(1000);
}

} // namespace kel
