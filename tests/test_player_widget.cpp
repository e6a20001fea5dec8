#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"
#include "support/media.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QToolTip>
#include <QVideoWidget>
#include <QtTest>

using kel::MyVideoPlayer;
using kel::SeekSlider;

// A button pressed on the video paused (or playing) at `from`, at `fps` (0: unknown); afterwards
// the position from `low` to `high` (-1: not checked), the state, and the play button's text
// (empty: not checked).
struct Press {
    QPushButton* MyVideoPlayer::*button;
    int from;
    bool playing;
    int fps, low, high;
    QString state, label; // state: "playing", "paused" or "stopped"
};
Q_DECLARE_METATYPE(Press)

// A press on the seek slider, the video paused at `from`: ms under the pointer at the press and at
// the release, and the position afterwards.
struct Drag {
    int from, press, release, expected;
};
Q_DECLARE_METATYPE(Drag)

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
        video = dir.filePath(QStringLiteral("étudiant vidéo.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 10));
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=720x576:rate=25:d=1", "-c:v",
                                   "dvvideo", "-pix_fmt", "yuv420p", "-aspect", "16:9",
                                   dir.filePath("dv.avi")}));
        player = new MyVideoPlayer(&host);
        player->lecteur->setMuted(true);
        player->seekSlider->setMarks({{2000, false, 1}, {7000, true, 2}, {7000, false, 5}});
    }

    void transport_data() {
        QTest::addColumn<Press>("c");
        using P = MyVideoPlayer;
        // clang-format off
        QTest::newRow(">> lands on the end")       << Press{&P::bAvanceRapide, 9000, false, 25, 10000, 10000, "paused", ""};
        QTest::newRow(">> past the end stops")     << Press{&P::bAvanceRapide, 9500, false, 25, -1, -1, "stopped", ""};
        QTest::newRow("<< clamps to 0")            << Press{&P::bRetourRapide, 400, false, 25, 0, 0, "paused", ""};
        QTest::newRow("+1 with unknown rate")      << Press{&P::bTrameSuivante, 1000, false, 0, 1040, 1040, "paused", ""};
        QTest::newRow("+1 at the last frame")      << Press{&P::bTrameSuivante, 9970, false, 25, 9970, 9970, "paused", ""};
        // Paused first, then one frame after wherever playback had reached.
        QTest::newRow("+1 pauses a playing video") << Press{&P::bTrameSuivante, 3000, true, 25, 3001, 10000, "paused", ">"};
        QTest::newRow("-1 steps back a frame")     << Press{&P::bTramePrecedente, 1000, false, 25, 960, 960, "paused", ""};
        QTest::newRow("-1 within the first frame") << Press{&P::bTramePrecedente, 30, false, 25, 30, 30, "paused", ""};
        QTest::newRow("|< plays from 0")           << Press{&P::bDebut, 4000, false, 25, 0, 999, "playing", "||"};
        // clang-format on
    }

    void transport() {
        QFETCH(Press, c);
        startAt(c.from, c.playing);
        player->fps = c.fps;
        player->nbAnnotationsJouees = 3;
        QTest::mouseClick(player->*c.button, Qt::LeftButton);
        kel::VideoPlayer* p = player->lecteur;
        QTRY_COMPARE(QString(p->isPlaying()  ? "playing"
                             : p->isPaused() ? "paused"
                                             : "stopped"),
                     c.state);
        QTRY_VERIFY2(c.low < 0 || (p->currentTime() >= c.low && p->currentTime() <= c.high),
                     qPrintable(QString::number(p->currentTime())));
        QTRY_COMPARE(c.label.isEmpty() ? c.label : player->bLecture->text(), c.label);
        // Only |< starts the annotations again.
        QCOMPARE(player->nbAnnotationsJouees, c.button == &MyVideoPlayer::bDebut ? 0 : 3);
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
        player->lectureDemarree = false;
    }

    // "|>|" shows the end, paused, its time at once.
    void endShowsItsTime() {
        startAt(3000, true);
        QTest::mouseClick(player->bFin, Qt::LeftButton);
        QCOMPARE(player->labelTemps->text(), QStringLiteral("00:00:10.000 / 00:00:10.000"));
        QCOMPARE(player->bLecture->text(), QStringLiteral(">"));
        QVERIFY(!player->timerTemps->isActive());
    }

    void marksTellAndSeek_data() {
        QTest::addColumn<Drag>("c");
        // clang-format off
        QTest::newRow("click on a mark")               << Drag{6000, 2000, 2000, 2000};
        QTest::newRow("click on its edge")             << Drag{6000, 2060, 2060, 2000};
        QTest::newRow("click on the handle over one")  << Drag{7100, 7000, 7000, 7000};
        QTest::newRow("drag from the handle over one") << Drag{7100, 7000, 9000, 9100};
        // clang-format on
    }
    void marksTellAndSeek() {
        QFETCH(Drag, c);
        startAt(c.from, false);
        SeekSlider* slider = player->seekSlider;
        const int y = slider->height() / 2;
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->pixelOf(c.press), y));
        QTest::mouseMove(slider, QPoint(slider->pixelOf(c.release), y));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->pixelOf(c.release), y));
        // A pixel of the slider is 23 ms of this video.
        QTRY_VERIFY(qAbs(player->lecteur->currentTime() - c.expected) <= 50);
    }

    // Each mark (set at the start: 1 at 2 s, 2 pausing and 5 at 7 s), at least 5 px wide, shows
    // through the handle and names its annotation.
    void marksCanBeSeen() {
        startAt(7100, false);
        SeekSlider* slider = player->seekSlider;
        QImage image(slider->size(), QImage::Format_RGB32);
        slider->render(&image);
        const int y = slider->height() / 2;
        const int playing = slider->pixelOf(2000);
        for (int x = playing - 2; x <= playing + 2; ++x)
            QCOMPARE(image.pixelColor(x, y), QColor(0xff, 0xb3, 0x00));
        const QColor underHandle = image.pixelColor(slider->pixelOf(7000), y);
        QVERIFY2(underHandle.red() - underHandle.blue() > 40, qPrintable(underHandle.name()));

        QCOMPARE(slider->markToolTip(slider->pixelOf(7000)),
                 QStringLiteral("Annotation n°2 · 00:07\nAnnotation n°5 · 00:07"));
        QCOMPARE(slider->markToolTip(slider->pixelOf(4500)), QString());
        host.show();
        QHelpEvent hover(QEvent::ToolTip, QPoint(playing + 3, y),
                         slider->mapToGlobal(QPoint(playing + 3, y)));
        QCoreApplication::sendEvent(slider, &hover);
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("Annotation n°1 · 00:02"));
        host.hide();
    }

    // PAL DV stores 720 x 576 for a 16:9 picture: it is shown at that shape, not squeezed.
    void nonSquarePixels_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QRect>("surface"); // in a 640 x 480 player
        QTest::newRow("DV 16:9") << dir.filePath("dv.avi") << QRect(0, 60, 640, 360);
        QTest::newRow("square pixels") << video << QRect(0, 0, 640, 480);
    }

    void nonSquarePixels() {
        QFETCH(QString, path);
        QFETCH(QRect, surface);
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
