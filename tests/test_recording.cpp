#include "app/globals.h"
#include "export/export_window.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "recording/annotation_recorder.h"
#include "recording/camera_source.h"
#include "support/media.h"
#include "support/recording.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>

// Codec, size, pixel format, rate and frame count of the first video stream.
static QStringList probe(const QString& path) {
    QProcess ff;
    ff.start(QStringLiteral("ffprobe"),
             {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
              "stream=codec_name,width,height,pix_fmt,r_frame_rate,nb_read_frames", "-of",
              "csv=p=0", path});
    ff.waitForFinished(60000);
    return QString::fromUtf8(ff.readAllStandardOutput()).trimmed().split(',');
}

// What a cancelled recording must leave as it found.
static QStringList state(const kel::PrincipalW& w) {
    QFile xml(QDir(w.session->dir()).filePath(QStringLiteral("project.xml")));
    xml.open(QIODevice::ReadOnly);
    return QDir(w.session->dir()).entryList(QDir::Files)
           << QString::fromUtf8(xml.readAll())
           << QString::asprintf("%d %d %d %d %d", w.session->count(), w.comboAnnotations->count(),
                                w.session->hasChanges(), w.session->hasAwaitingCompression(),
                                w.studentWasPaused);
}

class TestRecording : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString video; // the camera, 320 x 240, and the student's video, 10 s

private slots:
    void initTestCase() {
        video = tmp.filePath(QStringLiteral("video.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 10));
    }

    void recordsAndCompresses() {
        testrec::Studio s(video, tmp);
        s.w.setCountdownStepMs(300);
        s.w.syncTimer->start();
        bool held = true; // the window's timers would start annotations under the recording
        const testrec::Session r = testrec::record(s.w, 3000, [&](kel::RecordingWindow*) {
            held = held && !s.w.syncTimer->isActive() && s.w.webcamTimerId == 0;
        });
        QCOMPARE(r.figures, (QList<int>{3, 2, 1, 0}));
        QVERIFY(held && s.w.syncTimer->isActive() && s.w.webcamTimerId != 0);
        QCOMPARE(s.dialogs.shown.first().text,
                 QStringLiteral("Appuyez sur la touche ESPACE pour arrêter l'enregistrement"));

        const QString path = s.file(1);
        const QStringList p = probe(path);
        QCOMPARE(p.mid(0, 5).join(','), QStringLiteral("rawvideo,320,240,bgr24,15/1"));
        // From the end of the countdown to Space, within one frame.
        const double playedMs = p.value(5).toInt() * 1000.0 / 15;
        QVERIFY2(std::abs(playedMs - r.recordedMs) <= 1000.0 / 15 + 25,
                 qPrintable(QStringLiteral("%1 ms for %2 ms").arg(playedMs).arg(r.recordedMs)));

        // The end of its playback hands it to ffmpeg; the compressed file takes its name.
        QTRY_VERIFY_WITH_TIMEOUT(!s.w.session->hasAwaitingCompression() && !s.w.isTranscoding(),
                                 60000);
        QCOMPARE(probe(path).mid(0, 5).join(','), QStringLiteral("mpeg4,640,480,yuv420p,25/1"));
        QCOMPARE(QDir(s.w.session->dir()).entryList(QDir::Files),
                 (QStringList{"annotation1.avi", "project.xml"}));
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
        s.w.session->open(s.w.session->dir());
        const QString first = s.w.session->dir();
        testrec::record(s.w, 1500);
        QTRY_VERIFY(s.w.annotationPlayer->isPlaying());
        QCOMPARE(s.w.session->current(), 2);
        if (deleted) {
            s.w.bSupprimerAnnotation->click();
        } else {
            const QString other =
                tmp.filePath(QStringLiteral("autre %1").arg(QTest::currentDataTag()));
            QVERIFY(QDir().mkpath(other) && QFile::copy(video, other + "/annotation1.avi"));
            s.dialogs.directories.enqueue(other);
            s.w.on_bOuvrirProjet_clicked();
            QTRY_COMPARE_WITH_TIMEOUT(probe(first + "/annotation2.avi").value(0),
                                      QStringLiteral("mpeg4"), 60000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!s.w.isTranscoding(), 60000);
        QVERIFY(!s.w.session->hasAwaitingCompression());
        s.w.studentVideoPath = video;
        s.w.exporter();
        QVERIFY(kel::exportWindow && kel::exportWindow->isVisible());
        kel::exportWindow->close();
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
            QTRY_VERIFY(s.w.annotationPlayer->isPlaying());
        }
        const QStringList before = state(s.w);
        const auto boxes = s.dialogs.shown.size();
        s.w.setCountdownStepMs(300);
        const testrec::Session r = testrec::record(s.w, 0, [&](kel::RecordingWindow* window) {
            if (window->countdown() == 2)
                byEscape ? QTest::keyClick(window, Qt::Key_Escape) : void(window->close());
        });
        QCOMPARE(r.figures, (QList<int>{3, 2}));
        QCOMPARE(state(s.w), before);
        QCOMPARE(s.dialogs.shown.size(), boxes + 1); // the box before the countdown, no warning
        QVERIFY(duringPlayback ? s.w.annotationPlayer->isPlaying() : s.w.webcamTimerId != 0);
    }

    // The file's number, and the Type from the student's video: 1 paused, 0 playing, unchanged
    // when stopped.
    void newEntry_data() {
        QTest::addColumn<QList<int>>("existing"); // as many as counted
        QTest::addColumn<QString>("student");
        QTest::addColumn<bool>("wasPaused");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("pauseType");
        QTest::addColumn<int>("framePosition"); // -1: not checked
        // clang-format off
        QTest::newRow("12 present, 5 missing; playing") << QList<int>{1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12} << "playing" << true << 13 << false << -1;
        QTest::newRow("1 and 4 present; paused at 2.9 s") << QList<int>{1, 4} << "paused" << false << 3 << true << 50;
        QTest::newRow("stopped after a paused one") << QList<int>{} << "stopped" << true << 1 << true << 0;
        QTest::newRow("stopped at start-up") << QList<int>{} << "stopped" << false << 1 << false << 0;
        // clang-format on
    }
    void newEntry() {
        QFETCH(QList<int>, existing);
        QFETCH(QString, student);
        QFETCH(bool, wasPaused);
        QFETCH(int, number);
        QFETCH(bool, pauseType);
        QFETCH(int, framePosition);
        testrec::Studio s(video, tmp);
        for (int n : existing)
            QFile(s.file(n)).open(QIODevice::WriteOnly);
        s.w.session->open(s.w.session->dir());
        s.w.studentWasPaused = wasPaused;
        kel::VideoPlayer* lecteur = s.w.studentPlayer->lecteur;
        if (student != QLatin1String("stopped")) {
            lecteur->load(video);
            lecteur->play();
            QTRY_VERIFY(lecteur->totalTime() > 0 && lecteur->isPlaying());
        }
        if (student == QLatin1String("paused")) {
            lecteur->pause();
            lecteur->seek(2900);
            QTRY_VERIFY(lecteur->currentTime() == 2900 && lecteur->isPaused());
        }
        testrec::record(s.w, 200);

        QVERIFY(kel::AnnotationRecorder::isPlayable(s.file(number)));
        const kel::ProjectFile file(s.w.session->dir());
        const QList<int> schedule = file.loadAnnotationSchedule();
        QCOMPARE(schedule.value(0), number);
        QVERIFY(framePosition < 0 || schedule.value(1) == framePosition);
        QCOMPARE(s.w.session->isPauseType(number), pauseType);
    }

    // The moment chosen is when R is pressed: at 2.4 s of the playing student video, a recording
    // that ends near 6 s is placed at second 2.
    void placedWhereRecordWasPressed() {
        testrec::Studio s(video, tmp);
        kel::VideoPlayer* student = s.w.studentPlayer->lecteur;
        student->setMuted(true);
        student->load(video);
        student->play();
        QTRY_VERIFY_WITH_TIMEOUT(student->currentTime() >= 2400, 10000);
        s.w.setCountdownStepMs(300);
        testrec::record(s.w, 2500);
        QVERIFY2(student->currentTime() >= 5500,
                 qPrintable(QString::number(student->currentTime())));
        QCOMPARE(s.w.session->annotation(1)->entry.framePosition, 50);
        QCOMPARE(s.w.session->annotation(1)->entry.type, 0);
    }

    // A recording made while the previous one is compressed is compressed after it; recordings
    // left raw by an earlier run are compressed when their project is opened.
    void compressedOneAfterTheOther() {
        testrec::Studio s(video, tmp);
        testrec::record(s.w, 1000);
        QTRY_VERIFY_WITH_TIMEOUT(s.w.annotationPlayer->isHidden(), 10000);
        QVERIFY(s.w.isTranscoding());
        const auto boxes = s.dialogs.shown.size();
        testrec::record(s.w, 1000);
        QCOMPARE(s.dialogs.shown.size(), boxes + 1); // the box before the countdown alone
        QTRY_VERIFY_WITH_TIMEOUT(s.w.annotationPlayer->isHidden(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!s.w.isTranscoding(), 60000);
        for (int n : {1, 2})
            QCOMPARE(probe(s.file(n)).value(0), QStringLiteral("mpeg4"));

        // Left raw, as a recording is when KEL was closed before its compression.
        const QString dir = s.w.session->dir();
        QVERIFY(QFile::remove(s.file(2)) &&
                testmedia::ffmpeg(
                    {"-i", video, "-t", "1", "-c:v", "rawvideo", "-pix_fmt", "bgr24", s.file(2)}));
        s.dialogs.directories << tmp.path() << dir;
        s.w.on_bOuvrirProjet_clicked();
        s.w.on_bOuvrirProjet_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(!s.w.isTranscoding(), 60000);
        QCOMPARE(probe(s.file(2)).value(0), QStringLiteral("mpeg4"));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"annotation1.avi", "annotation2.avi", "project.xml"}));
    }

    // A camera that blocks 130 ms in each read never holds the window's event loop: in preview
    // and while recording, a 10 ms timer is hardly ever late.
    void slowCameraNeverHoldsTheWindow() {
        testrec::Studio s("slow:130:" + video, tmp);
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
        testrec::record(s.w, 1500);
        tick.stop();
        QVERIFY(kel::AnnotationRecorder::isPlayable(s.file(1)));
        for (auto [from, to] : {std::pair{0, inPreview}, {inPreview, int(late.size())}}) {
            QList<qint64> part = late.mid(from, to - from);
            std::sort(part.begin(), part.end());
            const qint64 p90 = part.value(part.size() * 9 / 10),
                         worst = part.value(part.size() - 1);
            qInfo("%s: %lld ticks, 90%% within %lld ms, worst %lld ms",
                  from ? "recording" : "preview", qint64(part.size()), p90, worst);
            QVERIFY(part.size() > 50 && p90 <= 20 && worst < 100);
        }
    }

    // No Space: a recording that fails ends by itself, keeping only what was written.
    void trouble_data() {
        QTest::addColumn<int>("cameraMs"); // how long the camera delivers; -1: the project is gone
        QTest::addColumn<int>("stepMs");   // of the countdown
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("told");
        // clang-format off
        QTest::newRow("camera lost mid-recording") << 600 << 50 << true << "conservée";
        QTest::newRow("camera lost in the countdown") << 200 << 1000 << false << "Aucune annotation";
        QTest::newRow("camera gives nothing") << 0 << 50 << false << "aucune image";
        QTest::newRow("project folder gone") << -1 << 50 << false << "ne peut pas être créé";
        // clang-format on
    }
    void trouble() {
        QFETCH(int, cameraMs);
        QFETCH(int, stepMs);
        QFETCH(bool, kept);
        QFETCH(QString, told);
        testrec::Studio s(video, tmp);
        s.w.setCountdownStepMs(stepMs);
        const QString path = s.file(1), clip = tmp.filePath(QTest::currentDataTag()) + ".avi";
        QVERIFY(cameraMs <= 0 || testmedia::makeVideo(clip, "testsrc", cameraMs / 1000.0));
        QVERIFY(cameraMs >= 0 || QDir(s.w.session->dir()).removeRecursively());
        // Unplugged at its end.
        s.w.setCamera(std::make_unique<kel::FileCameraSource>(cameraMs < 0 ? video : clip, false));
        testrec::record(s.w, -1);

        QCOMPARE(s.dialogs.shown.last().icon, kel::Dialogs::Icon::Warning);
        QVERIFY2(s.dialogs.lastText().contains(told), qPrintable(s.dialogs.lastText()));
        QVERIFY(kept ? kel::AnnotationRecorder::isPlayable(path) : !QFile::exists(path));
        QCOMPARE(s.w.session->count(), int(kept));
        QCOMPARE(kel::ProjectFile(s.w.session->dir()).loadAnnotationSchedule().size(),
                 kept ? 2 : 0);
    }
};

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
