#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"
#include "support/media.h"

#include <QLabel>
#include <QLayout>
#include <QMediaPlayer>
#include <QPushButton>
#include <QToolTip>
#include <QVideoWidget>
#include <QtTest>

#include <algorithm>

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

// A jump to `ms` in a video of a container, then `clicks` presses of `button` (none: nullptr); the
// video paused throughout, or played a while from there before the presses, or playing.
struct Move {
    enum Mode { Paused, PlayThenPause, Playing };
    QString file;
    int ms;
    QPushButton* MyVideoPlayer::*button;
    int clicks;
    Mode mode = Paused;
};
Q_DECLARE_METATYPE(Move)

namespace {
// Each frame carries its number in binary: ten columns across the top half, white for a one.
const QString kNumbered = QStringLiteral(
    "geq=lum='if(lt(Y,H/2),255*mod(floor(N/pow(2,floor(X*10/W))),2),128)':cb=128:cr=128");

int frameNumberOf(const QImage& picture) {
    if (picture.isNull())
        return -1;
    int n = 0;
    for (int bit = 0; bit < 10; ++bit) {
        const QPoint at(int((bit + 0.5) * picture.width() / 10), picture.height() / 4);
        if (qGray(picture.pixel(at)) > 128)
            n |= 1 << bit;
    }
    return n;
}

// The time of each frame in ms from the first, as ffprobe reads them.
QList<double> frameTimes(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "frame=pts_time", "-of", "csv=p=0", path});
    p.waitForFinished(60000);
    QList<double> times;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            times << line.split(',').first().toDouble() * 1000;
    std::sort(times.begin(), times.end());
    const double first = times.isEmpty() ? 0 : times.first();
    for (double& t : times)
        t -= first;
    return times;
}
} // namespace

// The transport rules on a real 10-second, 25 fps video played by the real player.
class TestPlayerWidget : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString video;
    QWidget host;
    MyVideoPlayer* player = nullptr;
    // A second player for the containers, each frame numbered, and each file's frame times.
    QWidget containerHost;
    MyVideoPlayer* numbered = nullptr;
    QHash<QString, QList<double>> times;

    // Frames that tell their number, in the containers whose pictures the back end misplaces.
    void makeNumberedVideos() {
        const QString source = QStringLiteral("color=c=gray:size=%1:rate=%2:d=%3,format=yuv420p,");
        // A browser's recording: written to a pipe, so without duration or index; a key frame
        // every 5 s.
        QProcess browser;
        browser.setStandardOutputFile(dir.filePath("browser.webm"));
        browser.start("ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i",
                                 source.arg("320x240").arg(30).arg(24) + kNumbered, "-c:v",
                                 "libvpx", "-deadline", "realtime", "-cpu-used", "8", "-b:v", "1M",
                                 "-g", "150", "-f", "webm", "pipe:1"});
        QVERIFY(browser.waitForFinished(120000) && browser.exitCode() == 0);
        // A phone's: frames 33 to 47 ms apart, slower after 5 s, stored out of order (B-frames),
        // held upright and stored lying with the rotation that turns it back.
        QVERIFY(testmedia::ffmpeg(
            {"-f", "lavfi", "-i",
             source.arg("240x320").arg(30).arg(12) + kNumbered +
                 ",transpose=clock,settb=1/90000,"
                 "setpts='floor((N*100/3+if(mod(N,3),0,14)+max(N-150,0)*9)*90)'",
             "-fps_mode", "passthrough", "-video_track_timescale", "90000", "-c:v", "libx264", "-g",
             "60", "-bf", "3", "-x264-params", "b-adapt=0", dir.filePath("lying.mp4")}));
        QVERIFY(testmedia::ffmpeg({"-i", dir.filePath("lying.mp4"), "-c", "copy", "-metadata:s:v",
                                   "rotate=90", dir.filePath("phone.mp4")}));
        // A camcorder's: interlaced MPEG-2 with B-frames in a transport stream, which starts at
        // 1.4 s.
        QVERIFY(testmedia::ffmpeg(
            {"-f", "lavfi", "-i", source.arg("720x576").arg(25).arg(12) + kNumbered, "-c:v",
             "mpeg2video", "-b:v", "4M", "-flags", "+ilme+ildct", "-top", "1", "-g", "12", "-bf",
             "2", "-f", "mpegts", dir.filePath("camcorder.mts")}));
        for (const char* name : {"browser.webm", "phone.mp4", "camcorder.mts"}) {
            times[name] = frameTimes(dir.filePath(name));
            QVERIFY(times[name].size() >= 300);
        }
        numbered = new MyVideoPlayer(&containerHost);
        numbered->lecteur->setMuted(true);
    }

    // The number of the frame whose time the player shows.
    int frameAt(const QString& file, int ms) const {
        const QList<double>& t = times[file];
        // The position is whole milliseconds, truncated.
        const auto after = std::upper_bound(t.begin(), t.end(), ms + 0.999);
        return int(std::max<qsizetype>(0, after - t.begin() - 1));
    }

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
        // Copies of videos the player makes are kept in the cache: the test's own.
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("cache")));
        video = dir.filePath(QStringLiteral("étudiant vidéo.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 10));
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=720x576:rate=25:d=1", "-c:v",
                                   "dvvideo", "-pix_fmt", "yuv420p", "-aspect", "16:9",
                                   dir.filePath("dv.avi")}));
        makeNumberedVideos();
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
        // A step back from there shows its time too.
        QTRY_VERIFY(!player->lecteur->isPlaying());
        QTest::mouseClick(player->bTramePrecedente, Qt::LeftButton);
        QCOMPARE(player->labelTemps->text(), QStringLiteral("00:00:09.920 / 00:00:10.000"));
    }

    void marksTellAndSeek_data() {
        QTest::addColumn<Drag>("c");
        // clang-format off
        QTest::newRow("click on a mark")               << Drag{6000, 2000, 2000, 2000};
        QTest::newRow("click on its edge")             << Drag{6000, 2060, 2060, 2000};
        QTest::newRow("click on the handle over one")  << Drag{7100, 7000, 7000, 7000};
        QTest::newRow("drag from the handle over one") << Drag{7100, 7000, 9000, 9100};
        QTest::newRow("click on the groove")           << Drag{6000, 4500, 4500, 4500};
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

    // The picture on screen is the frame of the position shown, after every kind of move, in each
    // container; the length is the video's own, which the position never passes.
    void pictureIsThePositionsFrame_data() {
        QTest::addColumn<Move>("m");
        using P = MyVideoPlayer;
        for (const char* file : {"browser.webm", "phone.mp4", "camcorder.mts"}) {
            const auto row = [&](const char* what) { return &QTest::addRow("%s: %s", file, what); };
            // clang-format off
            *row("jump")            << Move{file, 7430, nullptr, 0};
            *row("jump back")       << Move{file, 2210, nullptr, 0};
            // A frame of the phone's starts 2/3 ms after this whole millisecond.
            *row("jump to a frame's cut time") << Move{file, 2916, nullptr, 0};
            *row("+1 after jump")   << Move{file, 6010, &P::bTrameSuivante, 1};
            *row("+1 three times")  << Move{file, 9010, &P::bTrameSuivante, 3};
            *row("-1 twice")        << Move{file, 5120, &P::bTramePrecedente, 2};
            *row("end")             << Move{file, 1000, &P::bFin, 1};
            *row("pause")           << Move{file, 3300, nullptr, 0, Move::PlayThenPause};
            *row("+1 after pause")  << Move{file, 8500, &P::bTrameSuivante, 1, Move::PlayThenPause};
            *row("jump in playing") << Move{file, 9600, nullptr, 0, Move::Playing};
            // clang-format on
        }
    }

    void pictureIsThePositionsFrame() {
        QFETCH(Move, m);
        kel::VideoPlayer* p = numbered->lecteur;
        const QString path = dir.filePath(m.file);
        if (numbered->fichierVideo != path) {
            numbered->fichierVideo = path;
            numbered->fps = 30;
            numbered->lectureDemarree = false;
            numbered->lectureVideo();
            QTRY_VERIFY(p->isPlaying());
        }
        const QList<double>& t = times[m.file];
        const int length = int(t.last() + (t.last() - t[t.size() - 2]));
        QTRY_VERIFY2(qAbs(p->totalTime() - length) <= 50,
                     qPrintable(QString::number(p->totalTime())));
        if (m.mode == Move::Playing) {
            p->play();
            QTRY_VERIFY(p->isPlaying());
        } else {
            p->pause();
        }
        p->seek(m.ms);
        if (m.mode != Move::Paused) {
            p->play();
            QTest::qWait(700);
            if (m.mode == Move::PlayThenPause)
                QTest::mouseClick(numbered->bLecture, Qt::LeftButton);
            // The video went on from where it was asked to.
            QVERIFY2(p->currentTime() >= m.ms + 200 && p->currentTime() <= m.ms + 1500,
                     qPrintable(QString::number(p->currentTime())));
        }
        const int from = frameAt(m.file, p->currentTime());
        for (int i = 0; i < m.clicks; ++i)
            QTest::mouseClick(numbered->*m.button, Qt::LeftButton);
        int expected = from + (m.button == &MyVideoPlayer::bTramePrecedente ? -m.clicks : m.clicks);
        if (m.button == &MyVideoPlayer::bFin)
            expected = int(t.size()) - 1;
        QCOMPARE(frameAt(m.file, p->currentTime()), expected);

        // A playing picture may be a frame ahead of the position read just before it.
        const int slack = m.mode == Move::Playing ? 1 : 0;
        const auto mismatch = [&] {
            const int at = frameAt(m.file, p->currentTime());
            const int shown = frameNumberOf(p->shownPicture());
            if (shown >= at && shown <= at + slack)
                return QString();
            return QStringLiteral("counter %1 ms (frame %2), picture frame %3 (%4 ms): %5 ms")
                .arg(p->currentTime())
                .arg(at)
                .arg(shown)
                .arg(shown >= 0 && shown < t.size() ? t[shown] : -1)
                .arg(shown >= 0 && shown < t.size() ? t[shown] - t[at] : 0);
        };
        QTRY_VERIFY2_WITH_TIMEOUT(mismatch().isEmpty(), qPrintable(mismatch()), 3000);
        QVERIFY(p->currentTime() <= p->totalTime());
    }

    // Copies named a to h, used in that order from the most recent, of `kb` KB each (the first
    // sizes given, then 1 KB); those kept at a bound of `count` copies and 1 MB.
    void indexedCopiesAreBounded_data() {
        QTest::addColumn<QList<int>>("kb");
        QTest::addColumn<QString>("inUse");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("kept");
        QTest::newRow("the last five used") << QList<int>{} << QString() << 5 << "abcde";
        QTest::newRow("within the size")
            << QList<int>{400, 400, 400, 400} << QString() << 5 << "abefg";
        QTest::newRow("the one in use, oldest") << QList<int>{} << "h" << 3 << "abh";
        QTest::newRow("the one in use, too big") << QList<int>{1, 2000} << "b" << 5 << "b";
    }
    void indexedCopiesAreBounded() {
        QFETCH(QList<int>, kb);
        QFETCH(QString, inUse);
        QFETCH(int, count);
        QFETCH(QString, kept);
        QTemporaryDir folder;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto make = [&](const QString& name, int size, const QDateTime& time) {
            QFile f(folder.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(size * 1024, 'x'));
            f.flush();
            f.setFileTime(time, QFileDevice::FileModificationTime);
        };
        for (int i = 0; i < 8; ++i)
            make(QChar('a' + i) + QStringLiteral(".mkv"), i < kb.size() ? kb[i] : 1,
                 now.addSecs(-60 * i));
        // Copies being made, and one left by a copy that never ended.
        make("new.mkv.part", 1, now);
        make("old.mkv.part", 1, now.addDays(-2));
        kel::pruneIndexedCopies(folder.path(),
                                inUse.isEmpty() ? QStringList()
                                                : QStringList{folder.filePath(inUse + ".mkv")},
                                count, 1024 * 1024);
        QStringList left = QDir(folder.path()).entryList({"*.mkv"}, QDir::Files, QDir::Name);
        QCOMPARE(left.join("").remove(".mkv"), kept);
        QVERIFY(QFile::exists(folder.filePath("new.mkv.part")));
        QVERIFY(!QFile::exists(folder.filePath("old.mkv.part")));
    }

    // A video without index gets its copy in the cache (the test's own), kept there among the
    // last used.
    void indexedCopyKeptAmongTheLast() {
        const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation))
                                   .filePath("indexed");
        QVERIFY(folder.startsWith(dir.path()));
        QVERIFY(QDir().mkpath(folder));
        for (int i = 0; i < 7; ++i) {
            QFile f(QDir(folder).filePath(QStringLiteral("old%1.mkv").arg(i)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.setFileTime(QDateTime::currentDateTimeUtc().addDays(-1 - i),
                          QFileDevice::FileModificationTime);
        }
        kel::VideoPlayer p;
        p.setMuted(true);
        p.load(dir.filePath("browser.webm"));
        QTRY_VERIFY_WITH_TIMEOUT(p.mediaPlayer()->source().path().endsWith(".mkv"), 20000);
        const QStringList left = QDir(folder).entryList({"*.mkv"}, QDir::Files);
        QCOMPARE(left.size(), 5);
        QVERIFY(left.contains(QFileInfo(p.mediaPlayer()->source().toLocalFile()).fileName()));
        QVERIFY(left.contains("old0.mkv"));
        QVERIFY(!left.contains("old6.mkv"));
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
