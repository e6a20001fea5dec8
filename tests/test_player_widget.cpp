#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "support/media.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVideoWidget>
#include <QtTest>

using kel::MyVideoPlayer;

// The transport rules on a real 10-second, 25 fps video played by the real player.
class TestPlayerWidget : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString video;
    QWidget host;
    MyVideoPlayer* player = nullptr;

    // Loads the video and leaves it paused at `position` (or playing from there).
    void startAt(int position, bool playing) {
        if (!player->lectureDemarree) {
            player->fichierVideo = video;
            player->fps = 25;
            player->lectureVideo();
            QTRY_VERIFY(player->lecteur->totalTime() > 0);
        }
        player->lecteur->pause();
        player->lecteur->seek(position);
        QTRY_COMPARE(player->lecteur->currentTime(), position);
        if (playing)
            player->lecteur->play();
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        video = dir.filePath(QStringLiteral("étudiant vidéo.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 10));
        player = new MyVideoPlayer(&host);
        player->lecteur->setMuted(true);
    }
    void cleanupTestCase() { delete player; }

    void transport_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("expected");  // position afterwards; -1: the player is stopped
        QTest::addColumn<QString>("state"); // "playing", "paused" or "stopped" afterwards

        QTest::newRow(">> jumps a tenth") << ">>" << 2000 << false << 25 << 3000 << "paused";
        QTest::newRow(">> lands on the end") << ">>" << 9000 << false << 25 << 10000 << "paused";
        QTest::newRow(">> past the end stops") << ">>" << 9500 << false << 25 << -1 << "stopped";
        QTest::newRow("<< jumps back a tenth") << "<<" << 5000 << false << 25 << 4000 << "paused";
        QTest::newRow("<< clamps to 0") << "<<" << 400 << false << 25 << 0 << "paused";
        QTest::newRow("+1 steps a frame") << "+1" << 1000 << false << 25 << 1040 << "paused";
        QTest::newRow("+1 at 30 fps truncates") << "+1" << 1000 << false << 30 << 1033 << "paused";
        QTest::newRow("+1 with unknown rate") << "+1" << 1000 << false << 0 << 1040 << "paused";
        QTest::newRow("+1 at the last frame") << "+1" << 9970 << false << 25 << 9970 << "paused";
        QTest::newRow("+1 pauses a playing video") << "+1" << 3000 << true << 25 << -2 << "paused";
        QTest::newRow("-1 steps back a frame") << "-1" << 1000 << false << 25 << 960 << "paused";
        QTest::newRow("-1 within the first frame") << "-1" << 30 << false << 25 << 30 << "paused";
        QTest::newRow("-1 with unknown rate") << "-1" << 1000 << false << 0 << 960 << "paused";
        QTest::newRow("|< plays from 0") << "|<" << 4000 << false << 25 << -3 << "playing";
        QTest::newRow("|< at 0 does nothing") << "|<" << 0 << false << 25 << 0 << "paused";
    }

    void transport() {
        QFETCH(QString, button);
        QFETCH(int, from);
        QFETCH(bool, playing);
        QFETCH(int, fps);
        QFETCH(int, expected);
        QFETCH(QString, state);

        startAt(from, playing);
        player->fps = fps;
        player->nbAnnotationsJouees = 3;
        const QString textBefore = player->bLecture->text();
        QPushButton* b = button == ">>"   ? player->bAvanceRapide
                         : button == "<<" ? player->bRetourRapide
                         : button == "+1" ? player->bTrameSuivante
                         : button == "-1" ? player->bTramePrecedente
                                          : player->bDebut;
        QTest::mouseClick(b, Qt::LeftButton);

        if (state == "playing")
            QTRY_VERIFY(player->lecteur->isPlaying());
        else if (state == "paused")
            QTRY_VERIFY(player->lecteur->isPaused());
        else
            QTRY_VERIFY(!player->lecteur->isPlaying() && !player->lecteur->isPaused());

        if (expected >= 0) {
            QTRY_COMPARE(player->lecteur->currentTime(), expected);
        } else if (expected == -2) {
            // Paused first, then one frame after wherever playback had reached.
            QVERIFY(player->lecteur->currentTime() > from);
            QCOMPARE(player->bLecture->text(), textBefore);
        } else if (expected == -3) {
            QVERIFY(player->lecteur->currentTime() < 1000);
            QCOMPARE(player->bLecture->text(), QStringLiteral("||"));
            QCOMPARE(player->nbAnnotationsJouees, 0);
        }
        player->fps = 25;
    }

    void endShowsDurationAndPlayText() {
        startAt(2000, true);
        QTest::mouseClick(player->bFin, Qt::LeftButton);
        QCOMPARE(player->labelTemps->text(), QStringLiteral("00:00:10.000"));
        QCOMPARE(player->bLecture->text(), QStringLiteral(">"));
        QVERIFY(!player->timerTemps->isActive());
    }

    // Both connections of a click reach the toggle: the click must still toggle exactly once.
    void oneTogglePerClick() {
        startAt(1000, true);
        QObject relay; // stands for the main window's second connection
        connect(player->bLecture, &QPushButton::clicked, &relay,
                [this] { player->lectureVideo(); });
        QTest::mouseClick(player->bLecture, Qt::LeftButton);
        QTRY_VERIFY(player->lecteur->isPaused());
        QCOMPARE(player->bLecture->text(), QStringLiteral(">"));
        QTest::qWait(50);
        QTest::mouseClick(player->bLecture, Qt::LeftButton);
        QTRY_VERIFY(player->lecteur->isPlaying());
        QCOMPARE(player->bLecture->text(), QStringLiteral("||"));
    }

    // PAL DV stores 720 x 576 for a 16:9 or 4:3 picture: it is shown at that shape, not squeezed.
    void nonSquarePixels_data() {
        QTest::addColumn<QString>("aspect"); // of a DV file; empty: the square-pixel test video
        QTest::addColumn<QRect>("surface");  // in a 640 x 480 player
        QTest::newRow("DV 16:9") << "16:9" << QRect(0, 60, 640, 360);
        QTest::newRow("DV 4:3") << "4:3" << QRect(0, 0, 640, 480);
        QTest::newRow("square pixels") << "" << QRect(0, 0, 640, 480);
    }

    void nonSquarePixels() {
        QFETCH(QString, aspect);
        QFETCH(QRect, surface);
        QString path = video;
        if (!aspect.isEmpty()) {
            path = dir.filePath("dv" + QString(aspect).remove(':') + ".avi");
            QVERIFY(
                testmedia::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=720x576:rate=25:d=1", "-c:v",
                                   "dvvideo", "-pix_fmt", "yuv420p", "-aspect", aspect, path}));
        }
        kel::VideoPlayer p;
        p.setMuted(true);
        p.resize(640, 480);
        p.load(path);
        p.show();
        p.layout()->activate();
        QCOMPARE(p.findChild<QVideoWidget*>()->geometry(), surface);
    }

    void endWithNothingLoadedDoesNothing() {
        QWidget otherHost;
        MyVideoPlayer empty(&otherHost);
        QTest::mouseClick(empty.bFin, Qt::LeftButton);
        QCOMPARE(empty.labelTemps->text(), QStringLiteral("00:00:00.00"));
    }
};

QTEST_MAIN(TestPlayerWidget)
#include "test_player_widget.moc"
