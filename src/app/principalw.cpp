#include "principalw.h"

#include "common/dialogs.h"
#include "common/resources.h"
#include "globals.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/annotation_transcoder.h"
#include "recording/camera_grabber.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace kel {

namespace {
QPushButton* iconButton(QWidget* parent, QRect geometry, const QString& icon, int iconSize,
                        const QString& tooltip) {
    auto* b = new QPushButton(parent);
    b->setGeometry(geometry);
    b->setIcon(QIcon(resourcePath(icon)));
    b->setIconSize(QSize(iconSize, iconSize));
    b->setToolTip(tooltip);
    return b;
}

QPushButton* textButton(QWidget* parent, QRect geometry, const QString& text, const QFont& font,
                        const QString& tooltip = QString()) {
    auto* b = new QPushButton(text, parent);
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

PrincipalW::PrincipalW(const QString& cameraSpec, QWidget* parent) : QMainWindow(parent) {
    studentPlayer = new MyVideoPlayer(this);
    session = new ProjectSession(this);

    const QFont verdana(QStringLiteral("Verdana"), 11, QFont::Normal);
    const QFont courier10(QStringLiteral("Courier"), 10, QFont::Bold);
    const QFont courier11(QStringLiteral("Courier"), 11, QFont::Bold);

    annotationPlayer = new VideoPlayer(this);
    annotationPlayer->setGeometry(507, 65, 443, 365);
    annotationPlayer->hide();
    webcamView = new QOpenCVWidget(this);
    webcamView->setGeometry(500, 55, 451, 375);
    bPlayAnnotation = textButton(this, {506, 431, 31, 18}, QStringLiteral(">"), courier10);
    bPlayAnnotation->hide();
    bPauseAnnotation = textButton(this, {539, 431, 31, 18}, QStringLiteral("||"), courier10);
    bPauseAnnotation->hide();
    annotationSlider = new SeekSlider(this);
    annotationSlider->setPlayer(annotationPlayer);
    annotationSlider->setGeometry(507, 450, 442, 15);
    annotationSlider->hide();
    annotationTimeLabel = new QLabel(QStringLiteral("00:00:00.000"), this);
    annotationTimeLabel->setGeometry(580, 431, 141, 25);
    annotationTimeLabel->setFont(courier11);
    annotationTimeLabel->hide();

    bNouveau = iconButton(this, {20, 11, 31, 31}, QStringLiteral("fichier.png"), 25,
                          QStringLiteral("Créer un nouveau projet"));
    bOuvrirProjet = iconButton(this, {55, 11, 31, 31}, QStringLiteral("ouvrir-projet.png"), 25,
                               QStringLiteral("Ouvrir un projet existant"));
    bOuvrirVideo = iconButton(this, {90, 11, 31, 31}, QStringLiteral("openVideo.png"), 25,
                              QStringLiteral("Ouvrir video"));
    bEnregistrerProjet = iconButton(this, {125, 11, 31, 31}, QStringLiteral("enregistrer.png"), 25,
                                    QStringLiteral("Enregistrer projet"));
    bExporter = iconButton(this, {160, 11, 31, 31}, QStringLiteral("export.png"), 25,
                           QStringLiteral("Exporter"));
    bAide =
        textButton(this, {195, 11, 31, 31}, QStringLiteral("?"), verdana, QStringLiteral("Aide"));
    bQuitter = iconButton(this, {230, 11, 31, 31}, QStringLiteral("quitter.png"), 25,
                          QStringLiteral("Quitter"));
    bOuvrirAnnotation = iconButton(this, {570, 470, 31, 27}, QStringLiteral("ouvrir-video.png"), 25,
                                   QStringLiteral("Ouvrir une annotation"));
    bEnregistrerAnnotation = iconButton(this, {610, 470, 31, 27}, QStringLiteral("record.png"), 25,
                                        QStringLiteral("Enregistrer/Terminer l'enregistrement"));
    bCouperDebut = iconButton(this, {650, 470, 31, 27}, QStringLiteral("Couper-debut.png"), 30,
                              QStringLiteral("Supprimer avant la position courante"));
    bCouperFin = iconButton(this, {690, 470, 31, 27}, QStringLiteral("Couper-fin.png"), 30,
                            QStringLiteral("Supprimer après la position courante"));
    bSupprimerAnnotation = textButton(this, {730, 470, 31, 27}, QStringLiteral("X"), verdana,
                                      QStringLiteral("Supprimer l'annotation"));
    comboAnnotations = new QComboBox(this);
    comboAnnotations->setGeometry(780, 474, 161, 21);
    // Shown while the project has annotations and none is in the player.
    comboAnnotations->setPlaceholderText(QStringLiteral("Choisir…"));
    // The items say more than the box has room for: the list opens wider, and the box's tooltip
    // gives the whole text.
    comboAnnotations->view()->setMinimumWidth(250);
    connect(comboAnnotations, &QComboBox::currentTextChanged, comboAnnotations,
            &QWidget::setToolTip);
    lineLeft = separator(this, {20, 40, 441, 16});
    lineRight = separator(this, {510, 40, 431, 16});
    progressBar = new QProgressBar(this);
    progressBar->setGeometry(510, 23, 441, 20);
    progressBar->setValue(0);
    labelProjet = new QLabel(this);
    labelProjet->setGeometry(268, 14, 130, 25);

    for (QPushButton* b : {bOuvrirVideo, bEnregistrerProjet, bExporter, bOuvrirAnnotation,
                           bEnregistrerAnnotation, bCouperDebut, bCouperFin, bSupprimerAnnotation})
        b->setEnabled(false);
    comboAnnotations->setEnabled(false);

    syncTimer = new QTimer(this);
    annotationTimeTimer = new QTimer(this);
    progressTimer = new QTimer(this);

    setWindowTitle(QStringLiteral("KEL"));
    setWindowIcon(QIcon(resourcePath(QStringLiteral("kel.png"))));
    setFixedSize(975, 515);

    encoderProcess = new QProcess(this);

    connect(annotationPlayer, &VideoPlayer::finished, this, &PrincipalW::lectureAnnotationTerminee);
    connect(annotationPlayer, &VideoPlayer::failed, this, &PrincipalW::annotationPlaybackFailed);
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
    connect(comboAnnotations, &QComboBox::activated, this, &PrincipalW::selectAnnotationCombo);
    connect(studentPlayer->bLecture, &QPushButton::clicked, this, &PrincipalW::lectureVideo);
    connect(studentPlayer->bDebut, &QPushButton::clicked, this, &PrincipalW::remplirListe);
    connect(encoderProcess, &QProcess::finished, this,
            &PrincipalW::isCompressionAnnotationTerminee);
    connect(session, &ProjectSession::annotationsChanged, this, &PrincipalW::showAnnotations);
    connect(session, &ProjectSession::currentChanged, this, &PrincipalW::showCurrentAnnotation);
    connect(session, &ProjectSession::warning, this, [](const QString& text) {
        dialogs().platformBox(QStringLiteral("KEL"), text, Dialogs::Icon::Warning);
    });

    showAnnotations();
    setUpShortcuts();
    annotationTimeBase = QTime(0, 0, 0, 0);
    setStudentControlsDisabled(true);
    studentPlayer->lectureDemarree = false;

    m_transcoder = new AnnotationTranscoder(encoderProcess, this);
    disconnect(encoderProcess, &QProcess::finished, this,
               &PrincipalW::isCompressionAnnotationTerminee);
    connect(m_transcoder, &AnnotationTranscoder::finished, this,
            &PrincipalW::isCompressionAnnotationTerminee);
    // Escape and the frame's close button end the application without destroying this window:
    // ffmpeg would go on writing after the end.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &PrincipalW::stopTranscodingAtQuit);

    m_cameraName = cameraSpec;
    setCamera(openCameraSource(cameraSpec));
    webcamTimerId = startTimer(40);
}

PrincipalW::~PrincipalW() {
    // Closed by the frame or Escape: ffmpeg must not outlive the window, nor leave its output.
    // The encoder runs in encoderProcess, which goes with the other children.
    stopTranscodingAtQuit();
    delete m_transcoder;
    m_transcoder = nullptr;
    if (mainWindow == this)
        mainWindow = nullptr;
    delete studentPlayer;
}

void PrincipalW::setCamera(std::unique_ptr<CameraSource> camera) {
    delete m_grabber;
    m_grabber = nullptr;
    m_shownFrame = 0;
    if (!camera)
        return;
    camera->setFrameSize(640, 480);
    m_grabber = new CameraGrabber(std::move(camera), this);
    m_grabber->start();
}

CameraSource* PrincipalW::camera() const {
    return m_grabber ? m_grabber->source() : nullptr;
}

void PrincipalW::setStudentControlsDisabled(bool disabled) {
    const MyVideoPlayer* p = studentPlayer;
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
    webcamView->setVisible(!shown && m_grabber);
    for (QWidget* w :
         std::initializer_list<QWidget*>{annotationPlayer, annotationSlider, bPlayAnnotation,
                                         bPauseAnnotation, annotationTimeLabel})
        w->setVisible(shown);
}

void PrincipalW::closeAnnotation() {
    annotationPlayer->stop();
    showAnnotationArea(false);
    if (m_grabber)
        startPreview();
}

void PrincipalW::noteStudentState() {
    if (studentPlayer->lecteur->isPaused()) {
        studentWasPaused = true;
        studentWasPlaying = false;
    } else if (studentPlayer->lecteur->isPlaying()) {
        studentWasPaused = false;
        studentWasPlaying = true;
    }
}

void PrincipalW::timerVignette() {}

} // namespace kel
