#include "principalw.h"

#include "app/recording_controller.h"
#include "common/dialogs.h"
#include "common/resources.h"
#include "common/timecode.h"
#include "export/export_controller.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/synchronised_playback.h"
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
#include <QSettings>

namespace kel {

namespace {
const QString kMirrorKey = QStringLiteral("enregistrement/miroir");

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QPushButton* iconButton(QWidget* parent, const char* name, QRect geometry, const QString& icon,
                        int iconSize, const QString& tooltip) {
    auto* b = named(new QPushButton(parent), name);
    b->setGeometry(geometry);
    b->setIcon(QIcon(resourcePath(icon)));
    b->setIconSize(QSize(iconSize, iconSize));
    b->setToolTip(tooltip);
    return b;
}

QPushButton* textButton(QWidget* parent, const char* name, QRect geometry, const QString& text,
                        const QFont& font, const QString& tooltip = QString()) {
    auto* b = named(new QPushButton(text, parent), name);
    b->setGeometry(geometry);
    b->setFont(font);
    b->setToolTip(tooltip);
    return b;
}

QFrame* separator(QWidget* parent, QRect geometry) {
    auto* line = new QFrame(parent);
    line->setGeometry(geometry);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

PrincipalW::PrincipalW(const QString& cameraSpec, QWidget* parent)
    : QMainWindow(parent), m_studentPlayer(new MyVideoPlayer(this)),
      m_session(new ProjectSession(this)), m_sync(new SynchronisedPlayback(this)),
      m_recording(new RecordingController(m_session, this)), m_exports(new ExportController(this)) {
    createWidgets();
    connectWidgets();
    connectUnits();
    setWindowTitle(QStringLiteral("KEL"));
    setWindowIcon(QIcon(resourcePath(QStringLiteral("kel.png"))));
    setFixedSize(975, 515);

    showAnnotations();
    setUpShortcuts();
    setStudentControlsDisabled(true);
    m_studentPlayer->lectureDemarree = false;
    // Escape and the frame's close button end the application without destroying this window:
    // ffmpeg would go on writing after the end.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &PrincipalW::stopBackgroundWork);

    m_preview = new CameraPreview(webcamView, cameraSpec, this);
    connect(m_preview, &CameraPreview::unavailable, this, [](const QString& text) { warn(text); });
    // Queued: the box must not open inside the grabber's signal.
    connect(
        m_preview, &CameraPreview::lost, this, [](const QString& text) { warn(text); },
        Qt::QueuedConnection);
    setCamera(openCameraSource(cameraSpec));
    m_preview->start();
}

// The right half: the comment's player and its controls, over the webcam preview.
void PrincipalW::createAnnotationArea() {
    const QFont courier10(QStringLiteral("Courier"), 10, QFont::Bold);
    const QFont courier11(QStringLiteral("Courier"), 11, QFont::Bold);
    annotationPlayer = named(new VideoPlayer(this), "annotationPlayer");
    annotationPlayer->setGeometry(507, 65, 443, 365);
    annotationPlayer->hide();
    webcamView = named(new QOpenCVWidget(this), "webcamView");
    webcamView->setGeometry(500, 55, 451, 375);
    bPlayAnnotation =
        textButton(this, "bPlayAnnotation", {506, 431, 31, 18}, QStringLiteral(">"), courier10);
    bPauseAnnotation =
        textButton(this, "bPauseAnnotation", {539, 431, 31, 18}, QStringLiteral("||"), courier10);
    annotationSlider = named(new SeekSlider(this), "annotationSlider");
    annotationSlider->setPlayer(annotationPlayer);
    annotationSlider->setGeometry(507, 450, 442, 15);
    annotationTimeLabel =
        named(new QLabel(QStringLiteral("00:00:00.000"), this), "annotationTimeLabel");
    annotationTimeLabel->setGeometry(580, 431, 141, 25);
    annotationTimeLabel->setFont(courier11);
    for (QWidget* w : std::initializer_list<QWidget*>{bPlayAnnotation, bPauseAnnotation,
                                                      annotationSlider, annotationTimeLabel})
        w->hide();
}

void PrincipalW::createCommandButtons() {
    const QFont verdana(QStringLiteral("Verdana"), 11, QFont::Normal);
    bNouveau = iconButton(this, "bNouveau", {20, 11, 31, 31}, QStringLiteral("fichier.png"), 25,
                          QStringLiteral("Créer un nouveau projet"));
    bOuvrirProjet =
        iconButton(this, "bOuvrirProjet", {55, 11, 31, 31}, QStringLiteral("ouvrir-projet.png"), 25,
                   QStringLiteral("Ouvrir un projet existant"));
    bOuvrirVideo = iconButton(this, "bOuvrirVideo", {90, 11, 31, 31},
                              QStringLiteral("openVideo.png"), 25, QStringLiteral("Ouvrir video"));
    bEnregistrerProjet =
        iconButton(this, "bEnregistrerProjet", {125, 11, 31, 31}, QStringLiteral("enregistrer.png"),
                   25, QStringLiteral("Enregistrer projet"));
    bExporter = iconButton(this, "bExporter", {160, 11, 31, 31}, QStringLiteral("export.png"), 25,
                           QStringLiteral("Exporter"));
    bAide = textButton(this, "bAide", {195, 11, 31, 31}, QStringLiteral("?"), verdana,
                       QStringLiteral("Aide"));
    bQuitter = iconButton(this, "bQuitter", {230, 11, 31, 31}, QStringLiteral("quitter.png"), 25,
                          QStringLiteral("Quitter"));
    bOuvrirAnnotation =
        iconButton(this, "bOuvrirAnnotation", {570, 470, 31, 27},
                   QStringLiteral("ouvrir-video.png"), 25, QStringLiteral("Ouvrir une annotation"));
    bEnregistrerAnnotation =
        iconButton(this, "bEnregistrerAnnotation", {610, 470, 31, 27}, QStringLiteral("record.png"),
                   25, QStringLiteral("Enregistrer/Terminer l'enregistrement"));
    bCouperDebut =
        iconButton(this, "bCouperDebut", {650, 470, 31, 27}, QStringLiteral("Couper-debut.png"), 30,
                   QStringLiteral("Supprimer avant la position courante"));
    bCouperFin =
        iconButton(this, "bCouperFin", {690, 470, 31, 27}, QStringLiteral("Couper-fin.png"), 30,
                   QStringLiteral("Supprimer après la position courante"));
    bSupprimerAnnotation =
        textButton(this, "bSupprimerAnnotation", {730, 470, 31, 27}, QStringLiteral("X"), verdana,
                   QStringLiteral("Supprimer l'annotation"));
    comboAnnotations = named(new QComboBox(this), "comboAnnotations");
    comboAnnotations->setGeometry(780, 474, 161, 21);
    // Shown while the project has annotations and none is in the player.
    comboAnnotations->setPlaceholderText(QStringLiteral("Choisir…"));
    // The items say more than the box has room for: the list opens wider, and the box's tooltip
    // gives the whole text.
    comboAnnotations->view()->setMinimumWidth(250);
    bTitreAnnotation = textButton(this, "bTitreAnnotation", {945, 474, 24, 21}, QStringLiteral("✎"),
                                  verdana, QStringLiteral("Titre de l'annotation"));
}

// In the order of the original window, which sets the order of the keyboard focus.
void PrincipalW::createWidgets() {
    createAnnotationArea();
    createCommandButtons();
    lineLeft = separator(this, {20, 40, 441, 16});
    lineRight = separator(this, {510, 40, 431, 16});
    progressBar = named(new QProgressBar(this), "progressBar");
    progressBar->setGeometry(510, 23, 441, 20);
    progressBar->setValue(0);
    labelProjet = named(new QLabel(this), "labelProjet");
    labelProjet->setGeometry(268, 14, 130, 25);
    bAnnulerExport = textButton(this, "bAnnulerExport", {953, 23, 20, 20}, QStringLiteral("×"),
                                font(), QStringLiteral("Annuler l'export"));
    bAnnulerExport->setAccessibleName(QStringLiteral("Annuler l'export"));
    bAnnulerExport->hide();
    cbMiroir = named(new QCheckBox(QStringLiteral("Enregistrer en miroir"), this), "cbMiroir");
    // Free room under the preview, clear of the annotation slider below it.
    cbMiroir->setGeometry(800, 430, 160, 20);
    cbMiroir->setToolTip(
        QStringLiteral("Coché : les annotations sont enregistrées en miroir, comme dans l'aperçu "
                       "de la webcam.\nDécoché : elles sont enregistrées telles que la caméra "
                       "voit l'enseignant (l'écriture se lit à l'endroit, la main droite est la "
                       "main droite)."));
    cbMiroir->setChecked(
        QSettings(QStringLiteral("KEL"), QStringLiteral("KEL")).value(kMirrorKey, false).toBool());
    m_recording->setMirrored(cbMiroir->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{
             bOuvrirVideo, bEnregistrerProjet, bExporter, bOuvrirAnnotation, bEnregistrerAnnotation,
             bCouperDebut, bCouperFin, bSupprimerAnnotation, comboAnnotations, bTitreAnnotation})
        w->setEnabled(false);
}

void PrincipalW::connectWidgets() {
    connect(comboAnnotations, &QComboBox::currentTextChanged, comboAnnotations,
            &QWidget::setToolTip);
    connect(annotationPlayer, &VideoPlayer::finished, this, &PrincipalW::lectureAnnotationTerminee);
    connect(annotationPlayer, &VideoPlayer::failed, this, &PrincipalW::annotationPlaybackFailed);
    connect(annotationPlayer, &VideoPlayer::positionChanged, annotationTimeLabel,
            [label = annotationTimeLabel](qint64 ms) { label->setText(clockText(ms)); });
    // The length is known once the media has loaded.
    connect(annotationPlayer, &VideoPlayer::durationChanged, m_session,
            [session = m_session](qint64 ms) {
                if (ms > 0 && session->current() != 0)
                    session->setDuration(session->current(), double(ms));
            });
    connect(bPlayAnnotation, &QPushButton::clicked, this, &PrincipalW::playAnnotation);
    connect(bPauseAnnotation, &QPushButton::clicked, this, &PrincipalW::pauseAnnotation);
    connect(bNouveau, &QPushButton::clicked, this, &PrincipalW::on_bNouveau_clicked);
    connect(bOuvrirProjet, &QPushButton::clicked, this, &PrincipalW::on_bOuvrirProjet_clicked);
    connect(bOuvrirVideo, &QPushButton::clicked, this, &PrincipalW::ouvrirVideoEleve);
    connect(bEnregistrerProjet, &QPushButton::clicked, this, &PrincipalW::enregistrerProjet);
    connect(bExporter, &QPushButton::clicked, this, &PrincipalW::exporter);
    connect(bAide, &QPushButton::clicked, this, &PrincipalW::aide);
    connect(bQuitter, &QPushButton::clicked, this, &PrincipalW::quitter);
    connect(bOuvrirAnnotation, &QPushButton::clicked, this, &PrincipalW::ouvrirVideoProf);
    connect(bEnregistrerAnnotation, &QPushButton::clicked, this,
            &PrincipalW::enregistrerAnnotation);
    connect(bCouperDebut, &QPushButton::clicked, this, &PrincipalW::couperDebut);
    connect(bCouperFin, &QPushButton::clicked, this, &PrincipalW::couperFin);
    connect(bSupprimerAnnotation, &QPushButton::clicked, this, &PrincipalW::supprimerAnnotation);
    connect(bTitreAnnotation, &QPushButton::clicked, this, &PrincipalW::titrerAnnotation);
    connect(bAnnulerExport, &QPushButton::clicked, this, &PrincipalW::annulerExport);
    connect(cbMiroir, &QCheckBox::toggled, this, [this](bool mirrored) {
        QSettings(QStringLiteral("KEL"), QStringLiteral("KEL")).setValue(kMirrorKey, mirrored);
        m_recording->setMirrored(mirrored);
    });
    connect(comboAnnotations, &QComboBox::activated, this, &PrincipalW::selectAnnotationCombo);
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
        bEnregistrerAnnotation->setIcon(QIcon(resourcePath(QStringLiteral("stoprecord.png"))));
    });
    connect(m_recording, &RecordingController::ended, this, &PrincipalW::recordingEnded);
    connect(m_recording, &RecordingController::warning, this,
            [](const QString& caption, const QString& text) { warn(caption, text); });

    connect(m_exports, &ExportController::started, this, [this] {
        bAnnulerExport->setEnabled(true);
        bAnnulerExport->show();
    });
    // 100 is for the end, which ended() shows.
    connect(m_exports, &ExportController::progressChanged, progressBar, [this](int percent) {
        progressBar->setValue(qBound(progressBar->value(), percent, 99));
    });
    connect(m_exports, &ExportController::ended, this, &PrincipalW::exportEnded);
}

PrincipalW::~PrincipalW() {
    // The players stop as they go, after this window's own members: nothing may hear them then.
    annotationPlayer->disconnect();
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
             p->bAvanceRapide, p->bFin, p->labelTemps})
        w->setDisabled(disabled);
}

void PrincipalW::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (event->key() == Qt::Key_Escape) {
        QApplication::closeAllWindows();
        QApplication::exit(0);
    }
}

void PrincipalW::showAnnotationArea(bool shown) {
    // Without a camera the preview stays hidden: it would show nothing.
    webcamView->setVisible(!shown && m_preview->grabber());
    for (QWidget* w :
         std::initializer_list<QWidget*>{annotationPlayer, annotationSlider, bPlayAnnotation,
                                         bPauseAnnotation, annotationTimeLabel})
        w->setVisible(shown);
}

void PrincipalW::closeAnnotation() {
    annotationPlayer->stop();
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
