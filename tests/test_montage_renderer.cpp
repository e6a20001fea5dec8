#include "export/montage_renderer.h"
#include "project/project_file.h"
#include "support/montage_media.h"

#include <QGuiApplication>
#include <QtTest>

#include <array>

using kel::MontageRenderer;
using namespace montagemedia;
Q_DECLARE_METATYPE(montagemedia::Entry)

namespace {
const kel::MontageGeometry kSmall{160, 120, 60, 80, 60, 42, 13, 10}; // inset (0, 60, 80, 60)
using Shown = std::array<double, 3>; // an inset: annotation number, first and end ms

// Runs of equal frames, "S0x16 R1x16 ...": R or G for a red or lime inset, S for none, then the
// second of the student's video.
QString runs(const QString& montage, QList<Shown>* shown) {
    cv::VideoCapture cap(QFile::encodeName(montage).toStdString(), cv::CAP_FFMPEG);
    QStringList out;
    for (cv::Mat f; cap.read(f);) {
        const double ms = cap.get(cv::CAP_PROP_POS_MSEC);
        const double grey = cv::mean(f(cv::Rect(100, 10, 50, 40)))[1];
        const cv::Scalar inset = cv::mean(f(cv::Rect(0, 60, 80, 60)));
        const char c = cv::norm(inset - cv::Scalar(0, 0, 255)) < 80   ? 'R'
                       : cv::norm(inset - cv::Scalar(0, 255, 0)) < 80 ? 'G'
                                                                      : 'S';
        const QString l = c + QString::number(qBound(0, qRound((grey - 60) / 40), 3)) + 'x';
        if (c != 'S' && (out.isEmpty() || out.last()[0] != c))
            *shown << Shown{c == 'R' ? 1.0 : 2.0, ms, 0};
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
    QFile srt(dir + "/montage.srt");
    QVERIFY(srt.open(QIODevice::ReadOnly));
    const QStringList cues = QString::fromUtf8(srt.readAll()).split("\n\n");
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

private slots:
    void initTestCase() {
        QVERIFY(makeStudent(media("student.avi"), 4));
        QVERIFY(testmedia::makeVideo(media("red.avi"), "color=c=red", 1));
        QVERIFY(testmedia::makeVideo(media("lime.avi"), "color=c=lime", 1));
        QVERIFY(testmedia::makeVideo(media("black.avi"), "color=c=black", 2));
    }

    void content_data() {
        QTest::addColumn<QList<Entry>>("entries"); // annotation1 is red, annotation2 lime
        QTest::addColumn<QString>("student");
        QTest::addColumn<QString>("ffmpeg"); // "found" or "missing" to compress
        QTest::addColumn<QString>("expected");
        const QString two = "S0x16 R1x16 S1x15 S2x16 G3x16 S3x15";
        // clang-format off
        QTest::newRow("in order")                << QList<Entry>{{1, 25}, {2, 75}} << "student.avi" << "" << two;
        QTest::newRow("entries out of order")    << QList<Entry>{{2, 75}, {1, 25}} << "student.avi" << "" << two;
        QTest::newRow("compressed")              << QList<Entry>{{1, 25}, {2, 75}} << "student.avi" << "found" << two;
        QTest::newRow("ffmpeg missing")          << QList<Entry>{{1, 25}, {2, 75}} << "student.avi" << "missing" << two;
        QTest::newRow("key 0")                   << QList<Entry>{{1, 0}} << "student.avi" << "" << "R0x16 S0x15 S1x16 S2x16 S3x16";
        QTest::newRow("two in one second")       << QList<Entry>{{1, 25}, {2, 25}} << "student.avi" << "" << "S0x16 R1x16 G1x16 S1x15 S2x16 S3x16";
        QTest::newRow("cut with only ValueFin")  << QList<Entry>{{1, 25, 0, 500}} << "student.avi" << "" << "S0x16 R1x8 S1x15 S2x16 S3x16";
        QTest::newRow("both cuts")               << QList<Entry>{{1, 25, 200, 500}} << "student.avi" << "" << "S0x16 R1x4 S1x15 S2x16 S3x16";
        QTest::newRow("missing annotation file") << QList<Entry>{{1, 25}, {3, 50}} << "student.avi" << "" << "S0x16 R1x16 S1x15 S2x16 S3x16";
        QTest::newRow("number given twice")      << QList<Entry>{{1, 25}, {1, 75}} << "student.avi" << "" << "S0x16 S1x16 S2x16 R3x16 S3x15";
        QTest::newRow("past the student's end")  << QList<Entry>{{1, 150}} << "student.avi" << "" << "S0x16 S1x16 S2x16 S3x16 R3x16";
        QTest::newRow("dark frames dropped")     << QList<Entry>{{2, 0, 300, 0}, {1, 25}} << "black.avi" << "found" << "G0x11 R0x16";
        // clang-format on
    }

    void content() {
        QFETCH(QList<Entry>, entries);
        QFETCH(QString, student);
        QFETCH(QString, ffmpeg);
        QFETCH(QString, expected);
        const QString dir = media(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(dir) && writeProject(dir, entries));
        QVERIFY(QFile::copy(media("red.avi"), dir + "/annotation1.avi"));
        QVERIFY(QFile::copy(media("lime.avi"), dir + "/annotation2.avi"));
        MontageRenderer r({media(student), dir, kSmall,
                           kel::planInsertions(dir, kel::ProjectFile::listAnnotationFiles(dir),
                                               kel::ProjectFile(dir).loadAnnotationSchedule()),
                           !ffmpeg.isEmpty(), ffmpeg == "missing" ? media("nowhere/ffmpeg") : ""});
        QCOMPARE(r.run(), MontageRenderer::Outcome::Succeeded);
        const bool h264 = ffmpeg == "found";
        QCOMPARE(probe(r.resultPath()), h264 ? "h264,160,120,25/1" : "rawvideo,160,120,16/1");
        QList<Shown> shown;
        QCOMPARE(runs(r.resultPath(), &shown), expected);
        compareSubtitles(dir, shown, h264 ? 25 : 1); // montage.avi: on a 40 ms grid
        QCOMPARE(montageFiles(dir),
                 (QStringList{h264 ? "montage.avi" : "VideoFinale.avi", "montage.srt"}));
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // the caption is drawn with QPainter
    TestMontageRenderer t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_montage_renderer.moc"
