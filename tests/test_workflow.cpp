#include "app/globals.h"
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"
#include "support/window.h"

#include <QComboBox>
#include <QMediaPlayer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using kel::PrincipalW;
using kel::ProjectFile;
using kel::SeekSlider;

// Keys, speed and timeline marks on the real players: a project whose annotation 1 is at 2 s and
// annotation 2 (made while paused) at 4 s, over an 8-second student video.
class TestWorkflow : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString project, studentVideo;
    ScriptedDialogs* dialogs = nullptr;
    PrincipalW* w = nullptr;
    kel::MyVideoPlayer* sp = nullptr;

    void pauseAt(int ms) {
        sp->lecteur->pause();
        sp->lecteur->seek(ms);
        QTRY_COMPARE(sp->lecteur->currentTime(), ms);
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        studentVideo = QDir(tmp.path()).filePath(QStringLiteral("student.avi"));
        QVERIFY(testmedia::makeVideo(studentVideo, QStringLiteral("testsrc"), 8));
        project = QDir(tmp.path()).filePath(QStringLiteral("projet"));
        QDir().mkpath(project);
        for (int n : {1, 2})
            QVERIFY(testmedia::makeVideo(QDir(project).filePath(ProjectFile::annotationFileName(n)),
                                         QStringLiteral("color=c=green"), 1, 25,
                                         QStringLiteral("160x120")));
        ProjectFile file(project);
        file.writeAnnotationEntry(1, 0, 50);
        file.writeAnnotationEntry(2, 1, 100);

        dialogs = new ScriptedDialogs;
        w = new PrincipalW(QStringLiteral("/nonexistent/camera.avi"));
        sp = w->studentPlayer;
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QVERIFY(testwindow::openProjectAndVideo(*w, *dialogs, project, studentVideo));
        pauseAt(500);
    }
    void cleanupTestCase() {
        delete w;
        delete dialogs;
    }

    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("expected"); // -1: playing from the start
        // clang-format off
        QTest::newRow("Right: next frame")        << int(Qt::Key_Right) << 0 << 1000 << 1040;
        QTest::newRow("Left: previous frame")     << int(Qt::Key_Left) << 0 << 1000 << 960;
        QTest::newRow("Shift+Right: a tenth on")  << int(Qt::Key_Right) << int(Qt::ShiftModifier) << 1000 << 1800;
        QTest::newRow("Shift+Left: a tenth back") << int(Qt::Key_Left) << int(Qt::ShiftModifier) << 3000 << 2200;
        QTest::newRow("End: to the end")          << int(Qt::Key_End) << 0 << 1000 << 8000;
        QTest::newRow("N: next annotation")       << int(Qt::Key_N) << 0 << 2500 << 4000;
        QTest::newRow("P: previous annotation")   << int(Qt::Key_P) << 0 << 5500 << 4000;
        QTest::newRow("P skips one just passed")  << int(Qt::Key_P) << 0 << 4500 << 2000;
        QTest::newRow("Home: play from the start") << int(Qt::Key_Home) << 0 << 3000 << -1;
        // clang-format on
    }
    void keys() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, from);
        QFETCH(int, expected);
        pauseAt(from);
        QTest::keyClick(w, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        if (expected >= 0) {
            QTRY_COMPARE(sp->lecteur->currentTime(), expected);
        } else {
            QTRY_VERIFY(sp->lecteur->isPlaying());
            QVERIFY(sp->lecteur->currentTime() < 1000);
        }
    }

    // Space toggles once per press although the click reaches the toggle twice.
    void spaceToggles() {
        pauseAt(1000);
        QTest::keyClick(w, Qt::Key_Space);
        QTRY_VERIFY(sp->lecteur->isPlaying());
        QCOMPARE(sp->bLecture->text(), QStringLiteral("||"));
        QTest::qWait(30);
        QTest::keyClick(w, Qt::Key_Space);
        QTRY_VERIFY(sp->lecteur->isPaused());
        QCOMPARE(sp->bLecture->text(), QStringLiteral(">"));
    }

    // The project's annotations are marked at their place, a pausing one in its own colour.
    void marksAtTheirPixels() {
        SeekSlider* slider = sp->seekSlider;
        QCOMPARE(slider->marks(), (QList<SeekSlider::Mark>{{2000, false, 1}, {4000, true, 2}}));
        QImage image(slider->size(), QImage::Format_RGB32);
        slider->render(&image);
        QCOMPARE(image.pixelColor(slider->pixelOf(4000), 1), QColor(0xe5, 0x39, 0x35));
        // Two seconds of an eight-second groove lie a quarter of the way along.
        QVERIFY(qAbs(slider->pixelOf(2000) - slider->pixelOf(0) -
                     (slider->pixelOf(8000) - slider->pixelOf(0)) / 4) <= 1);
    }

    // At twice the speed, annotation 1 still starts within its second.
    void speedKeepsTheTriggerRule() {
        emit sp->vitesse->activated(5);
        QCOMPARE(sp->lecteur->playbackRate(), 2.0);
        int startedAt = -1;
        auto c = connect(w->annotationPlayer->mediaPlayer(), &QMediaPlayer::sourceChanged, this,
                         [&](const QUrl& url) {
                             if (url.fileName() == QStringLiteral("annotation1.avi"))
                                 startedAt = sp->lecteur->currentTime();
                         });
        pauseAt(500);
        QTest::mouseClick(sp->bDebut, Qt::LeftButton); // re-arms every annotation
        QTRY_VERIFY_WITH_TIMEOUT(startedAt >= 0, 5000);
        disconnect(c);
        QVERIFY2(startedAt >= 2000 && startedAt < 2500, qPrintable(QString::number(startedAt)));
        QCOMPARE(sp->lecteur->playbackRate(), 2.0);
        emit sp->vitesse->activated(3);
        QCOMPARE(sp->lecteur->playbackRate(), 1.0);
    }
};

QTEST_MAIN(TestWorkflow)
#include "test_workflow.moc"
