#include "app/globals.h"
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "recording/annotation_recorder.h"
#include "recording/camera_source.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <opencv2/videoio.hpp>

using kel::ProjectFile;

namespace {

// A camera that delivers a grey picture until `failAfterMs` after start(), then nothing.
class DyingCamera : public kel::CameraSource {
public:
    qint64 failAfterMs = 0;
    QElapsedTimer clock;
    bool isOpened() const override { return true; }
    void setFrameSize(int, int) override {}
    bool read(cv::Mat& frame) override {
        if (clock.isValid() && clock.elapsed() >= failAfterMs)
            return false;
        frame = cv::Mat(120, 160, CV_8UC3, cv::Scalar(90, 90, 90));
        return true;
    }
};

QWidget* recordingWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("recordingWindow") && w->isVisible())
            return w;
    return nullptr;
}

// While the recording window is up: `during` runs at each poll with the time since the window
// appeared; Space is pressed after `durationMs`. Returns that time as measured here.
qint64 recordFor(kel::PrincipalW& w, int durationMs,
                 const std::function<void(QWidget*, qint64)>& during = {}) {
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QElapsedTimer shown;
    qint64 pressedAt = -1;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* window = recordingWindow();
        if (!window || pressedAt >= 0)
            return;
        if (!shown.isValid())
            shown.start();
        if (during)
            during(window, shown.elapsed());
        if (shown.elapsed() >= durationMs) {
            pressedAt = shown.elapsed();
            QTest::keyClick(window, Qt::Key_Space);
        }
    });
    poll.start(2);
    w.enregistrerAnnotation();
    return pressedAt;
}

struct Probe {
    QString codec, pixFmt, rate;
    int width = 0, height = 0, frames = 0;
    cv::Mat first;
};

Probe probe(const QString& path) {
    Probe p;
    QProcess ff;
    ff.start(QStringLiteral("ffprobe"),
             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
              QStringLiteral("-select_streams"), QStringLiteral("v:0"),
              QStringLiteral("-show_entries"),
              QStringLiteral("stream=codec_name,pix_fmt,r_frame_rate,width,height,nb_read_frames"),
              QStringLiteral("-of"), QStringLiteral("default=noprint_wrappers=1"), path});
    ff.waitForFinished(60000);
    for (const QString& line : QString::fromUtf8(ff.readAllStandardOutput()).split('\n')) {
        const QString key = line.section('=', 0, 0), value = line.section('=', 1).trimmed();
        if (key == QLatin1String("codec_name"))
            p.codec = value;
        else if (key == QLatin1String("pix_fmt"))
            p.pixFmt = value;
        else if (key == QLatin1String("r_frame_rate"))
            p.rate = value;
        else if (key == QLatin1String("width"))
            p.width = value.toInt();
        else if (key == QLatin1String("height"))
            p.height = value.toInt();
        else if (key == QLatin1String("nb_read_frames"))
            p.frames = value.toInt();
    }
    cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    capture.read(p.first);
    return p;
}

void touch(const QString& path) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("x");
}

} // namespace

class TestRecording : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString camera;  // 320 x 240, a white band on the left
    QString student; // 10 s
    int projects = 0;

    QString newProject() {
        const QString dir = tmp.filePath(QStringLiteral("Projet élève %1").arg(++projects));
        QDir().mkpath(dir);
        return dir;
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        camera = tmp.filePath(QStringLiteral("camera.avi"));
        QVERIFY(testmedia::ffmpeg(
            {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
             QStringLiteral("color=c=black:size=320x240:rate=30:duration=10"),
             QStringLiteral("-vf"), QStringLiteral("drawbox=x=0:y=0:w=80:h=240:color=white:t=fill"),
             QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-q:v"),
             QStringLiteral("2"), camera}));
        student = tmp.filePath(QStringLiteral("student.avi"));
        QVERIFY(testmedia::makeVideo(student, QStringLiteral("testsrc"), 10));
    }

    void recordsInRealTime() {
        ScriptedDialogs dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = newProject();
        w.syncTimer->start();
        QTest::qWait(100);

        bool timersHeld = true, windowSurvivedKeys = false;
        QString title;
        const qint64 pressedAt = recordFor(w, 4000, [&](QWidget* window, qint64 t) {
            timersHeld = timersHeld && !w.syncTimer->isActive() && w.webcamTimerId == 0;
            title = window->windowTitle();
            if (t >= 1000 && t < 1010) {
                for (int key : {int(Qt::Key_A), int(Qt::Key_Escape), int(Qt::Key_Return)})
                    QTest::keyClick(window, Qt::Key(key));
                windowSurvivedKeys = recordingWindow() == window;
            }
        });
        QVERIFY(pressedAt >= 4000);
        QVERIFY(timersHeld);
        QVERIFY(windowSurvivedKeys);
        QCOMPARE(title, QStringLiteral("Enregistrement en cours..."));
        QVERIFY(!recordingWindow());
        QVERIFY(w.syncTimer->isActive());
        QVERIFY(w.webcamTimerId != 0);

        QVERIFY(dialogs.count(QStringLiteral("platform")) >= 1);
        const auto box = dialogs.shown.first();
        QCOMPARE(box.caption, QStringLiteral("Annotation"));
        QCOMPARE(box.text,
                 QStringLiteral("Appuyez sur la touche ESPACE pour arrêter l'enregistrement"));
        QCOMPARE(box.icon, kel::Dialogs::Icon::Information);

        const QString path = QDir(w.projectDir).filePath(QStringLiteral("annotation1.avi"));
        const Probe p = probe(path);
        QCOMPARE(p.codec, QStringLiteral("rawvideo"));
        QCOMPARE(p.pixFmt, QStringLiteral("bgr24"));
        QCOMPARE(p.rate, QStringLiteral("15/1"));
        QCOMPARE(p.width, 320);
        QCOMPARE(p.height, 240);
        const double playedMs = p.frames * 1000.0 / 15;
        QVERIFY2(
            std::abs(playedMs - pressedAt) <= 1000.0 / 15 + 25,
            qPrintable(
                QStringLiteral("%1 ms played for %2 ms recorded").arg(playedMs).arg(pressedAt)));
        // Mirrored: the camera's white band is on the right.
        QVERIFY(p.first.at<cv::Vec3b>(120, 300)[0] > 200);
        QVERIFY(p.first.at<cv::Vec3b>(120, 20)[0] < 50);

        QCOMPARE(w.annotationCount, 1);
        QVERIFY(w.annotationRecorded);
        QVERIFY(w.transcodePending);
        QVERIFY(!w.transcodeFinished);
        QCOMPARE(w.recordedFile, path);
        QCOMPARE(kel::studentPlayer->nbAnnotationsJouees, 1);
        QCOMPARE(ProjectFile(w.projectDir).loadAnnotationSchedule(), (QList<int>{1, 0}));
        for (QPushButton* b : {w.bCouperDebut, w.bCouperFin, w.bSupprimerAnnotation})
            QVERIFY(b->isEnabled());
        QCOMPARE(w.annotationPlayer->source(), path); // played back once

        // Its end hands the file to ffmpeg; the compressed file then takes its name.
        QTRY_VERIFY_WITH_TIMEOUT(!w.transcodePending, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(w.transcodeFinished, 60000);
        QCOMPARE(w.encoderProcess->state(), QProcess::NotRunning);
        const Probe compressed = probe(path);
        QCOMPARE(compressed.codec, QStringLiteral("mpeg4"));
        QCOMPARE(compressed.rate, QStringLiteral("25/1"));
        QCOMPARE(compressed.width, 640);
        QCOMPARE(compressed.height, 480);
        QCOMPARE(QDir(w.projectDir).entryList(QDir::Files),
                 (QStringList{QStringLiteral("annotation1.avi"), QStringLiteral("project.xml")}));
    }

    void numbering_data() {
        QTest::addColumn<QList<int>>("existing");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("expected");

        QTest::newRow("first of a new project") << QList<int>{} << 0 << 1;
        QTest::newRow("12 present, 5 missing")
            << QList<int>{1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12} << 11 << 13;
        QTest::newRow("1 and 4 present") << QList<int>{1, 4} << 2 << 3;
        QTest::newRow("2 deleted of 3") << QList<int>{1, 3} << 2 << 4;
    }
    void numbering() {
        QFETCH(QList<int>, existing);
        QFETCH(int, count);
        QFETCH(int, expected);

        ScriptedDialogs dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = newProject();
        for (int n : existing)
            touch(QDir(w.projectDir).filePath(QStringLiteral("annotation%1.avi").arg(n)));
        w.annotationCount = count;
        recordFor(w, 200);

        QVERIFY(kel::AnnotationRecorder::isPlayable(
            QDir(w.projectDir).filePath(QStringLiteral("annotation%1.avi").arg(expected))));
        QCOMPARE(w.annotationCount, count + 1);
        const QList<int> schedule = ProjectFile(w.projectDir).loadAnnotationSchedule();
        QCOMPARE(schedule.size(), 2);
        QCOMPARE(schedule.first(), expected);
    }

    // Type 1 when the student's video was paused, 0 when it played; a stopped video keeps the
    // previous recording's value.
    void typeFromStudentState_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("previous");
        QTest::addColumn<bool>("pauseType");
        QTest::addColumn<int>("framePosition");

        QTest::newRow("paused at 2.9 s") << "paused" << false << true << 50;
        QTest::newRow("playing") << "playing" << true << false << -1;
        QTest::newRow("stopped after a paused one") << "stopped" << true << true << 0;
        QTest::newRow("stopped at start-up") << "stopped" << false << false << 0;
    }
    void typeFromStudentState() {
        QFETCH(QString, state);
        QFETCH(bool, previous);
        QFETCH(bool, pauseType);
        QFETCH(int, framePosition);

        ScriptedDialogs dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = newProject();
        w.studentWasPaused = previous;
        kel::VideoPlayer* lecteur = kel::studentPlayer->lecteur;
        lecteur->setMuted(true);
        if (state != QLatin1String("stopped")) {
            lecteur->load(student);
            lecteur->play();
            QTRY_VERIFY(lecteur->totalTime() > 0);
            if (state == QLatin1String("paused")) {
                lecteur->pause();
                lecteur->seek(2900);
                QTRY_COMPARE(lecteur->currentTime(), 2900);
                QTRY_VERIFY(lecteur->isPaused());
            } else {
                QTRY_VERIFY(lecteur->isPlaying());
            }
        }
        recordFor(w, 200);

        QCOMPARE(ProjectFile(w.projectDir).isPauseType(QStringLiteral("1")), pauseType);
        const QList<int> schedule = ProjectFile(w.projectDir).loadAnnotationSchedule();
        QCOMPARE(schedule.size(), 2);
        if (framePosition >= 0)
            QCOMPARE(schedule.at(1), framePosition);
    }

    void refusedWhileTranscoding() {
        ScriptedDialogs dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = newProject();
        w.annotationCount = 1;
        w.encoderProcess->start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(w.encoderProcess->waitForStarted());
        w.enregistrerAnnotation();
        w.encoderProcess->kill();
        w.encoderProcess->waitForFinished();

        QCOMPARE(dialogs.count(QStringLiteral("plain")), 1);
        QCOMPARE(dialogs.lastText(), QStringLiteral("Merci de patienter quelques secondes pendant "
                                                    "le traitement de l'annotation précédente."));
        QCOMPARE(w.annotationCount, 1);
        QVERIFY(!w.annotationRecorded);
        QVERIFY(QDir(w.projectDir).entryList(QDir::Files).isEmpty());
    }

    // The camera dies: the part recorded is kept and entered; with no picture at all, or no
    // file that can be created, nothing is entered and the count stays.
    void troubleDuringRecording_data() {
        QTest::addColumn<int>("cameraMs"); // how long the camera delivers; -1: the real one
        QTest::addColumn<bool>("missingFolder");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("told");

        QTest::newRow("camera lost mid-recording") << 600 << false << true << "conservée";
        QTest::newRow("camera gives nothing") << 0 << false << false << "aucune image";
        QTest::newRow("file cannot be created") << -1 << true << false << "ne peut pas être créé";
    }
    void troubleDuringRecording() {
        QFETCH(int, cameraMs);
        QFETCH(bool, missingFolder);
        QFETCH(bool, kept);
        QFETCH(QString, told);

        ScriptedDialogs dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = newProject();
        if (missingFolder)
            w.projectDir += QStringLiteral("/absent");
        DyingCamera dying;
        if (cameraMs >= 0) {
            kel::webcamCapture = &dying;
            dying.failAfterMs = cameraMs;
            dying.clock.start();
        }
        // No Space: the recording must end by itself.
        QElapsedTimer elapsed;
        elapsed.start();
        w.enregistrerAnnotation();
        QVERIFY(elapsed.elapsed() < 5000);
        kel::webcamCapture = nullptr;

        QCOMPARE(dialogs.shown.last().caption, QStringLiteral("Annotation"));
        QCOMPARE(dialogs.shown.last().icon, kel::Dialogs::Icon::Warning);
        QVERIFY2(dialogs.lastText().contains(told), qPrintable(dialogs.lastText()));
        const QString path = QDir(w.projectDir).filePath(QStringLiteral("annotation1.avi"));
        QCOMPARE(kel::AnnotationRecorder::isPlayable(path), kept);
        QCOMPARE(QFile::exists(path), kept);
        QCOMPARE(w.annotationCount, kept ? 1 : 0);
        QCOMPARE(w.transcodePending, kept);
        QCOMPARE(ProjectFile(w.projectDir).loadAnnotationSchedule().size(), kept ? 2 : 0);
        QVERIFY(w.webcamTimerId != 0 || cameraMs >= 0);
    }
};

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
