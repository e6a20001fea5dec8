#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

namespace kel {

class AnnotationRecorder;
class AnnotationTranscoder;
class CameraGrabber;
class ProjectSession;
class RecordingWindow;

// One recording of a comment, from the teacher's click to the file handed to the compression
// queue: a number from the session, the recorder, the countdown and recording window, keep or
// cancel, the entry. It runs on the event loop (no nested loop) and says when it is done; the
// main window only shows it. It also owns the compression queue of the project's recordings.
class RecordingController : public QObject {
    Q_OBJECT
public:
    explicit RecordingController(ProjectSession* session, QObject* parent = nullptr);
    ~RecordingController() override;

    // The camera to record from (null: none), and how to name it in a message.
    void setCamera(CameraGrabber* grabber, const QString& name);
    // Recordings to come are written mirrored, as the preview shows them; remembered.
    void setMirrored(bool mirrored);
    bool isMirrored() const { return m_mirrored; }
    // The length of each of the three steps of the countdown.
    void setCountdownStepMs(int ms) { m_countdownStepMs = ms; }

    // Records a comment for the moment chosen: `type` 1 when the student's video was paused,
    // at `framePosition`. The recording window covers `area` (screen coordinates). False when
    // nothing started (told through warning()); otherwise started(), then ended().
    bool record(int type, int framePosition, const QRect& area);
    bool isRecording() const { return m_recorder != nullptr; }
    RecordingWindow* window() const;

    // Compresses `number`'s recording now (its first playback is over, or it was replaced).
    void compress(int number);
    // Recordings of the open project still uncompressed (KEL closed before it was done) are
    // compressed, and the leftovers of compressions cut short removed.
    void compressRawRecordings();
    AnnotationTranscoder* transcoder() const { return m_transcoder; }

signals:
    // The file exists and is entered: the camera is the recorder's until ended().
    void started(int number);
    // `kept`: the number of the recording kept (it counts as played and waits for the end of
    // its first playback to be compressed), 0 when nothing was kept; `cancelled`: the teacher
    // cancelled during the countdown.
    void ended(int kept, bool cancelled);
    void warning(const QString& caption, const QString& text);

private:
    void finish();

    ProjectSession* m_session;
    AnnotationTranscoder* m_transcoder;
    CameraGrabber* m_grabber = nullptr;
    QString m_cameraName;
    int m_countdownStepMs = 1000;
    bool m_mirrored = false;
    AnnotationRecorder* m_recorder = nullptr;
    QPointer<RecordingWindow> m_window;
    int m_number = 0;
};

} // namespace kel
