#include "export/montage_renderer.h"
#include "project/project_file.h"
#include "support/montage_media.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <array>

using kel::MontageRenderer;
using namespace montagemedia;
Q_DECLARE_METATYPE(montagemedia::Entry)

namespace {
const kel::MontageGeometry kSmall{160, 120, 60, 80, 60, 42, 13, 10}; // inset (0, 60, 80, 60)

// Runs of equal frames, "S60x16 R100x16 ...": R or G for a red or lime inset, S for none, over the
// student's grey level. `shown` gets each inset's annotation number, first and last ms.
QString runs(const QString& montage, QList<std::array<double, 3>>* shown) {
    cv::VideoCapture cap(QFile::encodeName(montage).toStdString(), cv::CAP_FFMPEG);
    QStringList out;
    QString last;
    int count = 0;
    for (cv::Mat f; cap.read(f);) {
        const double ms = cap.get(cv::CAP_PROP_POS_MSEC);
        const double grey = cv::mean(f(cv::Rect(100, 10, 50, 40)))[1];
        const cv::Scalar inset = cv::mean(f(cv::Rect(0, 60, 80, 60)));
        const char c = cv::norm(inset - cv::Scalar(0, 0, 255)) < 80   ? 'R'
                       : cv::norm(inset - cv::Scalar(0, 255, 0)) < 80 ? 'G'
                                                                      : 'S';
        const QString l = c + QString::number(studentLevel(qBound(0, qRound((grey - 60) / 40), 3)));
        if (c != 'S' && (last.isEmpty() || last[0] != c))
            *shown << std::array<double, 3>{c == 'R' ? 1.0 : 2.0, ms, 0};
        if (c != 'S')
            shown->last()[2] = ms + 1000 / MontageRenderer::kFps;
        if (l != last && count)
            out << QStringLiteral("%1x%2").arg(last).arg(std::exchange(count, 0));
        last = l;
        ++count;
    }
    if (count)
        out << QStringLiteral("%1x%2").arg(last).arg(count);
    return out.join(' ');
}

// Each cue of montage.srt spans the frames where its annotation shows, within `slackMs`.
void compareSubtitles(const QString& dir, const QList<std::array<double, 3>>& shown,
                      double slackMs) {
    QFile srt(QDir(dir).filePath("montage.srt"));
    QVERIFY(srt.open(QIODevice::ReadOnly));
    const QStringList cues = QString::fromUtf8(srt.readAll()).split("\n\n");
    QCOMPARE(cues.size(), shown.size() + 1);
    for (int i = 0; i < shown.size(); ++i) {
        const QStringList lines = cues[i].split('\n');
        QCOMPARE(lines, (QStringList{QString::number(i + 1), lines.value(1),
                                     QStringLiteral("Annotation n°%1").arg(shown[i][0])}));
        for (int k = 1; k < 3; ++k) {
            const QTime t = QTime::fromString(lines[1].split(" --> ").value(k - 1), "hh:mm:ss,zzz");
            QVERIFY2(t.isValid() && qAbs(t.msecsSinceStartOfDay() - shown[i][k]) < slackMs,
                     qPrintable(QStringLiteral("%1 for %2").arg(lines[1]).arg(shown[i][k])));
        }
    }
}
} // namespace

class TestMontageRenderer : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_projects = 0;

    QString media(const QString& name) const { return m_dir.filePath(name); }

    // A project with annotation1.avi in red, annotation2.avi in lime, and these entries.
    kel::MontageJob job(const QList<Entry>& entries, const QString& student = "student.avi") {
        const QString dir = m_dir.filePath(QString::number(++m_projects));
        QDir().mkpath(dir);
        QFile::copy(media("red.avi"), QDir(dir).filePath("annotation1.avi"));
        QFile::copy(media("lime.avi"), QDir(dir).filePath("annotation2.avi"));
        writeProject(dir, entries);
        return {media(student), dir, kSmall,
                kel::planInsertions(dir, kel::ProjectFile::listAnnotationFiles(dir),
                                    kel::ProjectFile(dir).loadAnnotationSchedule())};
    }

private slots:
    void initTestCase() {
        QVERIFY(makeStudent(media("student.avi"), 4));
        QVERIFY(makeAnnotation(media("red.avi"), "red"));
        QVERIFY(makeAnnotation(media("lime.avi"), "lime"));
        QVERIFY(testmedia::makeVideo(media("black.avi"), "color=c=black", 2, 25, "160x120"));
    }

    void content_data() {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QString>("student");
        QTest::addColumn<QString>("ffmpeg"); // "found" or "missing" to compress
        QTest::addColumn<QString>("expected");
        const QString two = "S60x16 R100x16 S100x15 S140x16 G180x16 S180x15";
        // clang-format off
        QTest::newRow("in order")                << QList<Entry>{{1, 25}, {2, 75}} << "student.avi" << "" << two;
        QTest::newRow("entries out of order")    << QList<Entry>{{2, 75}, {1, 25}} << "student.avi" << "" << two;
        QTest::newRow("compressed")              << QList<Entry>{{1, 25}, {2, 75}} << "student.avi" << "found" << two;
        QTest::newRow("ffmpeg missing")          << QList<Entry>{{1, 25}, {2, 75}} << "student.avi" << "missing" << two;
        QTest::newRow("key 0")                   << QList<Entry>{{1, 0}} << "student.avi" << "" << "R60x16 S60x15 S100x16 S140x16 S180x16";
        QTest::newRow("two in one second")       << QList<Entry>{{1, 25}, {2, 25}} << "student.avi" << "" << "S60x16 R100x16 G100x16 S100x15 S140x16 S180x16";
        QTest::newRow("cut with only ValueFin")  << QList<Entry>{{1, 25, 0, 500}} << "student.avi" << "" << "S60x16 R100x8 S100x15 S140x16 S180x16";
        QTest::newRow("both cuts")               << QList<Entry>{{1, 25, 200, 500}} << "student.avi" << "" << "S60x16 R100x4 S100x15 S140x16 S180x16";
        QTest::newRow("missing annotation file") << QList<Entry>{{1, 25}, {3, 50}} << "student.avi" << "" << "S60x16 R100x16 S100x15 S140x16 S180x16";
        QTest::newRow("number given twice")      << QList<Entry>{{1, 25}, {1, 75}} << "student.avi" << "" << "S60x16 S100x16 S140x16 R180x16 S180x15";
        QTest::newRow("past the student's end")  << QList<Entry>{{1, 150}} << "student.avi" << "" << "S60x16 S100x16 S140x16 S180x16 R180x16";
        QTest::newRow("dark frames dropped")     << QList<Entry>{{2, 0, 300, 0}, {1, 25}} << "black.avi" << "found" << "G60x11 R60x16";
        // clang-format on
    }

    void content() {
        QFETCH(QList<Entry>, entries);
        QFETCH(QString, student);
        QFETCH(QString, ffmpeg);
        QFETCH(QString, expected);
        kel::MontageJob j = job(entries, student);
        j.compress = !ffmpeg.isEmpty();
        j.ffmpegProgram = ffmpeg == "missing" ? media("nowhere/ffmpeg") : QString();
        MontageRenderer r(j);
        QCOMPARE(r.encoderMissing(), ffmpeg == "missing");
        QCOMPARE(r.run(), MontageRenderer::Outcome::Succeeded);
        const bool h264 = ffmpeg == "found";
        const QStringList info = probe(r.resultPath());
        for (const char* field : {h264 ? "codec_name=h264" : "codec_name=rawvideo", "width=160",
                                  h264 ? "r_frame_rate=25/1" : "r_frame_rate=16/1", "height=120"})
            QVERIFY2(info.contains(field), field);
        QList<std::array<double, 3>> shown;
        QCOMPARE(runs(r.resultPath(), &shown), expected);
        compareSubtitles(j.projectDir, shown, h264 ? 25 : 1); // montage.avi: on a 40 ms grid
        const QString file = h264 ? "montage.avi" : "VideoFinale.avi";
        QCOMPARE(montageFiles(j.projectDir), (QStringList{file, "montage.srt"}));
    }

    void failure_data() {
        QTest::addColumn<QString>("ffmpeg"); // a fake one, to compress
        QTest::addColumn<QString>("named");
        // clang-format off
        QTest::newRow("undecodable annotation") << "" << "annotation2.avi";
        QTest::newRow("compression fails") << "cat >/dev/null; echo 'Unknown encoder x264' >&2; exit 1" << "Unknown encoder x264";
        // clang-format on
    }

    // A failed run names what is at fault and leaves the earlier montage as it was.
    void failure() {
        QFETCH(QString, ffmpeg);
        QFETCH(QString, named);
        kel::MontageJob j = job({{1, 25}, {2, 50}});
        j.compress = !ffmpeg.isEmpty();
        j.ffmpegProgram = QDir(j.projectDir).filePath("ffmpeg");
        const QString garbage = j.compress ? j.ffmpegProgram : j.insertions[1].filePath;
        QVERIFY(writeFile(garbage, "#!/bin/sh\n" + ffmpeg.toUtf8() + "\n", true));
        QVERIFY(writeEarlierMontage(j.projectDir));
        MontageRenderer r(j);
        QCOMPARE(r.run(), MontageRenderer::Outcome::Failed);
        QVERIFY2(r.errorMessage().contains(named), qPrintable(r.errorMessage()));
        QCOMPARE(montageFiles(j.projectDir),
                 (QStringList{"VideoFinale.avi (earlier)", "montage.avi (earlier)",
                              "montage.srt (earlier)"}));
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // the caption is drawn with QPainter
    TestMontageRenderer t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_montage_renderer.moc"
