#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTime>

#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QProcess;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kel {

class AnnotationTranscoder;
class CameraGrabber;
class CameraSource;
class MyVideoPlayer;
class ProjectSession;
class QOpenCVWidget;
class SeekSlider;
class VideoPlayer;

// The main window. Its slots are thin: they read the widgets, call the unit that does the work and
// update the widgets. Its slots are grouped by subject in the principalw_*.cpp files beside it.
class PrincipalW : public QMainWindow {
    Q_OBJECT
public:
    // `cameraSpec`: empty for the default camera, else a device index, /dev/videoN or a video file.
    explicit PrincipalW(const QString& cameraSpec = QString(), QWidget* parent = nullptr);
    ~PrincipalW() override;

    // Widgets, in creation order.
    VideoPlayer* annotationPlayer;
    QOpenCVWidget* webcamView;
    QPushButton* bPlayAnnotation;
    QPushButton* bPauseAnnotation;
    SeekSlider* annotationSlider;
    QLabel* annotationTimeLabel;
    QPushButton* bNouveau;
    QPushButton* bOuvrirProjet;
    QPushButton* bOuvrirVideo;
    QPushButton* bEnregistrerProjet;
    QPushButton* bExporter;
    QPushButton* bAide;
    QPushButton* bQuitter;
    QPushButton* bOuvrirAnnotation;
    QPushButton* bEnregistrerAnnotation;
    QPushButton* bCouperDebut;
    QPushButton* bCouperFin;
    QPushButton* bSupprimerAnnotation;
    QComboBox* comboAnnotations;
    QFrame* lineLeft;
    QFrame* lineRight;
    QProgressBar* progressBar;
    // The open project's name, between the project buttons and the progress bar.
    QLabel* labelProjet;
    // Right of the progress bar, shown while a montage renders; made at the first export.
    QPushButton* bAnnulerExport = nullptr;

    // Timers.
    int webcamTimerId = 0;
    QTimer* syncTimer;
    QTimer* annotationTimeTimer;
    QTimer* progressTimer;

    // The student's player, and the open project's state, which the widgets show.
    MyVideoPlayer* studentPlayer;
    ProjectSession* session;

    // State of the window itself.
    QTime annotationTimeBase;
    bool warnNoWebcam = true;
    bool webcamAvailable = false;
    bool durationPending = true;
    bool studentWasPaused = false;
    bool studentWasPlaying = false;
    bool exportLaunched = false;
    QString studentVideoPath;
    int studentFps = 0;
    int progressCount = 0;
    QProcess* encoderProcess;

    // Operations.
    void setStudentControlsDisabled(bool disabled);
    // Playback.
    bool openVideoFile(bool asAnnotation, bool asStudentVideo);
    // The same with a file already chosen.
    bool loadVideoFile(const QString& path, bool asAnnotation, bool asStudentVideo);
    void playAnnotationFile(int number);
    // Transcoding.
    void transcodeAnnotation(int number);
    bool isTranscoding() const;
    // Recording: the length of each of the three steps of the countdown before it.
    void setCountdownStepMs(int ms) { m_countdownStepMs = ms; }
    CameraSource* camera() const;
    // Reads `camera` from now on, on a thread of its own.
    void setCamera(std::unique_ptr<CameraSource> camera);

public slots:
    void ouvrirVideoEleve();
    void lectureVideo();
    void enregistrerAnnotation();
    void playAnnotation();
    void pauseAnnotation();
    void updateTimerProf();
    void ouvrirVideoProf();
    void supprimerAnnotation();
    void selectAnnotationCombo();
    void lectureAnnotationTerminee();
    void exporter();
    void aide();
    void quitter();
    void on_bNouveau_clicked();
    void on_bOuvrirProjet_clicked();
    void timerAnnotations();
    void remplirListe();
    void timerVignette();
    void timerProgressBar();
    void annulerExport();
    void couperDebut();
    void couperFin();
    void isCompressionAnnotationTerminee();
    void enregistrerProjet();

protected:
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Redraws the list, the timeline marks and the annotation buttons from the session.
    void showAnnotations();
    void showCurrentAnnotation();
    void startPreview();
    void stopPreview();
    // Shows the annotation player and its controls, or the webcam preview.
    void showAnnotationArea(bool shown);
    // Stops the annotation player and gives the right half back to the webcam preview.
    void closeAnnotation();
    // Removes annotation `number` once confirmed, and its player if it still shows it.
    void deleteAnnotation(int number, const QString& caption);
    // Leaves the current project for `dir`, empty for none.
    void switchProject(const QString& dir);
    // Notes whether the student's video is paused or playing: the Type of the next annotation.
    void noteStudentState();
    // Position key of the student's video now.
    int studentFramePosition() const;
    void annotationPlaybackFailed(const QString& message);
    // Keyboard shortcuts of the student player and the recording.
    void setUpShortcuts();
    void seekToMark(bool next);
    // Quit-time clean-up of the export (uncompressed montage) and of a running transcoding.
    void cleanUpExportAtQuit();
    // Tells where the montage is, its size and length, and offers to show or play it.
    void showExportResult(const QString& montagePath);
    void stopTranscodingAtQuit();
    // Recordings of the open project still uncompressed (KEL closed before it was done) are
    // compressed now, and the leftovers of compressions cut short removed.
    void compressRawAnnotations();

    // Reads the camera off the window's thread; null without a camera.
    CameraGrabber* m_grabber = nullptr;
    QString m_cameraName;
    quint64 m_shownFrame = 0;
    // The student's video was playing when an annotation paused it: it plays again at its end.
    bool m_resumeStudent = false;
    // Compresses recordings one after the other, in the background.
    AnnotationTranscoder* m_transcoder;
    int m_countdownStepMs = 1000;
};

} // namespace kel
