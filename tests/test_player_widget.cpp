#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"
#include "support/media.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QVideoWidget>
#include <QtTest>

using kel::MyVideoPlayer;
using kel::SeekSlider;

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

        QTest::newRow(">> lands on the end") << ">>" << 9000 << false << 25 << 10000 << "paused";
        QTest::newRow(">> past the end stops") << ">>" << 9500 << false << 25 << -1 << "stopped";
        QTest::newRow("<< clamps to 0") << "<<" << 400 << false << 25 << 0 << "paused";
        QTest::newRow("+1 with unknown rate") << "+1" << 1000 << false << 0 << 1040 << "paused";
        QTest::newRow("+1 at the last frame") << "+1" << 9970 << false << 25 << 9970 << "paused";
        QTest::newRow("+1 pauses a playing video") << "+1" << 3000 << true << 25 << -2 << "paused";
        QTest::newRow("-1 steps back a frame") << "-1" << 1000 << false << 25 << 960 << "paused";
        QTest::newRow("-1 within the first frame") << "-1" << 30 << false << 25 << 30 << "paused";
        QTest::newRow("|< plays from 0") << "|<" << 4000 << false << 25 << -3 << "playing";
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
            // Paused first, then one frame after wherever playback had reached; the play button
            // says so.
            QVERIFY(player->lecteur->currentTime() > from);
            QTRY_COMPARE(player->bLecture->text(), QStringLiteral(">"));
        } else if (expected == -3) {
            QVERIFY(player->lecteur->currentTime() < 1000);
            QCOMPARE(player->bLecture->text(), QStringLiteral("||"));
            QCOMPARE(player->nbAnnotationsJouees, 0);
        }
        player->fps = 25;
    }

    // A file recorded again under the same name plays as the new take, with its own length.
    void reloadedFileIsReadAgain() {
        kel::VideoPlayer* p = player->lecteur;
        const QString take = dir.filePath(QStringLiteral("annotation5.avi"));
        for (int seconds : {2, 4}) {
            QFile::remove(take);
            QVERIFY(testmedia::makeVideo(take, QStringLiteral("testsrc"), seconds));
            p->load(take);
            p->play();
            QTRY_COMPARE(p->totalTime(), seconds * 1000);
        }
        p->load(QString());
        QVERIFY(p->source().isEmpty());
        player->lectureDemarree = false;
    }

    // The display holds the position and the length; "|>|" shows the end, paused.
    void timeShowsPositionAndLength() {
        startAt(3000, false);
        player->updateTimer();
        const QLabel* label = player->labelTemps;
        QCOMPARE(label->text(), QStringLiteral("00:00:03.000 / 00:00:10.000"));

        player->lecteur->play();
        QTest::mouseClick(player->bFin, Qt::LeftButton);
        QCOMPARE(label->text(), QStringLiteral("00:00:10.000 / 00:00:10.000"));
        QCOMPARE(player->bLecture->text(), QStringLiteral(">"));
        QVERIFY(!player->timerTemps->isActive());
    }

    void marksTellAndSeek_data() {
        QTest::addColumn<int>("from");    // where the video is paused
        QTest::addColumn<int>("press");   // ms under the pointer at the press
        QTest::addColumn<int>("release"); // ms under the pointer at the release
        QTest::addColumn<int>("expected");
        // clang-format off
        QTest::newRow("click on a mark")              << 6000 << 2000 << 2000 << 2000;
        QTest::newRow("click on its edge")            << 6000 << 2060 << 2060 << 2000;
        QTest::newRow("click on the handle over one") << 7100 << 7000 << 7000 << 7000;
        QTest::newRow("drag from the handle over one") << 7100 << 7000 << 9000 << 9100;
        // clang-format on
    }
    void marksTellAndSeek() {
        QFETCH(int, from);
        QFETCH(int, press);
        QFETCH(int, release);
        QFETCH(int, expected);
        startAt(from, false);
        SeekSlider* slider = player->seekSlider;
        slider->setMarks({{2000, false, 1}, {7000, true, 2}, {7000, false, 5}});
        const int y = slider->height() / 2;
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->pixelOf(press), y));
        QTest::mouseMove(slider, QPoint(slider->pixelOf(release), y));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->pixelOf(release), y));
        // A pixel of the slider is 23 ms of this video.
        QTRY_VERIFY(qAbs(player->lecteur->currentTime() - expected) <= 50);
    }

    // Each mark, at least 5 px wide, shows through the handle and names its annotation.
    void marksCanBeSeen() {
        startAt(7100, false);
        SeekSlider* slider = player->seekSlider;
        slider->setMarks({{2000, false, 1}, {7000, true, 2}, {7000, false, 5}});
        QImage image(slider->size(), QImage::Format_RGB32);
        slider->render(&image);
        const int y = slider->height() / 2;
        const int playing = slider->pixelOf(2000);
        for (int x = playing - 2; x <= playing + 2; ++x)
            QCOMPARE(image.pixelColor(x, y), QColor(0xff, 0xb3, 0x00));
        const QColor underHandle = image.pixelColor(slider->pixelOf(7000), y);
        QVERIFY2(underHandle.red() - underHandle.blue() > 40, qPrintable(underHandle.name()));

        QCOMPARE(slider->markToolTip(playing + 3), QStringLiteral("Annotation n°1 · 00:02"));
        QCOMPARE(slider->markToolTip(slider->pixelOf(7000)),
                 QStringLiteral("Annotation n°2 · 00:07\nAnnotation n°5 · 00:07"));
        QCOMPARE(slider->markToolTip(slider->pixelOf(4500)), QString());
        host.show();
        QHelpEvent hover(QEvent::ToolTip, QPoint(playing, y),
                         slider->mapToGlobal(QPoint(playing, y)));
        QCoreApplication::sendEvent(slider, &hover);
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("Annotation n°1 · 00:02"));
        host.hide();
    }

    // PAL DV stores 720 x 576 for a 16:9 or 4:3 picture: it is shown at that shape, not squeezed.
    void nonSquarePixels_data() {
        QTest::addColumn<QString>("aspect"); // of a DV file; empty: the square-pixel test video
        QTest::addColumn<QRect>("surface");  // in a 640 x 480 player
        QTest::newRow("DV 16:9") << "16:9" << QRect(0, 60, 640, 360);
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
};

QTEST_MAIN(TestPlayerWidget)
#include "test_player_widget.moc"
