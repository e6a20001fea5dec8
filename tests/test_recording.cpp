#include "common/encoder_job.h"
#include "export/export_controller.h"
#include "export/export_window.h"
#include "playback/player_widget.h"
#include "playback/synchronised_playback.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "recording/annotation_recorder.h"
#include "recording/annotation_transcoder.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"
#include "support/media.h"
#include "support/recording.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>

#include <csignal>

// Codec, size, pixel format and rate of the first video stream.
static QString probe(const QString& path) {
    return testmedia::probe(path, "codec_name,width,height,pix_fmt,r_frame_rate");
}

using testwindow::part;

static kel::VideoPlayer* player(const kel::PrincipalW& w) {
    return part<kel::VideoPlayer>(w, "annotationPlayer");
}
static bool compressing(const kel::PrincipalW& w) {
    return w.recording()->transcoder()->isBusy();
}

// The half of a picture that is white, the other black: "left", "right", or empty when neither.
static QString markedHalf(const cv::Mat& picture) {
    const int quarter = picture.cols / 4;
    const double left = cv::mean(picture.colRange(0, quarter))[1],
                 right = cv::mean(picture.colRange(picture.cols - quarter, picture.cols))[1];
    return left > 200 && right < 50 ? "left" : right > 200 && left < 50 ? "right" : QString();
}
static QString markedHalf(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    return markedHalf(cv::Mat(rgb.height(), rgb.width(), CV_8UC4,
                              const_cast<uchar*>(rgb.constBits()), size_t(rgb.bytesPerLine())));
}

// What a cancelled recording must leave as it found.
static QStringList state(const kel::PrincipalW& w) {
    return QDir(w.session()->dir()).entryList(QDir::Files)
           << QString::fromUtf8(testmedia::contents(w.session()->dir() + "/project.xml"))
           << QString::asprintf("%d %d %d %d", w.session()->count(),
                                part<QComboBox>(w, "comboAnnotations")->count(),
                                w.session()->hasChanges(), w.session()->hasAwaitingCompression());
}

// Annotation files present, the student's video ("playing", "paused" or "stopped") and whether it
// was paused last; the new file's number, its Type and FramePosition.
struct Entry {
    QList<int> existing;
    QString student;
    bool wasPaused, pauseType;
    int number, framePosition;
};
Q_DECLARE_METATYPE(Entry)

class TestRecording : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString video;  // the camera, 320 x 240, and the student's video, 10 s
    QString marked; // a camera that films white on its left half, black on its right

private slots:
    void initTestCase() {
        // The settings the window remembers stay in here.
        for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope,
                               tmp.filePath(QStringLiteral("config")));
        video = tmp.filePath(QStringLiteral("video.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 10));
        marked = tmp.filePath(QStringLiteral("marked.avi"));
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i",
                                   "color=c=black:size=320x240:rate=25:duration=3,"
                                   "drawbox=x=0:y=0:w=160:h=240:color=white:t=fill",
                                   "-c:v", "mpeg4", "-q:v", "2", marked}));
    }

    // Saved as the camera sees the teacher, so that writing reads the right way round, or
    // mirrored when the teacher asks for it, which is remembered; the preview and the recording
    // window show a mirror either way.
    void mirror_data() {
        QTest::addColumn<bool>("mirrored");
        QTest::addColumn<QString>("saved"); // the half of the recording that is marked
        QTest::newRow("as the camera sees") << false << "left";
        QTest::newRow("mirrored") << true << "right";
    }
    void mirror() {
        QFETCH(bool, mirrored);
        QFETCH(QString, saved);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           tmp.filePath(QTest::currentDataTag()));
        testrec::Studio s(marked, tmp);
        auto* box = part<QCheckBox>(s.w, "cbMiroir");
        QVERIFY(!box->isChecked()); // until the teacher asks
        box->click();
        if (!mirrored)
            box->click();
        {
            kel::PrincipalW again(marked);
            QCOMPARE(part<QCheckBox>(again, "cbMiroir")->isChecked(), mirrored);
        }
        const auto* preview = part<kel::QOpenCVWidget>(s.w, "webcamView");
        QTRY_COMPARE(preview->currentImage().width(), 320);
        QCOMPARE(markedHalf(preview->currentImage()), QStringLiteral("right"));
        QStringList shown;
        testrec::record(s.w, 500, [&shown](kel::RecordingWindow* window) {
            shown << markedHalf(window->currentImage());
        });
        shown.removeDuplicates();
        QCOMPARE(shown, QStringList{"right"});

        cv::VideoCapture capture(QFile::encodeName(s.file(1)).toStdString(), cv::CAP_FFMPEG);
        int frames = 0;
        QStringList halves;
        for (cv::Mat f; capture.read(f); ++frames)
            halves << markedHalf(f);
        halves.removeDuplicates();
        QVERIFY(frames >= 10);
        QCOMPARE(halves, QStringList{saved});
    }

    // Placed inside the area it is given (the preview's, beside the student's video), centred, the
    // picture's proportions kept, scaled down only when it must; the time recorded counts from
    // the end of the countdown, beside a red mark.
    void recordingWindow() {
        const QRect area(800, 255, 451, 375);
        for (const QSize frame : {QSize(480, 640), QSize(320, 240)}) {
            kel::RecordingWindow window;
            window.placeOver(area);
            window.show();
            window.showFrame(cv::Mat(frame.height(), frame.width(), CV_8UC3, cv::Scalar::all(128)));
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            const QRect outer = window.frameGeometry(), inner = window.geometry();
            QVERIFY2(area.contains(outer), QTest::toString(outer));
            QVERIFY((outer.center() - area.center()).manhattanLength() <= 2);
            QVERIFY(std::abs(inner.width() * frame.height() - inner.height() * frame.width()) <=
                    frame.width() + frame.height());
            QVERIFY(frame.width() > 400 ? outer.height() >= area.height() - 1
                                        : inner.size() == frame);
            if (frame.width() > 400)
                continue;
            // A red mark in the top left corner once the countdown is over, none before.
            const auto redPixels = [&window] {
                const QImage image = window.grab().toImage();
                int n = 0;
                for (int y = 0; y < image.height() / 4; ++y)
                    for (int x = 0; x < image.width() / 4; ++x) {
                        const QColor c = image.pixelColor(x, y);
                        n += c.red() > 180 && c.green() < 60 && c.blue() < 60;
                    }
                return n;
            };
            window.startCountdown(1, 300);
            QCOMPARE(redPixels(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(window.elapsedText(), QStringLiteral("00:01"), 2000);
            QVERIFY(redPixels() > 30);
            QCOMPARE(window.grab().toImage().pixelColor(160, 120), QColor(128, 128, 128));
        }
    }

    // A camera that blocks 130 ms in each read, as a webcam in a dim room, never holds the
    // window's event loop (a 10 ms timer is hardly ever late, in preview and while recording); the
    // recording still has one frame per 1/25 s of wall time, the camera's pictures repeated.
    void recordsFromASlowCamera() {
        testrec::Studio s("slow:130:" + video, tmp);
        s.setCountdownStepMs(300);
        QList<qint64> late;
        QElapsedTimer clock;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        qint64 due = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            late << qMax<qint64>(0, clock.elapsed() - due);
            due = clock.elapsed() + 10;
        });
        s.w.show();
        clock.start();
        tick.start(10);
        QTest::qWait(1500);
        const int inPreview = int(late.size());
        bool held = true; // the window's timers would start annotations under the recording
        const testrec::Session r = testrec::record(s.w, 3000, [&](kel::RecordingWindow*) {
            held = held && s.w.synchronisedPlayback()->isHeld() && !s.w.isPreviewRunning();
        });
        tick.stop();
        QCOMPARE(r.figures, (QList<int>{3, 2, 1, 0}));
        QVERIFY(held && !s.w.synchronisedPlayback()->isHeld() && s.w.isPreviewRunning());
        for (auto [from, to] : {std::pair{0, inPreview}, {inPreview, int(late.size())}}) {
            QList<qint64> part = late.mid(from, to - from);
            std::sort(part.begin(), part.end());
            const qint64 p90 = part.value(part.size() * 9 / 10),
                         worst = part.value(part.size() - 1);
            qInfo("%s: %lld ticks, 90%% within %lld ms, worst %lld ms",
                  from ? "recording" : "preview", qint64(part.size()), p90, worst);
            QVERIFY(part.size() > 50 && p90 <= 20 && worst < 100);
        }

        const QString path = s.file(1);
        QCOMPARE(probe(path), QStringLiteral("rawvideo,320,240,bgr24,25/1"));
        cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
        int frames = 0, pictures = 0;
        cv::Mat previous;
        for (cv::Mat f; capture.read(f); ++frames) {
            pictures += previous.empty() || cv::norm(f, previous, cv::NORM_INF) > 0;
            previous = f.clone();
        }
        // From the end of the countdown to Space, within one frame; about one picture per 130 ms.
        const double expected = r.recordedMs * 25 / 1000.0;
        qInfo("%d frames, %d pictures in %lld ms", frames, pictures, r.recordedMs);
        QVERIFY(std::abs(frames - expected) <= 1 && std::abs(pictures - r.recordedMs / 130.0) <= 4);

        // The end of its playback compresses it under its own name; a recording made meanwhile is
        // compressed after it, and one left raw by an earlier run when its project is opened.
        QTRY_VERIFY_WITH_TIMEOUT(player(s.w)->isHidden(), 10000);
        QVERIFY(compressing(s.w));
        const auto boxes = s.dialogs.shown.size();
        testrec::record(s.w, 1000);
        QCOMPARE(s.dialogs.shown.size(), boxes + 1); // the box before the countdown alone
        QTRY_VERIFY_WITH_TIMEOUT(player(s.w)->isHidden(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!s.w.session()->hasAwaitingCompression() && !compressing(s.w),
                                 60000);
        for (int n : {1, 2})
            QCOMPARE(probe(s.file(n)), QStringLiteral("mpeg4,640,480,yuv420p,25/1"));
        const QString dir = s.w.session()->dir();
        QVERIFY(QFile::remove(s.file(2)) &&
                testmedia::ffmpeg(
                    {"-i", video, "-t", "1", "-c:v", "rawvideo", "-pix_fmt", "bgr24", s.file(2)}));
        s.dialogs.directories << tmp.path() << dir;
        part(s.w, "bOuvrirProjet")->click();
        part(s.w, "bOuvrirProjet")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!compressing(s.w), 60000);
        QCOMPARE(probe(s.file(2)).section(',', 0, 0), QStringLiteral("mpeg4"));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"annotation1.avi", "annotation2.avi", "project.xml"}));
    }

    // A recording deleted, or left for another project, during its first playback: nothing waits
    // for it any more, and a project left is compressed all the same.
    void leftDuringFirstPlayback_data() {
        QTest::addColumn<bool>("deleted"); // else another project is opened
        QTest::newRow("deleted") << true;
        QTest::newRow("project changed") << false;
    }
    void leftDuringFirstPlayback() {
        QFETCH(bool, deleted);
        testrec::Studio s(video, tmp);
        QFile::copy(video, s.file(1));
        s.w.session()->open(s.w.session()->dir());
        const QString first = s.w.session()->dir();
        testrec::record(s.w, 1500);
        QTRY_VERIFY(player(s.w)->isPlaying());
        QCOMPARE(s.w.session()->current(), 2);
        if (deleted) {
            part(s.w, "bSupprimerAnnotation")->click();
        } else {
            const QString other =
                tmp.filePath(QStringLiteral("autre %1").arg(QTest::currentDataTag()));
            QVERIFY(QDir().mkpath(other) && QFile::copy(video, other + "/annotation1.avi"));
            s.dialogs.directories.enqueue(other);
            part(s.w, "bOuvrirProjet")->click();
            QTRY_COMPARE_WITH_TIMEOUT(probe(first + "/annotation2.avi").section(',', 0, 0),
                                      QStringLiteral("mpeg4"), 60000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!compressing(s.w), 60000);
        QVERIFY(!s.w.session()->hasAwaitingCompression());
        s.w.session()->setStudentVideo(video);
        testwindow::openProject(s.w, s.dialogs, s.w.session()->dir());
        part(s.w, "bExporter")->click();
        kel::Export* settings = s.w.exports()->settingsWindow();
        QVERIFY(settings && settings->isVisible());
        settings->close();
    }

    void cancelDuringCountdown_data() {
        QTest::addColumn<bool>("byEscape"); // else the window is closed
        QTest::addColumn<bool>("duringPlayback");
        QTest::newRow("Escape") << true << false;
        QTest::newRow("window closed") << false << false;
        QTest::newRow("Escape while the last one plays back") << true << true;
    }
    void cancelDuringCountdown() {
        QFETCH(bool, byEscape);
        QFETCH(bool, duringPlayback);
        testrec::Studio s(video, tmp);
        if (duringPlayback) {
            testrec::record(s.w, 2000);
            QTRY_VERIFY(player(s.w)->isPlaying());
        }
        const QStringList before = state(s.w);
        const auto boxes = s.dialogs.shown.size();
        s.setCountdownStepMs(300);
        const testrec::Session r = testrec::record(s.w, 0, [&](kel::RecordingWindow* window) {
            if (window->countdown() == 2)
                byEscape ? QTest::keyClick(window, Qt::Key_Escape) : void(window->close());
        });
        QCOMPARE(r.figures, (QList<int>{3, 2}));
        QCOMPARE(state(s.w), before);
        QCOMPARE(s.dialogs.shown.size(), boxes + 1); // the box before the countdown, no warning
        QVERIFY(duringPlayback ? player(s.w)->isPlaying() : s.w.isPreviewRunning());
    }

    // The file's number; the Type from the student's video (1 paused, 0 playing, unchanged when
    // stopped: `wasPaused`, a recording was made paused before) and its position, taken when R is
    // pressed: at 2.4 s of the playing video, a recording that ends near 6 s is placed at second 2.
    void newEntry_data() {
        QTest::addColumn<Entry>("e");
        // clang-format off
        QTest::newRow("12 present, 5 missing; R at 2.4 s playing") << Entry{{1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12}, "playing", true, false, 13, 50};
        QTest::newRow("1 and 4 present; paused at 2.9 s") << Entry{{1, 4}, "paused", false, true, 3, 50};
        QTest::newRow("stopped after a paused one") << Entry{{}, "stopped", true, true, 2, 0};
        QTest::newRow("stopped at start-up") << Entry{{}, "stopped", false, false, 1, 0};
        // clang-format on
    }
    void newEntry() {
        QFETCH(Entry, e);
        testrec::Studio s(video, tmp);
        for (int n : e.existing)
            QFile(s.file(n)).open(QIODevice::WriteOnly);
        s.w.session()->open(s.w.session()->dir());
        kel::VideoPlayer* lecteur = s.w.studentPlayer()->lecteur;
        lecteur->setMuted(true);
        if (e.wasPaused && e.student == QLatin1String("stopped")) {
            lecteur->load(video);
            lecteur->pause();
            QTRY_VERIFY(lecteur->isPaused());
            testrec::record(s.w, 200);
            lecteur->stop();
            QTRY_VERIFY(!lecteur->isPaused());
        }
        if (e.student != QLatin1String("stopped")) {
            lecteur->load(video);
            lecteur->play();
            QTRY_VERIFY_WITH_TIMEOUT(lecteur->currentTime() >= 2400, 10000);
        }
        if (e.student == QLatin1String("paused")) {
            lecteur->pause();
            lecteur->seek(2900);
            QTRY_VERIFY(lecteur->currentTime() == 2900 && lecteur->isPaused());
        }
        const bool playing = e.student == QLatin1String("playing");
        s.setCountdownStepMs(playing ? 300 : 20);
        s.dialogs.texts.enqueue(QStringLiteral("Le mouvement %1").arg(e.number)); // its title
        testrec::record(s.w, playing ? 2500 : 200);
        QVERIFY(!playing || lecteur->currentTime() >= 5500);

        QVERIFY(kel::AnnotationRecorder::isPlayable(s.file(e.number)));
        const QList<int> schedule = kel::ProjectFile(s.w.session()->dir()).loadAnnotationSchedule();
        QCOMPARE(schedule.mid(schedule.size() - 2), (QList<int>{e.number, e.framePosition}));
        QCOMPARE(s.w.session()->isPauseType(e.number), e.pauseType);
        QCOMPARE(s.w.session()->annotation(e.number)->title,
                 QStringLiteral("Le mouvement %1").arg(e.number));
        QVERIFY(s.w.synchronisedPlayback()->hasPlayed(e.number)); // a recording counts as played
    }

    // No Space: a recording that fails ends by itself, keeping only what was written.
    void trouble_data() {
        QTest::addColumn<int>("cameraMs"); // how long the camera delivers; -1: the project is gone
        QTest::addColumn<int>("stepMs");   // of the countdown
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("waitMs"); // before R is pressed
        // clang-format off
        QTest::newRow("camera lost mid-recording") << 600 << 50 << true << "conservée" << 0;
        QTest::newRow("camera lost in the countdown") << 200 << 1000 << false << "Aucune annotation" << 0;
        QTest::newRow("camera gives nothing") << 0 << 50 << false << "aucune image" << 0;
        QTest::newRow("project folder gone") << -1 << 50 << false << "ne peut pas être créé" << 0;
        QTest::newRow("camera lost before R") << 200 << 50 << false << "l'enregistrement est impossible" << 2500;
        // clang-format on
    }
    void trouble() {
        QFETCH(int, cameraMs);
        QFETCH(int, stepMs);
        QFETCH(bool, kept);
        QFETCH(QString, told);
        QFETCH(int, waitMs);
        testrec::Studio s(video, tmp);
        s.setCountdownStepMs(stepMs);
        const QString path = s.file(1), clip = tmp.filePath(QTest::currentDataTag()) + ".avi";
        QVERIFY(cameraMs <= 0 || testmedia::makeVideo(clip, "testsrc", cameraMs / 1000.0));
        QVERIFY(cameraMs >= 0 || QDir(s.w.session()->dir()).removeRecursively());
        // Unplugged at its end.
        s.w.setCamera(std::make_unique<kel::FileCameraSource>(cameraMs < 0 ? video : clip, false));
        QTest::qWait(waitMs);
        // Lost before R: told at once, as soon as it goes, and again at R, with no countdown.
        QVERIFY(waitMs == 0 || s.dialogs.lastText().startsWith("La webcam ne fournit plus"));
        testrec::record(s.w, -1);
        QTest::qWait(100); // a box queued at the end
        QStringList warnings;
        for (const ScriptedDialogs::Shown& b : s.dialogs.shown)
            if (b.icon == kel::Dialogs::Icon::Warning)
                warnings << b.text;
        QVERIFY2(warnings.filter(told).size() == 1, qPrintable(warnings.join('\n')));
        // The box before the countdown, only when the recording could start.
        QCOMPARE(s.dialogs.count("platform") - int(warnings.size()), cameraMs > 0 && !waitMs);
        QVERIFY(kept ? kel::AnnotationRecorder::isPlayable(path) : !QFile::exists(path));
        QCOMPARE(s.w.session()->count(), int(kept));
        QCOMPARE(kel::ProjectFile(s.w.session()->dir()).loadAnnotationSchedule().size(),
                 kept ? 2 : 0);
    }

    // Cuts of the annotation loaded, one after the other: each told and written where the paused
    // annotation stands, refused while it plays.
    void cuts() {
        testrec::Studio s(video, tmp);
        kel::ProjectFile file(s.w.session()->dir());
        file.writeAnnotationEntry(3, 0, 250);
        file.writeAnnotationEntry(4, 0, 275);
        QVERIFY(QFile::copy(video, s.file(3)) && QFile::copy(video, s.file(4)));
        s.w.session()->open(s.w.session()->dir());
        testwindow::playFromList(s.w, 3);
        kel::VideoPlayer* player = ::player(s.w);
        const auto cut = [&](bool start, int at) { // at < 0: while it plays
            at < 0 ? player->play() : (player->pause(), player->seek(at));
            if (!QTest::qWaitFor([&] { return player->isPlaying() == (at < 0); }))
                return QStringLiteral("the player did not follow");
            part(s.w, start ? "bCouperDebut" : "bCouperFin")->click();
            return s.dialogs.lastText() +
                   QStringLiteral(" | %1 %2").arg(file.readCutStart(3)).arg(file.readCutEnd(3));
        };
        const QString refused = QStringLiteral("La video doit être en pause | %1 0");
        QCOMPARE(cut(true, -1), refused.arg(0));
        QVERIFY(cut(true, 1200).endsWith("commencera au temps: \r\n00:00:01.200 | 1200 0"));
        QCOMPARE(cut(false, -1), refused.arg(1200));
        QVERIFY(cut(false, 3000).endsWith("terminera au temps: \r\n00:00:03.000 | 1200 3000"));
        // Annotation 4 starts while the confirmation is open: the cut stays with 3.
        s.dialogs.underQuestion = [&] { testwindow::playFromList(s.w, 4); };
        QVERIFY(cut(true, 1500).endsWith("commencera au temps: \r\n00:00:01.500 | 1500 3000"));
        QCOMPARE(file.readCutStart(4), 0.0);
    }

    // X deletes the annotation the list shows, or the one that played last, after a question that
    // names it; once deleted, nothing is left to play, cut or delete, and the preview runs again.
    void deletion() {
        testrec::Studio s(video, tmp);
        QList<int> remaining{1, 2, 3, 4};
        for (int n : remaining)
            QVERIFY(QFile::copy(video, s.file(n)));
        s.dialogs.directories.enqueue(s.w.session()->dir());
        part(s.w, "bOuvrirProjet")->click();
        QComboBox* list = part<QComboBox>(s.w, "comboAnnotations");
        // `shown` chosen in the list, then `played` started by itself (0: none); X clicked and the
        // question answered, `underBox` started while it is open.
        const auto pressX = [&](int shown, int played, bool confirmed, int underBox = 0) {
            if (shown) {
                list->setCurrentIndex(list->findData(shown));
                emit list->activated(list->currentIndex());
            }
            if (played)
                testwindow::playFromList(s.w, played);
            const int deleted = played ? played : shown;
            QCOMPARE(list->currentData().toInt(), deleted);
            const auto boxes = s.dialogs.shown.size();
            s.dialogs.questionAnswers.clear();
            s.dialogs.questionAnswers.enqueue(confirmed);
            if (underBox)
                s.dialogs.underQuestion = [&] { testwindow::playFromList(s.w, underBox); };
            part(s.w, "bSupprimerAnnotation")->click();
            QCOMPARE(s.dialogs.shown.size(), boxes + (deleted ? 1 : 0)); // and no warning
            if (deleted)
                QCOMPARE(s.dialogs.lastText(),
                         QStringLiteral("Êtes-vous sûr de vouloir supprimer l'annotation n°%1 ?")
                             .arg(deleted));
            const bool gone = deleted && confirmed;
            if (gone)
                remaining.removeOne(deleted);
            for (int n : {1, 2, 3, 4}) {
                QCOMPARE(QFile::exists(s.file(n)), remaining.contains(n));
                QCOMPARE(list->findData(n) >= 0, remaining.contains(n));
            }
            QCOMPARE(list->itemText(0) == "Aucune annotation", remaining.isEmpty());
            // What is left loaded: an annotation started under the question keeps its player.
            const int left = underBox ? underBox : gone ? 0 : deleted;
            QCOMPARE(player(s.w)->source().isEmpty(), left == 0);
            QCOMPARE(part(s.w, "bSupprimerAnnotation")->isEnabled(), left != 0);
            QCOMPARE(part(s.w, "bCouperDebut")->isEnabled(), left != 0);
            QCOMPARE(s.w.isPreviewRunning(), left == 0);
            if (left)
                QCOMPARE(list->currentData().toInt(), left);
        };
        pressX(0, 0, true);    // none shown
        pressX(2, 0, false);   // cancelled
        pressX(2, 3, true);    // the one that played last
        pressX(1, 0, true, 2); // 2 starts under the question
        pressX(2, 0, true);
        pressX(4, 0, true); // the last one
    }

    // Whatever goes wrong on ffmpeg's side, or when the application ends during a compression, no
    // ffmpeg and nothing of ours is left behind, and the recording stays as it was, or gone if
    // deleted. Last: it tells the application it ends.
    void compressionTrouble_data() {
        QTest::addColumn<QString>("ffmpeg"); // the fake's script; empty: none in PATH
        QTest::addColumn<QString>("end");    // what happens during the run; empty: nothing
        QTest::addColumn<QString>("told");   // in the warning; empty: none
        const QString stuck = "echo partial > \"$out\"; exec sleep 60";
        // clang-format off
        QTest::newRow("ffmpeg missing") << "" << "" << "ffmpeg est introuvable";
        QTest::newRow("recording deleted") << QString("sleep 0.5; cp '%1' \"$out\"").arg(video) << "deleted" << "";
        QTest::newRow("quit") << stuck << "quitter" << "";
        QTest::newRow("window destroyed") << stuck << "destroyed" << "";
        QTest::newRow("application ends, window left") << stuck << "aboutToQuit" << "";
        // clang-format on
    }
    void compressionTrouble() {
        QFETCH(QString, ffmpeg);
        QFETCH(QString, end);
        QFETCH(QString, told);
        const QString dir = tmp.filePath(QTest::currentDataTag()); // the project, and ffmpeg
        const QString recording = dir + "/annotation3.avi";
        const QString output = kel::AnnotationTranscoder::workPath(recording);
        QVERIFY(QDir().mkpath(dir) && QFile::copy(video, recording) &&
                testmedia::writeFake(dir + "/ffmpeg", ffmpeg.toUtf8()));
        const auto path =
            testmedia::pathFirst(ffmpeg.isEmpty() ? "/nonexistent" : dir, ffmpeg.isEmpty());

        ScriptedDialogs dialogs;
        QPointer<kel::PrincipalW> w = new kel::PrincipalW(video);
        const auto gone = qScopeGuard([&w] { delete w; }); // also when a check fails
        w->session()->open(dir);
        w->recording()->compress(3);
        const kel::EncoderJob* job = w->recording()->transcoder()->job();
        const qint64 pid = job ? job->process()->processId() : 0;
        if (end == QLatin1String("deleted"))
            QVERIFY(QFile::remove(recording));
        // A stuck ffmpeg is ended once it has written something.
        QTRY_VERIFY_WITH_TIMEOUT(
            end.isEmpty() || end == "deleted" ? !compressing(*w) : QFile::exists(output), 20000);
        if (end == QLatin1String("quitter"))
            part(*w, "bQuitter")->click();
        else if (end == QLatin1String("destroyed"))
            delete w;
        else if (end == QLatin1String("aboutToQuit")) // as Escape ends the application
            QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
        QVERIFY(ffmpeg.isEmpty() ? pid == 0 : pid > 0 && ::kill(pid_t(pid), 0) != 0);
        QVERIFY(!QFile::exists(output));
        QCOMPARE(testmedia::contents(recording),
                 end == "deleted" ? QByteArray() : testmedia::contents(video));
        QCOMPARE(dialogs.count(QStringLiteral("platform")), told.isEmpty() ? 0 : 1);
        QVERIFY2(dialogs.lastText().contains(told), qPrintable(dialogs.lastText()));
    }
};

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
