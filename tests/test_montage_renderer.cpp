#include "export/montage_renderer.h"
#include "project/project_file.h"
#include "support/montage_media.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <thread>

using kel::MontageRenderer;
using namespace montagemedia;
using Outcome = MontageRenderer::Outcome;
Q_DECLARE_METATYPE(montagemedia::Entry)

namespace {
// A small frame: inset (0, 60, 80, 60), caption 42 x 13.
const kel::MontageGeometry kSmall{160, 120, 60, 80, 60, 42, 13, 10};
const cv::Rect kStudentArea(100, 10, 50, 40);
const cv::Rect kInset(0, 60, 80, 60);
const cv::Rect kCaption(0, 0, 42, 13);

struct Colour {
    char letter;
    const char* lavfi;
    cv::Scalar bgr;
};
const Colour kColours[] = {{'R', "red", {0, 0, 255}},
                           {'G', "lime", {0, 255, 0}},
                           {'B', "blue", {255, 0, 0}},
                           {'Y', "yellow", {0, 255, 255}}};

// "R100": a red inset over the student's picture of grey 100; "S140": the student alone.
QString label(const cv::Mat& frame) {
    const double grey = cv::mean(frame(kStudentArea))[1];
    int level = studentLevel(0);
    for (int s = 1; s < 4; ++s)
        if (std::abs(grey - studentLevel(s)) < std::abs(grey - level))
            level = studentLevel(s);
    const cv::Scalar inset = cv::mean(frame(kInset));
    char letter = 'S';
    for (const Colour& c : kColours)
        if (cv::norm(inset - c.bgr) < 80)
            letter = c.letter;
    return QStringLiteral("%1%2").arg(letter).arg(level);
}

// Consecutive equal labels as "S60x16 R100x16 ...".
QString runs(const QList<cv::Mat>& frames) {
    QStringList out;
    QString last;
    int count = 0;
    for (const cv::Mat& f : frames) {
        const QString l = label(f);
        if (l != last && count) {
            out << QStringLiteral("%1x%2").arg(last).arg(count);
            count = 0;
        }
        last = l;
        ++count;
    }
    if (count)
        out << QStringLiteral("%1x%2").arg(last).arg(count);
    return out.join(' ');
}

int whitePixels(const cv::Mat& frame, const cv::Rect& r) {
    cv::Mat grey;
    cv::cvtColor(frame(r), grey, cv::COLOR_BGR2GRAY);
    return cv::countNonZero(grey > 230);
}
} // namespace

class TestMontageRenderer : public QObject {
    Q_OBJECT
    QTemporaryDir m_media;
    QTemporaryDir m_work;
    int m_project = 0;

    QString media(const QString& name) const { return m_media.filePath(name); }

    // A project directory holding annotation<N>.avi of the given colours and project.xml.
    QString project(const QList<QPair<int, QString>>& files, const QList<Entry>& entries) {
        const QString dir = m_work.filePath(QString::number(++m_project));
        QDir().mkpath(dir);
        for (const auto& [number, colour] : files)
            QFile::copy(media(colour + ".avi"),
                        QDir(dir).filePath(kel::ProjectFile::annotationFileName(number)));
        writeProject(dir, entries);
        return dir;
    }

    static kel::MontageJob job(const QString& dir, const QString& student,
                               const kel::MontageGeometry& g = kSmall) {
        kel::MontageJob j;
        j.projectDir = dir;
        j.studentVideoPath = student;
        j.geometry = g;
        j.insertions = kel::planInsertions(dir, kel::ProjectFile::listAnnotationFiles(dir),
                                           kel::ProjectFile(dir).loadAnnotationSchedule());
        return j;
    }

    static QStringList leftovers(const QString& dir) {
        return QDir(dir)
            .entryList({"*.avi", ".*.avi"}, QDir::Files | QDir::Hidden)
            .filter(QRegularExpression("VideoFinale|montage"));
    }

private slots:
    void initTestCase() {
        QVERIFY(makeStudent(media("student.avi"), 4));
        for (const Colour& c : kColours)
            QVERIFY(makeAnnotation(media(QString(c.lavfi) + ".avi"), c.lavfi));
        QVERIFY(testmedia::makeVideo(media("black.avi"), "color=c=black", 2, 25, "160x120"));
    }

    void insertions_data() {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QString>("expected");
        const QList<QPair<int, QString>> files{{1, "red"}, {2, "lime"}};
        QTest::newRow("in order") << QList<Entry>{{1, 25}, {2, 75}}
                                  << "S60x16 R100x16 S100x15 S140x16 G180x16 S180x15";
        QTest::newRow("entries out of order")
            << QList<Entry>{{2, 75}, {1, 25}} << "S60x16 R100x16 S100x15 S140x16 G180x16 S180x15";
        QTest::newRow("first second")
            << QList<Entry>{{1, 0}} << "R60x16 S60x15 S100x16 S140x16 S180x16";
        QTest::newRow("same second, one after the other")
            << QList<Entry>{{1, 25}, {2, 25}} << "S60x16 R100x16 G100x16 S100x15 S140x16 S180x16";
        QTest::newRow("end cut only")
            << QList<Entry>{{1, 25, 0, 500}} << "S60x16 R100x8 S100x15 S140x16 S180x16";
        QTest::newRow("start cut only")
            << QList<Entry>{{1, 25, 500, 0}} << "S60x16 R100x8 S100x15 S140x16 S180x16";
        QTest::newRow("both cuts")
            << QList<Entry>{{1, 25, 200, 500}} << "S60x16 R100x4 S100x15 S140x16 S180x16";
        QTest::newRow("missing annotation file")
            << QList<Entry>{{1, 25}, {3, 50}} << "S60x16 R100x16 S100x15 S140x16 S180x16";
        QTest::newRow("repeated number counts its last entry")
            << QList<Entry>{{1, 25}, {1, 75}} << "S60x16 S100x16 S140x16 R180x16 S180x15";
        QTest::newRow("past the end of the student's video")
            << QList<Entry>{{1, 150}} << "S60x16 S100x16 S140x16 S180x16 R180x16";
    }

    void insertions() {
        QFETCH(QList<Entry>, entries);
        QFETCH(QString, expected);
        const QString dir = project({{1, "red"}, {2, "lime"}}, entries);
        MontageRenderer r(job(dir, media("student.avi")));
        QCOMPARE(r.run(), Outcome::Succeeded);
        QCOMPARE(r.resultPath(), QDir(dir).filePath("VideoFinale.avi"));
        const QList<cv::Mat> frames = readFrames(r.resultPath());
        QCOMPARE(runs(frames), expected);
        QCOMPARE(r.framesWritten(), frames.size());
        QCOMPARE(leftovers(dir), QStringList{"VideoFinale.avi"});
    }

    void uncompressedFileAndCaption() {
        const QString dir = project({{1, "blue"}}, {{1, 25}});
        MontageRenderer r(job(dir, media("student.avi")));
        QCOMPARE(r.run(), Outcome::Succeeded);
        const QStringList info = probe(r.resultPath());
        for (const char* field : {"codec_name=rawvideo", "codec_tag=0x0000", "pix_fmt=bgr24",
                                  "width=160", "height=120", "r_frame_rate=16/1"})
            QVERIFY2(info.contains(field), field);
        QVERIFY(!info.join(' ').contains("audio"));
        // The caption shows only with an annotation.
        for (const cv::Mat& f : readFrames(r.resultPath()))
            QCOMPARE(whitePixels(f, kCaption) > 5, label(f).startsWith('B'));
    }

    void aspectRatio() {
        // A wide student video is letterboxed; a wide annotation fills the inset, cropped.
        QVERIFY(makeStudent(media("wide.avi"), 1, "160x60"));
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i", "color=c=red:size=160x120:duration=1", "-f",
                                   "lavfi", "-i", "color=c=blue:size=160x120:duration=1",
                                   "-filter_complex", "hstack", "-c:v", "mpeg4", "-q:v", "2",
                                   media("halves.avi")}));
        const QString dir = project({}, {{1, 0}});
        QFile::copy(media("halves.avi"), QDir(dir).filePath("annotation1.avi"));
        MontageRenderer r(job(dir, media("wide.avi")));
        QCOMPARE(r.run(), Outcome::Succeeded);
        const QList<cv::Mat> frames = readFrames(r.resultPath());
        QVERIFY(!frames.isEmpty());
        const cv::Mat& f = frames.first();                      // annotation over the first picture
        QVERIFY(cv::mean(f(cv::Rect(100, 0, 60, 28)))[1] < 10); // band above
        QVERIFY(cv::mean(f(cv::Rect(100, 92, 60, 28)))[1] < 10); // band below
        QVERIFY(cv::mean(f(cv::Rect(100, 32, 60, 56)))[1] > 50); // the picture
        QVERIFY(cv::norm(cv::mean(f(cv::Rect(2, 62, 36, 56))) - cv::Scalar(0, 0, 255)) < 80);
        QVERIFY(cv::norm(cv::mean(f(cv::Rect(42, 62, 36, 56))) - cv::Scalar(255, 0, 0)) < 80);
    }

    void darkFramesAreDropped() {
        const QString dir = project({{1, "red"}}, {{1, 25}});
        MontageRenderer r(job(dir, media("black.avi")));
        QCOMPARE(r.run(), Outcome::Succeeded);
        QCOMPARE(runs(readFrames(r.resultPath())).left(4), QStringLiteral("R60x"));
        QVERIFY(r.framesDropped() > 20);
    }

    void compressed() {
        const QString dir = project({{1, "red"}}, {{1, 25}});
        kel::MontageJob j = job(dir, media("student.avi"),
                                kel::montageGeometry(kel::Resolution::Faible, false, 0, 0, 0));
        j.compress = true;
        MontageRenderer r(j);
        QVERIFY(!r.encoderMissing());
        QCOMPARE(r.run(), Outcome::Succeeded);
        QCOMPARE(r.resultPath(), QDir(dir).filePath("montage.avi"));
        const QStringList info = probe(r.resultPath());
        for (const char* field :
             {"codec_name=h264", "width=320", "height=240", "r_frame_rate=25/1"})
            QVERIFY2(info.contains(field), field);
        QCOMPARE(leftovers(dir), QStringList{"montage.avi"});
        // 16 frames in, 25 out, the same length (repeated frames are empty AVI chunks).
        const QString frames = info.filter("nb_frames=").value(0).mid(10);
        QVERIFY2(qAbs(frames.toInt() - r.framesWritten() * 25 / 16) <= 2, qPrintable(frames));
        QCOMPARE(readFrames(r.resultPath()).size(), r.framesWritten());
    }

    void ffmpegMissing() {
        const QString dir = project({{1, "red"}}, {{1, 25}});
        kel::MontageJob j = job(dir, media("student.avi"));
        j.compress = true;
        j.ffmpegProgram = m_work.filePath("nowhere/ffmpeg");
        MontageRenderer r(j);
        QVERIFY(r.encoderMissing());
        QCOMPARE(r.run(), Outcome::Succeeded);
        QCOMPARE(leftovers(dir), QStringList{"VideoFinale.avi"});
    }

    void failedCompressionLeavesNothing() {
        QFile script(m_work.filePath("failing-ffmpeg"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ncat > /dev/null\necho 'Unknown encoder libx264' >&2\nexit 1\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        const QString dir = project({{1, "red"}}, {{1, 25}});
        kel::MontageJob j = job(dir, media("student.avi"));
        j.compress = true;
        j.ffmpegProgram = script.fileName();
        MontageRenderer r(j);
        QCOMPARE(r.run(), Outcome::Failed);
        QVERIFY(r.errorMessage().contains("ffmpeg"));
        QVERIFY(r.errorMessage().contains("Unknown encoder libx264"));
        QVERIFY(leftovers(dir).isEmpty());
    }

    void undecodable_data() {
        QTest::addColumn<bool>("badStudent");
        QTest::addColumn<QString>("named");
        QTest::newRow("annotation") << false << "annotation2.avi";
        QTest::newRow("student's video") << true << "garbage.avi";
    }

    void undecodable() {
        QFETCH(bool, badStudent);
        QFETCH(QString, named);
        const QString dir = project({{1, "red"}}, {{1, 25}, {2, 50}});
        QFile garbage(QDir(dir).filePath(badStudent ? "garbage.avi" : "annotation2.avi"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(20000, 'x'));
        garbage.close();
        QFile previous(QDir(dir).filePath("VideoFinale.avi"));
        QVERIFY(previous.open(QIODevice::WriteOnly));
        previous.write("previous montage");
        previous.close();

        MontageRenderer r(job(dir, badStudent ? garbage.fileName() : media("student.avi")));
        QCOMPARE(r.run(), Outcome::Failed);
        QVERIFY2(r.errorMessage().contains(named), qPrintable(r.errorMessage()));
        QVERIFY(previous.open(QIODevice::ReadOnly));
        QCOMPARE(previous.readAll(), QByteArray("previous montage"));
        QCOMPARE(leftovers(dir), QStringList{"VideoFinale.avi"});
    }

    void cancelRemovesThePartialFile() {
        const QString dir = project({{1, "red"}}, {{1, 25}});
        MontageRenderer r(job(dir, media("student.avi")));
        r.setProgressCallback([&r](int permille) {
            if (permille >= 300)
                r.cancel();
        });
        QCOMPARE(r.run(), Outcome::Cancelled);
        QVERIFY(leftovers(dir).isEmpty());
    }

    void subtitles_data() {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<bool>("compress");
        QTest::addColumn<QString>("student");
        QTest::newRow("two in one second")
            << QList<Entry>{{1, 25}, {2, 25}} << false << "student.avi";
        QTest::newRow("compressed, a start cut, dark frames dropped")
            << QList<Entry>{{2, 0, 300, 0}, {1, 25}} << true << "black.avi";
    }

    // Each cue spans the frames of the file where its annotation's colour shows.
    void subtitles() {
        QFETCH(QList<Entry>, entries);
        QFETCH(bool, compress);
        QFETCH(QString, student);
        const QString dir = project({{1, "red"}, {2, "lime"}}, entries);
        kel::MontageJob j = job(dir, media(student));
        j.compress = compress;
        MontageRenderer r(j);
        QCOMPARE(r.run(), Outcome::Succeeded);

        QStringList texts;
        QList<double> times; // start of the first frame, end of the last, of each colour
        cv::VideoCapture montage(QFile::encodeName(r.resultPath()).toStdString(), cv::CAP_FFMPEG);
        for (cv::Mat f; montage.read(f);) {
            const double ms = montage.get(cv::CAP_PROP_POS_MSEC);
            const QChar c = label(f)[0];
            if (c != 'R' && c != 'G')
                continue;
            const QString text = QStringLiteral("Annotation n°%1").arg(c == 'R' ? 1 : 2);
            if (texts.isEmpty() || texts.last() != text) {
                texts << text;
                times << ms << 0;
            }
            times.last() = ms + 1000 / MontageRenderer::kFps;
        }

        QFile srt(QDir(dir).filePath("montage.srt"));
        QVERIFY(srt.open(QIODevice::ReadOnly));
        const QStringList cues = QString::fromUtf8(srt.readAll()).split("\n\n");
        QCOMPARE(cues.size(), texts.size() + 1);
        QCOMPARE(cues.last(), QString());
        const double tolerance = compress ? 25 : 1; // montage.avi: frames on a 40 ms grid
        for (int i = 0; i < texts.size(); ++i) {
            const QStringList lines = cues[i].split('\n');
            const QStringList span = lines.value(1).split(" --> ");
            QCOMPARE(lines, (QStringList{QString::number(i + 1), lines.value(1), texts[i]}));
            QCOMPARE(span.size(), 2);
            for (int k = 0; k < 2; ++k) {
                const QTime t = QTime::fromString(span[k], "hh:mm:ss,zzz");
                QVERIFY2(t.isValid() &&
                             qAbs(t.msecsSinceStartOfDay() - times[2 * i + k]) < tolerance,
                         qPrintable(QString("%1, %2").arg(lines[1]).arg(times[2 * i + k])));
            }
        }
    }

    void progressReachesTheEnd() {
        const QString dir = project({{1, "red"}, {2, "lime"}}, {{1, 25}, {2, 75}});
        MontageRenderer r(job(dir, media("student.avi")));
        QList<int> seen;
        r.setProgressCallback([&seen](int permille) { seen << permille; });
        QCOMPARE(r.run(), Outcome::Succeeded);
        QVERIFY(seen.size() > 10);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QCOMPARE(seen.last(), 1000);
        QVERIFY(seen[seen.size() - 2] >= 900); // the estimate was close to the real work
    }

    void fileNamesMatchNumbersAsText() {
        const QList<kel::AnnotationInsertion> plan =
            kel::planInsertions("/p", {"annotation05.avi", "annotation12.avi", "annotation5.wmv"},
                                {5, 50, 12, 25, 7, 0});
        QCOMPARE(plan.size(), 2);
        QCOMPARE(plan[0].filePath, QStringLiteral("/p/annotation12.avi"));
        QCOMPARE(plan[1].filePath, QStringLiteral("/p/annotation5.wmv"));
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // the caption is drawn with QPainter
    TestMontageRenderer t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_montage_renderer.moc"
