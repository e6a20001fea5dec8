#include "app/globals.h"
#include "app/principalw.h"
#include "common/resources.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "recording/annotation_recorder.h"
#include "recording/camera_source.h"
#include "recording/recording_window.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QApplication>
#include <QComboBox>
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

// A camera whose whole picture tells the time of its reading on `clock`, in 10 ms units: blue
// the high byte, green the low one, red none (so never white).
class ClockCamera : public kel::CameraSource {
public:
    QElapsedTimer clock;
    ClockCamera() { clock.start(); }
    bool isOpened() const override { return true; }
    void setFrameSize(int, int) override {}
    bool read(cv::Mat& frame) override {
        const qint64 units = clock.elapsed() / 10;
        frame = cv::Mat(240, 320, CV_8UC3,
                        cv::Scalar(double((units >> 8) & 0xff), double(units & 0xff), 0));
        return true;
    }
    static qint64 timeOf(const cv::Mat& frame) {
        const cv::Vec3b p = frame.at<cv::Vec3b>(frame.rows / 2, frame.cols / 2);
        return (qint64(p[0]) * 256 + p[1]) * 10;
    }
    static qint64 timeOf(const QImage& image) {
        const QRgb p = image.pixel(image.width() / 2, image.height() / 2);
        return (qint64(qBlue(p)) * 256 + qGreen(p)) * 10;
    }
};

// Stands in for the webcam while alive.
struct CameraSwap {
    kel::CameraSource* saved;
    explicit CameraSwap(kel::CameraSource* camera) : saved(kel::webcamCapture) {
        kel::webcamCapture = camera;
    }
    ~CameraSwap() { kel::webcamCapture = saved; }
};

kel::RecordingWindow* recordingWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("recordingWindow") && w->isVisible())
            return qobject_cast<kel::RecordingWindow*>(w);
    return nullptr;
}

int whitePixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += qRed(p) > 230 && qGreen(p) > 230 && qBlue(p) > 230;
        }
    return n;
}

// What a recording went through, in ms on the clock given to record().
struct Session {
    QList<int> figures;      // countdown values, in order (0 when it ended)
    QList<qint64> figuresAt; // when each appeared
    qint64 countdownEnd = -1;
    qint64 pressedAt = -1; // Space, counted from the end of the countdown
};

using CountingFn = std::function<void(kel::RecordingWindow*, int figure)>;
using RecordingFn = std::function<void(kel::RecordingWindow*, qint64 sinceCountdown)>;

// Follows the recording window from the moment it is shown, so that no step is missed.
class WindowWatch : public QObject {
public:
    WindowWatch(Session& session, const QElapsedTimer& clock) : m_s(session), m_clock(clock) {}
    kel::RecordingWindow* window = nullptr;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* w = e->type() == QEvent::Show ? qobject_cast<kel::RecordingWindow*>(o) : nullptr;
        if (w && w != window) {
            window = w;
            connect(w, &kel::RecordingWindow::countdownChanged, this, [this](int figure) {
                m_s.figures << figure;
                m_s.figuresAt << m_clock.elapsed();
            });
            connect(w, &kel::RecordingWindow::countdownFinished, this,
                    [this] { m_s.countdownEnd = m_clock.elapsed(); });
        }
        return false;
    }

private:
    Session& m_s;
    const QElapsedTimer& m_clock;
};

// Runs a recording. While the countdown runs, `counting` is called at each poll; once it has
// ended, `during` is, and Space is pressed `durationMs` after its end.
Session record(kel::PrincipalW& w, int durationMs, const QElapsedTimer& clock,
               const CountingFn& counting = {}, const RecordingFn& during = {}) {
    Session s;
    WindowWatch watch(s, clock);
    qApp->installEventFilter(&watch);
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        kel::RecordingWindow* window = recordingWindow();
        if (!window || window != watch.window || s.pressedAt >= 0)
            return;
        if (window->isCountingDown()) {
            if (counting)
                counting(window, window->countdown());
            return;
        }
        if (s.countdownEnd < 0)
            return;
        const qint64 t = clock.elapsed() - s.countdownEnd;
        if (during)
            during(window, t);
        if (t >= durationMs) {
            s.pressedAt = t;
            QTest::keyClick(window, Qt::Key_Space);
        }
    });
    poll.start(2);
    w.enregistrerAnnotation();
    qApp->removeEventFilter(&watch);
    return s;
}

Session record(kel::PrincipalW& w, int durationMs) {
    QElapsedTimer clock;
    clock.start();
    return record(w, durationMs, clock);
}

QImage iconImage(const QIcon& icon) {
    return icon.pixmap(25, 25).toImage().convertToFormat(QImage::Format_ARGB32);
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

        w.setCountdownStepMs(100);
        bool timersHeld = true, windowSurvivedKeys = false;
        QString title;
        QElapsedTimer clock;
        clock.start();
        const auto checkHeld = [&] {
            timersHeld = timersHeld && !w.syncTimer->isActive() && w.webcamTimerId == 0;
        };
        const qint64 pressedAt =
            record(
                w, 4000, clock, [&](kel::RecordingWindow*, int) { checkHeld(); },
                [&](kel::RecordingWindow* window, qint64 t) {
                    checkHeld();
                    title = window->windowTitle();
                    // Escape cancels only the countdown.
                    if (t >= 1000 && t < 1010) {
                        for (int key : {int(Qt::Key_A), int(Qt::Key_Escape), int(Qt::Key_Return)})
                            QTest::keyClick(window, Qt::Key(key));
                        windowSurvivedKeys = recordingWindow() == window;
                    }
                })
                .pressedAt;
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

    // 3, 2, 1 over the live picture, a step apart, Space meanwhile doing nothing; then the file
    // begins with the picture of the end of the countdown and lasts from there to Space.
    void countdown_data() {
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<bool>("spaceWhileCounting");
        QTest::newRow("real seconds") << 1000 << false;
        QTest::newRow("short steps, Space while counting") << 250 << true;
    }
    void countdown() {
        QFETCH(int, stepMs);
        QFETCH(bool, spaceWhileCounting);

        struct BoxFirst : ScriptedDialogs {
            bool windowAtBox = true;
            bool platformBox(const QString& caption, const QString& text, Icon icon) override {
                windowAtBox = recordingWindow() != nullptr;
                return ScriptedDialogs::platformBox(caption, text, icon);
            }
        } dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = newProject();
        w.setCountdownStepMs(stepMs);
        ClockCamera clockCamera;
        CameraSwap swap(&clockCamera);

        QList<int> checked;
        QList<qint64> liveTimes;
        bool figureDrawn = true, pictureClearAfter = false;
        const Session s = record(
            w, 1500, clockCamera.clock,
            [&](kel::RecordingWindow* window, int figure) {
                if (checked.contains(figure))
                    return;
                checked << figure;
                figureDrawn = figureDrawn && whitePixels(window->grab().toImage()) > 300;
                liveTimes << ClockCamera::timeOf(window->currentImage());
                if (spaceWhileCounting && figure == 2)
                    QTest::keyClick(window, Qt::Key_Space);
            },
            [&](kel::RecordingWindow* window, qint64 t) {
                if (t >= 100 && !pictureClearAfter)
                    pictureClearAfter = whitePixels(window->grab().toImage()) == 0;
            });

        QVERIFY(!dialogs.windowAtBox);
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(s.figures, (QList<int>{3, 2, 1, 0}));
        // A step apart, without drift: a late step is made up by the next.
        for (int i = 1; i < s.figuresAt.size(); ++i) {
            const qint64 late = s.figuresAt[i] - s.figuresAt[0] - i * stepMs;
            QVERIFY2(late >= -5 && late <= 60,
                     qPrintable(QStringLiteral("figure %1 shown %2 ms late").arg(i).arg(late)));
        }
        QCOMPARE(checked, (QList<int>{3, 2, 1}));
        QVERIFY(figureDrawn);
        QVERIFY(pictureClearAfter);
        QVERIFY(std::is_sorted(liveTimes.begin(), liveTimes.end()));
        QVERIFY(liveTimes.last() - liveTimes.first() >= stepMs);
        QVERIFY(s.pressedAt >= 1500);

        const QString path = QDir(w.projectDir).filePath(QStringLiteral("annotation1.avi"));
        const Probe p = probe(path);
        const qint64 firstAt = ClockCamera::timeOf(p.first);
        QVERIFY2(firstAt >= s.countdownEnd - 60 && firstAt <= s.countdownEnd + 10,
                 qPrintable(QStringLiteral("first frame taken at %1 ms, countdown ended at %2 ms")
                                .arg(firstAt)
                                .arg(s.countdownEnd)));
        const double playedMs = p.frames * 1000.0 / 15;
        QVERIFY2(
            std::abs(playedMs - s.pressedAt) <= 1000.0 / 15 + 25,
            qPrintable(
                QStringLiteral("%1 ms played for %2 ms recorded").arg(playedMs).arg(s.pressedAt)));
        QCOMPARE(w.annotationCount, 1);
    }

    // Escape, or closing the window, during the countdown: nothing recorded, nothing changed,
    // and an annotation that was playing back goes on.
    void cancelDuringCountdown_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::addColumn<bool>("afterOne"); // while the annotation just recorded plays back
        QTest::newRow("Escape, new project") << true << false;
        QTest::newRow("window closed, new project") << false << false;
        QTest::newRow("Escape during a playback") << true << true;
    }
    void cancelDuringCountdown() {
        QFETCH(bool, byEscape);
        QFETCH(bool, afterOne);

        ScriptedDialogs dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = newProject();
        w.setCountdownStepMs(300);
        w.syncTimer->start();
        if (afterOne) {
            w.setCountdownStepMs(20);
            record(w, 3000);
            QCOMPARE(w.annotationCount, 1);
            QTRY_VERIFY(w.annotationPlayer->isPlaying());
            w.setCountdownStepMs(300);
        }
        const QStringList files = QDir(w.projectDir).entryList(QDir::Files);
        const QByteArray projectXml = [&] {
            QFile f(QDir(w.projectDir).filePath(QStringLiteral("project.xml")));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        const int count = w.annotationCount;
        const QList<int> schedule = w.annotationSchedule;
        const int comboItems = w.comboAnnotations->count();
        const bool recorded = w.annotationRecorded, sync = w.syncEnabled,
                   pending = w.transcodePending, paused = w.studentWasPaused;
        const QString recordedFile = w.recordedFile;
        const int shown = dialogs.shown.size();
        const QImage recordIcon = iconImage(QIcon(kel::resourcePath(QStringLiteral("record.png"))));
        const QImage stopIcon =
            iconImage(QIcon(kel::resourcePath(QStringLiteral("stoprecord.png"))));
        QVERIFY(!recordIcon.isNull() && recordIcon != stopIcon);

        bool stopIconShown = false, playbackHeld = true;
        QElapsedTimer clock;
        clock.start();
        const Session s = record(w, 200, clock, [&](kel::RecordingWindow* window, int figure) {
            stopIconShown = iconImage(w.bEnregistrerAnnotation->icon()) == stopIcon;
            playbackHeld = playbackHeld && !w.annotationPlayer->isPlaying();
            if (figure == 2) {
                if (byEscape)
                    QTest::keyClick(window, Qt::Key_Escape);
                else
                    window->close();
            }
        });

        QCOMPARE(s.figures, (QList<int>{3, 2}));
        QCOMPARE(s.countdownEnd, qint64(-1));
        QVERIFY(!recordingWindow());
        QVERIFY(stopIconShown);
        QVERIFY(playbackHeld);
        QCOMPARE(iconImage(w.bEnregistrerAnnotation->icon()), recordIcon);
        QCOMPARE(QDir(w.projectDir).entryList(QDir::Files), files);
        QFile xml(QDir(w.projectDir).filePath(QStringLiteral("project.xml")));
        QCOMPARE(xml.open(QIODevice::ReadOnly) ? xml.readAll() : QByteArray(), projectXml);
        QCOMPARE(w.annotationCount, count);
        QCOMPARE(w.annotationSchedule, schedule);
        QCOMPARE(w.comboAnnotations->count(), comboItems);
        QCOMPARE(w.annotationRecorded, recorded);
        QCOMPARE(w.syncEnabled, sync);
        QCOMPARE(w.transcodePending, pending);
        QCOMPARE(w.studentWasPaused, paused);
        QCOMPARE(w.recordedFile, recordedFile);
        QCOMPARE(dialogs.shown.size(), shown + 1); // the box before the countdown, no warning
        QVERIFY(w.syncTimer->isActive());
        if (afterOne) {
            QVERIFY(w.annotationPlayer->isPlaying());
            // Its end still hands it to the encoder.
            QTRY_VERIFY_WITH_TIMEOUT(!w.transcodePending, 20000);
        } else {
            QVERIFY(w.webcamTimerId != 0);
        }
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
        w.setCountdownStepMs(20);
        record(w, 200);

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
        w.setCountdownStepMs(20);
        record(w, 200);

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
        QTest::addColumn<int>("stepMs");   // of the countdown
        QTest::addColumn<bool>("missingFolder");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("told");

        QTest::newRow("camera lost mid-recording") << 600 << 50 << false << true << "conservée";
        QTest::newRow("camera lost during the countdown")
            << 200 << 1000 << false << false << "Aucune annotation";
        QTest::newRow("camera gives nothing") << 0 << 50 << false << false << "aucune image";
        QTest::newRow("file cannot be created")
            << -1 << 50 << true << false << "ne peut pas être créé";
    }
    void troubleDuringRecording() {
        QFETCH(int, cameraMs);
        QFETCH(int, stepMs);
        QFETCH(bool, missingFolder);
        QFETCH(bool, kept);
        QFETCH(QString, told);

        ScriptedDialogs dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = newProject();
        w.setCountdownStepMs(stepMs);
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
