#include "export/export_files.h"
#include "export/montage_composer.h"
#include "export/montage_renderer.h"
#include "export/yuv_picture.h"
#include "project/project_file.h"
#include "support/montage_media.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <array>

using kel::MontageRenderer;
using namespace montagemedia;
Q_DECLARE_METATYPE(montagemedia::Entry)
Q_DECLARE_METATYPE(kel::Resolution)
Q_DECLARE_METATYPE(kel::MontageLayout)

// A student's clip: its file, its upright picture in square pixels, ffmpeg's output options, stored
// turned with the rotation that undoes it, and where its picture lands in the 160 x 120 frame.
struct Clip {
    QString file, size;
    QStringList encode, turn;
    QRect expected;
};
Q_DECLARE_METATYPE(Clip)

namespace {
const kel::MontageGeometry kSmall{160, 120, 60, 80, 60, 42, 13, 10}; // inset (0, 60, 80, 60)
using Shown = std::array<double, 3>; // an inset: annotation number, first and end ms
// A comment at this second of the student's video.
kel::AnnotationInsertion comment(int number, int second, const QString& file, double cutStart = 0,
                                 double cutEnd = 0, const QString& title = {}) {
    return {number, second * 25, file, cutStart, cutEnd, title};
}
QRect qrect(const cv::Rect& r) {
    return {r.x, r.y, r.width, r.height};
}

// Runs of equal frames, "S0x16 R1x16 ...": R, G or B for a red, lime or blue inset (annotation 1,
// 2 or 3), S for none, then the second of the student's video.
QString runs(const QString& montage, QList<Shown>* shown) {
    cv::VideoCapture cap(QFile::encodeName(montage).toStdString(), cv::CAP_FFMPEG);
    QStringList out;
    for (cv::Mat f; cap.read(f);) {
        const double ms = cap.get(cv::CAP_PROP_POS_MSEC);
        const double grey = cv::mean(f(cv::Rect(100, 10, 50, 40)))[1];
        const cv::Scalar inset = cv::mean(f(cv::Rect(0, 60, 80, 60)));
        const char c = cv::norm(inset - cv::Scalar(0, 0, 255)) < 80   ? 'R'
                       : cv::norm(inset - cv::Scalar(0, 255, 0)) < 80 ? 'G'
                       : cv::norm(inset - cv::Scalar(255, 0, 0)) < 80 ? 'B'
                                                                      : 'S';
        const QString l = c + QString::number(qBound(0, qRound((grey - 60) / 40), 3)) + 'x';
        if (c != 'S' && (out.isEmpty() || out.last()[0] != c))
            *shown << Shown{double(QByteArray("RGB").indexOf(c) + 1), ms, 0};
        if (c != 'S')
            shown->last()[2] = ms + 1000 / MontageRenderer::kFps;
        if (!out.isEmpty() && out.last().startsWith(l))
            out.last() = l + QString::number(out.last().mid(l.size()).toInt() + 1);
        else
            out << l + '1';
    }
    return out.join(' ');
}

// Each cue of montage.srt spans the frames where its annotation shows, within `slackMs`.
void compareSubtitles(const QString& dir, const QList<Shown>& shown, double slackMs) {
    const QStringList cues =
        QString::fromUtf8(testmedia::contents(dir + "/montage.srt")).split("\n\n");
    QCOMPARE(cues.size(), shown.size() + 1);
    static const QRegularExpression time("\\d\\d:\\d\\d:\\d\\d,\\d\\d\\d");
    for (int i = 0; i < shown.size(); ++i) {
        QCOMPARE(QString(cues[i]).replace(time, "t"),
                 QStringLiteral("%1\nt --> t\nAnnotation n°%2").arg(i + 1).arg(shown[i][0]));
        QRegularExpressionMatchIterator times = time.globalMatch(cues[i]);
        for (int k = 1; k < 3; ++k) {
            const QTime t = QTime::fromString(times.next().captured(), "hh:mm:ss,zzz");
            QVERIFY2(qAbs(t.msecsSinceStartOfDay() - shown[i][k]) < slackMs, qPrintable(cues[i]));
        }
    }
}
} // namespace

class TestMontageRenderer : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString media(const QString& name) const { return m_dir.filePath(name); }

    // A project in its own folder with annotation1 red, annotation2 lime and annotation3 blue, dark
    // at first, and its montage.
    MontageRenderer render(const QString& student, const QList<Entry>& entries,
                           bool compress = false) {
        const QString dir = media(QTest::currentDataTag());
        QDir().mkpath(dir);
        writeProject(dir, entries);
        for (const char* name : {"annotation1.avi", "annotation2.avi", "annotation3.avi"})
            QFile::copy(media(name), dir + '/' + name);
        return MontageRenderer({student, dir, kSmall,
                                kel::planInsertions(dir, kel::ProjectFile::listAnnotationFiles(dir),
                                                    kel::ProjectFile(dir).loadAnnotationSchedule()),
                                compress, "avi", ""});
    }

    // The MP4 film for students, hd, of a student's video and these comments.
    MontageRenderer film(const QString& student, const QList<kel::AnnotationInsertion>& comments,
                         kel::MontageLayout layout = kel::MontageLayout::Cote) {
        const QString dir = media(QStringLiteral("film-%1-%2")
                                      .arg(QTest::currentTestFunction(), QTest::currentDataTag()));
        QDir().mkpath(dir);
        kel::MontageJob job{
            student,  dir,  kel::montageGeometry(kel::Resolution::Moyenne, false, 0, 0, 0),
            comments, true, "mp4",
            ""};
        job.layout = layout;
        job.hd = true;
        return MontageRenderer(job);
    }

private slots:
    void initTestCase() {
        QVERIFY(makeStudent(media("student.avi"), 4));
        QVERIFY(testmedia::makeVideo(media("annotation1.avi"), "color=c=red", 1));
        QVERIFY(testmedia::makeVideo(media("annotation2.avi"), "color=c=lime", 1));
        QVERIFY(testmedia::makeVideo(media("black.avi"), "color=c=black", 2));
        // A webcam's first half second is dark.
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i",
                                   "color=c=blue:size=320x240:rate=25:duration=1,drawbox=c=black:"
                                   "t=fill:enable='lt(t,0.5)'",
                                   "-c:v", "mpeg4", "-q:v", "3", media("annotation3.avi")}));
        // A phone's variable rate: no frame from 0.4 s to 1 s.
        // A comment: red, its top eighth yellow, 4:3.
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i",
                                   "color=c=red:size=320x240:rate=25:duration=1,drawbox=x=0:y=0:"
                                   "w=iw:h=ih/8:c=yellow:t=fill",
                                   "-c:v", "mpeg4", "-q:v", "2", media("comment.avi")}));
        QVERIFY(testmedia::ffmpeg({"-i", media("student.avi"), "-t", "2", "-vf",
                                   "select='not(between(t,0.4,0.99))'", "-vsync", "vfr", "-c:v",
                                   "libx264", "-pix_fmt", "yuv420p", media("vfr.mp4")}));
    }

    void content_data() {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QString>("student");
        QTest::addColumn<bool>("compress");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("in order")                << QList<Entry>{{1, 25}, {2, 75}} << "student.avi" << false << "S0x16 R1x16 S1x15 S2x16 G3x16 S3x15";
        QTest::newRow("entries out of order")    << QList<Entry>{{2, 75}, {1, 25}} << "student.avi" << false << "S0x16 R1x16 S1x15 S2x16 G3x16 S3x15";
        QTest::newRow("cut with only ValueFin")  << QList<Entry>{{1, 25, 0, 500}} << "student.avi" << false << "S0x16 R1x8 S1x15 S2x16 S3x16";
        QTest::newRow("key 0")                   << QList<Entry>{{1, 0}} << "student.avi" << false << "R0x16 S0x15 S1x16 S2x16 S3x16";
        QTest::newRow("two in one second")       << QList<Entry>{{1, 25}, {2, 25}} << "student.avi" << false << "S0x16 R1x16 G1x16 S1x15 S2x16 S3x16";
        QTest::newRow("both cuts")               << QList<Entry>{{1, 25, 200, 500}} << "student.avi" << false << "S0x16 R1x4 S1x15 S2x16 S3x16";
        QTest::newRow("missing annotation file") << QList<Entry>{{1, 25}, {5, 50}} << "student.avi" << false << "S0x16 R1x16 S1x15 S2x16 S3x16";
        QTest::newRow("number given twice")      << QList<Entry>{{1, 25}, {1, 75}} << "student.avi" << false << "S0x16 S1x16 S2x16 R3x16 S3x15";
        QTest::newRow("past the student's end")  << QList<Entry>{{1, 150}} << "student.avi" << false << "S0x16 S1x16 S2x16 S3x16 R3x16";
        QTest::newRow("dark annotation frames") << QList<Entry>{{3, 25}, {2, 0, 300, 0}} << "black.avi" << true << "G0x11 S0x15 B0x7 S0x15";
        QTest::newRow("variable frame rate")     << QList<Entry>{{1, 50}} << "vfr.mp4" << false << "S0x16 S1x16 R1x16";
        // clang-format on
    }

    void content() {
        QFETCH(QList<Entry>, entries);
        QFETCH(QString, student);
        QFETCH(bool, compress);
        QFETCH(QString, expected);
        const QString dir = media(QTest::currentDataTag());
        MontageRenderer r = render(media(student), entries, compress);
        QCOMPARE(r.run(), MontageRenderer::Outcome::Succeeded);
        QCOMPARE(probe(r.resultPath()), compress ? "h264,160,120,25/1" : "rawvideo,160,120,16/1");
        QList<Shown> shown;
        QCOMPARE(runs(r.resultPath(), &shown), expected);
        compareSubtitles(dir, shown, compress ? 25 : 1); // montage.avi: on a 40 ms grid
    }

    // Videos as students send them: the picture lands upright, at its display aspect, whole.
    void studentPicture_data() {
        QTest::addColumn<Clip>("c");
        const QStringList h264{"-c:v", "libx264", "-pix_fmt", "yuv420p"};
        const QStringList dv{"-s", "720x576", "-c:v", "dvvideo", "-pix_fmt", "yuv420p", "-aspect"};
        const QRect whole(0, 0, 160, 120), wide(0, 15, 160, 90), portrait(46, 0, 68, 120);
        // clang-format off
        QTest::newRow("portrait phone") << Clip{"portrait.mp4", "360x640", h264, {}, portrait};
        QTest::newRow("rotate=90")      << Clip{"rotate90.mp4", "90x160", h264, {"clock", "90"}, portrait};
        QTest::newRow("rotate=270")     << Clip{"rotate270.mp4", "90x160", h264, {"cclock", "270"}, portrait};
        QTest::newRow("DV PAL 16:9")    << Clip{"dv169.avi", "720x576", dv + QStringList{"16:9"}, {}, wide};
        QTest::newRow("DV PAL 4:3")     << Clip{"dv43.avi", "720x576", dv + QStringList{"4:3"}, {}, whole};
        QTest::newRow("HEVC MP4")       << Clip{"hevc.mp4", "320x180", {"-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error"}, {}, wide};
        QTest::newRow("MOV")            << Clip{"clip.mov", "320x240", h264, {}, whole};
        QTest::newRow("WebM VP8")       << Clip{"vp8.webm", "320x180", {"-c:v", "libvpx", "-b:v", "300k"}, {}, wide};
        QTest::newRow("WebM VP9")       << Clip{"vp9.webm", "320x240", {"-c:v", "libvpx-vp9", "-b:v", "300k", "-deadline", "realtime", "-cpu-used", "8"}, {}, whole};
        QTest::newRow("MPEG-2 VOB")     << Clip{"dvd.vob", "320x240", {"-c:v", "mpeg2video", "-f", "vob"}, {}, whole};
        QTest::newRow("WMV")            << Clip{"clip.wmv", "320x240", {"-c:v", "wmv2"}, {}, whole};
        QTest::newRow("MPEG-4 AVI")     << Clip{"clip.avi", "320x180", {"-c:v", "mpeg4"}, {}, wide};
        // clang-format on
    }

    void studentPicture() {
        QFETCH(Clip, c);
        QVERIFY(makeUpright(media(c.file), c.size, c.encode, c.turn.value(0), c.turn.value(1)));
        MontageRenderer r = render(media(c.file), {{1, 25}}); // after its one second
        QCOMPARE(r.run(), MontageRenderer::Outcome::Succeeded);

        QCOMPARE(probe(r.resultPath(), "nb_frames"), "32"); // 16 of the student, 16 of annotation1
        const cv::Mat frame = firstFrame(r.resultPath());
        cv::Mat picture, white;
        cv::inRange(frame, cv::Scalar(60, 0, 0), cv::Scalar(255, 255, 255), picture);
        cv::inRange(frame, cv::Scalar(200, 200, 200), cv::Scalar(255, 255, 255), white);
        const QRect p = qrect(cv::boundingRect(picture)), w = qrect(cv::boundingRect(white));
        QVERIFY2(qAbs(p.x() - c.expected.x()) <= 1 && qAbs(p.y() - c.expected.y()) <= 1 &&
                     qAbs(p.width() - c.expected.width()) <= 2 &&
                     qAbs(p.height() - c.expected.height()) <= 2,
                 QTest::toString(p));
        // The white bar across the top of the picture, and nowhere else.
        QVERIFY2(w.y() - p.y() <= 1 && qAbs(w.height() - p.height() / 8) <= 2 &&
                     w.width() >= p.width() - 2,
                 QTest::toString(w));
    }

    // White, right-aligned, and whole inside its box whatever font is installed, at each size.
    void caption_data() {
        QTest::addColumn<kel::Resolution>("resolution");
        QTest::newRow("grande") << kel::Resolution::Grande;
        QTest::newRow("moyenne") << kel::Resolution::Moyenne;
        QTest::newRow("faible") << kel::Resolution::Faible;
    }
    void caption() {
        QFETCH(kel::Resolution, resolution);
        const kel::MontageGeometry g = kel::montageGeometry(resolution, false, 0, 0, 0);
        kel::MontageComposer composer(g);
        cv::Mat frame, white;
        cv::cvtColor(composer.withAnnotation(kel::yuv::black(composer.insetFillSize({}))), frame,
                     cv::COLOR_YUV2BGR_I420);
        cv::inRange(frame, cv::Scalar(200, 200, 200), cv::Scalar(255, 255, 255), white);
        const QRect ink = qrect(cv::boundingRect(white));
        QVERIFY(cv::countNonZero(white) > 20);
        const int right = ink.x() + ink.width(); // past the last white column
        QVERIFY2(ink.x() >= 1 && ink.y() >= 0 && right <= g.captionWidth &&
                     ink.y() + ink.height() <= g.captionHeight && right >= g.captionWidth - 4,
                 QTest::toString(ink));
    }

    // A copy lands its luma exactly; a colour sample it covers in part mixes both colours by the
    // share covered. A red 4 x 4 into a black 8 x 8.
    void pictureCopy_data() {
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QList<int>>("v"); // chroma V of cells 0 to 3 on row 1 (mid-height)
        QTest::newRow("even corner") << QPoint(2, 2) << QList<int>{128, 240, 240, 128};
        QTest::newRow("odd corner") << QPoint(1, 2) << QList<int>{184, 240, 184, 128};
    }
    void pictureCopy() {
        QFETCH(QPoint, to);
        QFETCH(QList<int>, v);
        cv::Mat red = kel::yuv::black({4, 4}), frame = kel::yuv::black({8, 8});
        kel::yuv::Planes r = kel::yuv::planes(red);
        r.y.setTo(81);
        r.u.setTo(90);
        r.v.setTo(240);
        kel::yuv::copy(red, cv::Rect(0, 0, 4, 4), frame, cv::Point(to.x(), to.y()));
        const kel::yuv::Planes f = kel::yuv::planes(frame);
        QCOMPARE(cv::countNonZero(f.y == 81), 16);
        QCOMPARE(int(f.y.at<uchar>(to.y(), to.x())), 81);
        QList<int> row;
        for (int x = 0; x < 4; ++x)
            row << f.v.at<uchar>(1, x);
        QCOMPARE(row, v);
    }

    // The film: the comment where the layout puts it, whole, its aspect kept; the student's picture
    // upright, a portrait phone's giving a portrait film.
    void filmLayout_data() {
        QTest::addColumn<kel::MontageLayout>("layout");
        QTest::addColumn<QStringList>("turn"); // the student's, stored turned ("clock", "90")
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QRect>("region");
        QTest::addColumn<bool>("fits"); // the comment fits the region (else covers it)
        using L = kel::MontageLayout;
        // clang-format off
        QTest::newRow("incrustation")      << L::Incrustation << QStringList{} << QSize(1280, 720) << QRect(0, 494, 254, 226) << true;
        QTest::newRow("grande: 1/3 x 1/2") << L::Grande << QStringList{} << QSize(1280, 720) << QRect(0, 360, 427, 360) << false;
        QTest::newRow("cote")              << L::Cote << QStringList{} << QSize(1280, 720) << QRect(640, 0, 640, 720) << true;
        QTest::newRow("cote, phone")       << L::Cote << QStringList{"clock", "90"} << QSize(720, 1280) << QRect(0, 640, 720, 640) << true;
        // clang-format on
    }
    void filmLayout() {
        QFETCH(kel::MontageLayout, layout);
        QFETCH(QStringList, turn);
        QFETCH(QSize, frame);
        QFETCH(QRect, region);
        QFETCH(bool, fits);
        const QString student = media(QStringLiteral("upright%1.mp4").arg(turn.value(1)));
        QVERIFY(QFile::exists(student) ||
                makeUpright(student, turn.isEmpty() ? "320x240" : "90x160",
                            {"-c:v", "libx264", "-pix_fmt", "yuv420p"}, turn.value(0),
                            turn.value(1), 2));
        MontageRenderer r = film(student, {comment(1, 1, media("comment.avi"))}, layout);
        QCOMPARE(r.run(), MontageRenderer::Outcome::Succeeded);
        QCOMPARE(probe(r.resultPath(), "width,height"),
                 QStringLiteral("%1,%2").arg(frame.width()).arg(frame.height()));
        cv::Mat white; // the student's bar, across the top of its upright picture
        cv::inRange(frameAt(r.resultPath(), 0), cv::Scalar(200, 200, 200),
                    cv::Scalar(255, 255, 255), white);
        const QRect bar = qrect(cv::boundingRect(white));
        QVERIFY2(bar.y() <= 1 && qAbs(bar.height() - frame.height() / 8) <= 4,
                 QTest::toString(bar));

        const cv::Mat f = frameAt(r.resultPath(), 37); // the comment plays from frame 25
        cv::Mat red, yellow;
        cv::inRange(f, cv::Scalar(0, 0, 160), cv::Scalar(90, 90, 255), red);
        cv::inRange(f, cv::Scalar(0, 160, 160), cv::Scalar(90, 255, 255), yellow);
        const QRect p = qrect(cv::boundingRect(red | yellow)), y = qrect(cv::boundingRect(yellow));
        const QString shown = QStringLiteral("%1 %2").arg(QTest::toString(p), QTest::toString(y));
        QVERIFY2(qAbs(double(p.width()) / p.height() - 4.0 / 3) < 0.02, qPrintable(shown));
        QVERIFY2(qAbs(y.top() - p.top()) <= 1 && qAbs(y.height() - p.height() / 8.0) <= 3 &&
                     y.width() >= p.width() - 2,
                 qPrintable(shown));
        if (fits)
            QVERIFY2(region.adjusted(-1, -1, 1, 1).contains(p) &&
                         (p.width() >= region.width() - 2 || p.height() >= region.height() - 2),
                     qPrintable(shown));
        else
            QVERIFY2(p.adjusted(-1, -1, 1, 1).contains(region), qPrintable(shown));
    }

    // Each frame shows the pictures of its time: the student's part lasts as long as its video,
    // a cut comment as long as its cut, at 25 frames a second or 30 for a faster video.
    void filmTiming_data() {
        QTest::addColumn<int>("studentFps");
        QTest::addColumn<int>("fps");
        QTest::newRow("25 fps") << 25 << 25;
        QTest::newRow("30 fps") << 30 << 30;
        QTest::newRow("50 fps") << 50 << 30;
    }
    void filmTiming() {
        QFETCH(int, studentFps);
        QFETCH(int, fps);
        const QString student = media(QStringLiteral("blue%1.mp4").arg(studentFps));
        QVERIFY(testmedia::makeVideo(student, "color=c=blue", 2, studentFps));
        MontageRenderer r = film(student, {comment(1, 1, media("comment.avi"), 200, 700)});
        QCOMPARE(r.run(), MontageRenderer::Outcome::Succeeded);
        QCOMPARE(probe(r.resultPath(), "r_frame_rate"), QStringLiteral("%1/1").arg(fps));
        cv::VideoCapture cap(QFile::encodeName(r.resultPath()).toStdString(), cv::CAP_FFMPEG);
        QList<int> comment; // the frames that show it
        int frames = 0;
        for (cv::Mat f; cap.read(f); ++frames)
            if (f.at<cv::Vec3b>(360, 960)[2] > 160)
                comment << frames;
        const int cut = (500 * fps + 999) / 1000; // 500 ms, to the frame
        QCOMPARE(frames - comment.size(), 2 * fps);
        QCOMPARE(comment.size(), cut);
        QCOMPARE(comment.first(), fps); // at the student's second 1
        QCOMPARE(comment.last(), fps + cut - 1);
    }

    // One chapter per comment at its first frame, its title when it has one; the same cues in
    // montage.vtt as in montage.srt; nothing else left in the folder.
    void filmNavigation() {
        const QString student = media("blue4.mp4");
        QVERIFY(testmedia::makeVideo(student, "color=c=blue", 4));
        MontageRenderer r =
            film(student, {comment(1, 1, media("comment.avi")),
                           comment(2, 3, media("comment.avi"), 0, 0, "Les mains, ici")});
        QCOMPARE(r.run(), MontageRenderer::Outcome::Succeeded);
        QProcess p;
        p.start("ffprobe", {"-v", "error", "-show_entries", "chapter=start_time:chapter_tags=title",
                            "-of", "csv=p=0", r.resultPath()});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).trimmed().split('\n'),
                 (QStringList{"0.000000,Vidéo de l'élève", "1.000000,Annotation n°1",
                              "4.000000,\"Les mains, ici\""}));
        const QString dir = QFileInfo(r.resultPath()).path();
        const QString vtt = QString::fromUtf8(testmedia::contents(dir + "/montage.vtt"));
        QCOMPARE(vtt, "WEBVTT\n\n" + QString::fromUtf8(testmedia::contents(dir + "/montage.srt"))
                                         .replace(QRegularExpression("(\\d),(\\d)"), "\\1.\\2"));
        QVERIFY2(vtt.contains("00:00:04.000 --> 00:00:05.000\nLes mains, ici\n"), qPrintable(vtt));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"montage.mp4", "montage.srt", "montage.vtt"}));
    }

    // ffmpeg fails on the chapters, the film made: nothing of it stays, the earlier montage does.
    void filmFailsWhole() {
        const QString fake = media("ffmpeg-no-chapters");
        QVERIFY(testmedia::writeFake(fake, "case \"$*\" in *ffmetadata*) exit 1;; esac\n"
                                           "exec ffmpeg \"$@\""));
        kel::MontageJob job;
        job.studentVideoPath = media("student.avi");
        job.projectDir = media("film-fails");
        job.insertions = {comment(1, 1, media("comment.avi"))};
        job.format = "mp4";
        job.ffmpegProgram = fake;
        QVERIFY(QDir().mkpath(job.projectDir) && writeEarlierMontage(job.projectDir));
        MontageRenderer r(job);
        QCOMPARE(r.run(), MontageRenderer::Outcome::Failed);
        QVERIFY2(r.errorMessage().contains("chapitres"), qPrintable(r.errorMessage()));
        QCOMPARE(montageFiles(job.projectDir), kEarlier);
    }

    // A camcorder's fields: the film shows no combing. (At the film's size: scaling would hide the
    // combs from idet.)
    void filmInterlaced() {
        const QString student = media("interlaced.mpg");
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=50", "-t", "2",
                                   "-vf", "tinterlace=interleave_top,setfield=tff", "-c:v",
                                   "mpeg2video", "-flags", "+ilme+ildct", "-top", "1", "-b:v", "8M",
                                   student}));
        static const QRegularExpression verdict(
            "Multi frame detection: TFF: *(\\d+) BFF: *(\\d+) Progressive: *(\\d+)");
        const auto fields = [](const QString& path) {
            const QRegularExpressionMatch m = verdict.match(ffmpegReport(path, "idet"));
            return QList<int>{m.captured(1).toInt() + m.captured(2).toInt(), m.captured(3).toInt()};
        };
        QVERIFY(fields(student)[0] > 40); // combed indeed
        MontageRenderer r = film(student, {}, kel::MontageLayout::Incrustation);
        QCOMPARE(r.run(), MontageRenderer::Outcome::Succeeded);
        const QList<int> film = fields(r.resultPath()); // interlaced, progressive
        QVERIFY2(film[0] * 10 < film[1] && film[1] > 40, qPrintable(QTest::toString(film)));
    }

    // Hidden files of exports killed on their way go; the one a running export holds stays.
    void staleTemporaryFiles() {
        const QString dir = media("stale");
        for (const char* name : {".VideoFinale.tmp.avi", ".montage.4242-0.tmp.avi",
                                 ".VideoFinale.4243-1.tmp.avi", "annotation1.avi"})
            testmedia::touch(dir + '/' + name);
        kel::ExportTempFile running(dir + "/VideoFinale.avi");
        QVERIFY(running.create());
        kel::removeStaleExportFiles(dir);
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QFileInfo(running.path()).fileName(), "annotation1.avi"}));
    }
};

QTEST_MAIN(TestMontageRenderer)
#include "test_montage_renderer.moc"
