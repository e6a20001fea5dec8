#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

namespace kel {

class CameraPreview;
class CameraSource;
class ExportController;
class MyVideoPlayer;
class ProjectSession;
class QOpenCVWidget;
class RecordingController;
class SeekSlider;
class SynchronisedPlayback;
class VideoPlayer;
struct WindowWidgets;

// The main window: a view of the open project (ProjectSession), of the student's video and its
// synchronised comments (SynchronisedPlayback), of the recording (RecordingController) and of the
// export (ExportController). Its slots read the widgets and ask those units; it redraws from
// their signals. Its widgets carry their names as object names, which is how tests find them.
class PrincipalW : public QMainWindow {
    Q_OBJECT
public:
    // `cameraSpec`: empty for the default camera, else a device index, /dev/videoN or a video file.
    explicit PrincipalW(const QString& cameraSpec = QString(), QWidget* parent = nullptr);
    ~PrincipalW() override;

    // Reads `camera` from now on, on a thread of its own.
    void setCamera(std::unique_ptr<CameraSource> camera);
    CameraSource* camera() const;

    // The units the window shows.
    ProjectSession* session() const { return m_session; }
    SynchronisedPlayback* synchronisedPlayback() const { return m_sync; }
    RecordingController* recording() const { return m_recording; }
    ExportController* exports() const { return m_exports; }
    MyVideoPlayer* studentPlayer() const { return m_studentPlayer; }
    // The webcam preview is being refreshed.
    bool isPreviewRunning() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void ouvrirVideoEleve();
    void lectureVideo();
    void enregistrerAnnotation();
    void ouvrirVideoProf();
    void supprimerAnnotation();
    void selectAnnotationCombo();
    void lectureAnnotationTerminee();
    void exporter();
    void quitter();
    void on_bNouveau_clicked();
    void on_bOuvrirProjet_clicked();
    void remplirListe();
    void annulerExport();
    void couperDebut();
    void couperFin();
    void enregistrerProjet();
    void titrerAnnotation();
    // The student's video alone, full screen, or back in the window.
    void pleinEcran();

private:
    void connectWidgets();
    void connectUnits();
    void setStudentControlsDisabled(bool disabled);
    // Redraws the list, the timeline marks and the annotation buttons from the session.
    void showAnnotations();
    void showCurrentAnnotation();
    void showAnnotationArea(bool shown);
    // Stops the annotation player and gives the right half back to the webcam preview.
    void closeAnnotation();
    void playAnnotationFile(int number);
    // Removes annotation `number` once confirmed, and its player if it still shows it.
    void deleteAnnotation(int number, const QString& caption);
    // Both cuts: the same checks and confirmation; false when nothing is to be stored.
    bool cutPosition(const QString& caption, const QString& confirmation, int& position);
    // Leaves the current project for `dir`, empty for none.
    void switchProject(const QString& dir);
    bool openVideoFile(bool asAnnotation);
    bool loadVideoFile(const QString& path, bool asAnnotation);
    // A video other than the one the project's comments were made on: true to go on with it.
    bool acceptOtherStudentVideo(const QString& path);
    bool addAnnotationCopy(const QString& path);
    void enableVideoCommands();
    // Notes whether the student's video is paused or playing: the Type of the next annotation.
    void noteStudentState();
    int studentFramePosition() const;
    void annotationPlaybackFailed(const QString& message);
    void recordingEnded(int kept, bool cancelled);
    // What a recording interrupted comes back as it was (a cancel, a refusal).
    void restoreBeforeRecording();
    void exportEnded(bool succeeded, const QString& path);
    void setUpShortcuts();
    void leaveFullScreen();
    // Ends what runs in the background before the window goes: ffmpeg must not outlive it.
    void stopBackgroundWork();
    // The end of quitter(), once nothing is left to wait for.
    void closeWindow(bool discard);

    MyVideoPlayer* m_studentPlayer;
    ProjectSession* m_session;
    SynchronisedPlayback* m_sync;
    RecordingController* m_recording;
    ExportController* m_exports;
    std::unique_ptr<WindowWidgets> ui;

    CameraPreview* m_preview;
    bool m_studentWasPaused = false;
    bool m_studentWasPlaying = false;
    // What a recording interrupted, given back when it is cancelled.
    struct BeforeRecording {
        bool studentWasPaused = false;
        bool studentWasPlaying = false;
        bool previewRunning = false;
        bool annotationPlaying = false;
    } m_beforeRecording;
    // "Quitter" waits for the export's end; then it quits, dropping this session's changes when
    // `m_discardAtQuit`.
    bool m_quitAfterExport = false;
    bool m_discardAtQuit = false;
    bool m_studentOnly = false;
};

} // namespace kel
