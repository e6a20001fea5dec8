#include "recording/annotation_recorder.h"
#include "recording/annotation_transcoder.h"
#include "support/media.h"

#include <QtTest>

using namespace kel;
using Outcome = AnnotationTranscoder::Outcome;
using testmedia::contents;

// A file found beside a project's recordings after a crash: an MPEG-4 video of `size` (25 fps, one
// second, written after the recording; empty: a text file).
struct Leftover {
    QString name, size;
    bool removed;
};
Q_DECLARE_METATYPE(Leftover)

// A recording of `seconds` as the recorder writes it: uncompressed, at its rate. `unfinished`, when
// given, gets the file as a kill two seconds in would leave it: before the sink finishes it.
static bool record(const QString& path, int seconds, const QString& unfinished = QString()) {
    const int frames = seconds * int(AnnotationRecorder::kFps);
    AviFrameSink sink;
    if (!sink.open(path, AnnotationRecorder::kFps, cv::Size(320, 240)))
        return false;
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame(240, 320, CV_8UC3, cv::Scalar(40, 80, 120));
        frame.colRange(i % 300, i % 300 + 20).setTo(cv::Scalar::all(255));
        if (!sink.write(frame))
            return false;
    }
    return unfinished.isEmpty() ||
           (QTest::qWaitFor([&] {
                return QFileInfo(path).size() > 2 * AnnotationRecorder::kFps * 320 * 240 * 3;
            }) &&
            QFile::copy(path, unfinished));
}

class TestAnnotationTranscoder : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString compressed; // a playable MPEG-4 AVI, as ffmpeg would leave it

    // A project folder with annotation1.avi (2 s) and annotation2.avi (3 s), raw, and the
    // student's own 1.avi and 2.avi.
    QString project(const QString& name) {
        const QString dir = tmp.filePath(name);
        if (!QDir().mkpath(dir) || !record(dir + "/annotation1.avi", 2) ||
            !record(dir + "/annotation2.avi", 3) || !QFile::copy(compressed, dir + "/1.avi"))
            return QString();
        return testmedia::writeFile(dir + "/2.avi", "a file of the teacher's") ? dir : QString();
    }

private slots:
    void initTestCase() {
        compressed = tmp.filePath(QStringLiteral("compressed.avi"));
        QVERIFY(testmedia::makeVideo(compressed, QStringLiteral("testsrc"), 2));
    }

    // ffmpeg going wrong on annotation1 leaves it as it was, nothing of ours behind, and the
    // queue goes on with annotation2, which the real ffmpeg replaces with a compression as long as
    // the recording; the student's own 1.avi and 2.avi stay byte for byte.
    void troubleLeavesTheRecording_data() {
        QTest::addColumn<QString>("fault"); // shell run for annotation1 ($in), its output $out
        // clang-format off
        QTest::newRow("exit 1 after a playable file") << QString("cp '%1' \"$out\"; exit 1").arg(compressed);
        QTest::newRow("garbage, exit 0") << "echo garbage > \"$out\"";
        QTest::newRow("stalled") << "echo partial > \"$out\"; exec sleep 60";
        QTest::newRow("a second is missing") << "exec ffmpeg -v error -y -i \"$in\" -t 1 -c:v mpeg4 -f avi \"$out\"";
        // clang-format on
    }
    void troubleLeavesTheRecording() {
        QFETCH(QString, fault);
        const QString dir = project(QTest::currentDataTag());
        QVERIFY(!dir.isEmpty());
        const QString first = dir + "/annotation1.avi", second = dir + "/annotation2.avi";
        const QByteArray recorded = contents(first);
        const QString script = tmp.filePath(QTest::currentDataTag() + QStringLiteral(".sh"));
        QVERIFY(testmedia::writeFake(script,
                                     "case \"$*\" in *annotation2*) exec ffmpeg \"$@\";; esac\n" +
                                         fault.replace("$in", first).toUtf8()));

        AnnotationTranscoder transcoder;
        transcoder.setProgram(script);
        transcoder.setStallTimeoutMs(1500);
        QSignalSpy finished(&transcoder, &AnnotationTranscoder::finished);
        // The failure's box runs an event loop of its own inside the handler: the next run waits
        // for its end, since the job that failed is still on the stack.
        bool startedUnderBox = false;
        connect(&transcoder, &AnnotationTranscoder::finished, this, [&](Outcome outcome) {
            if (outcome != Outcome::Failed)
                return;
            QTest::qWait(300);
            startedUnderBox = transcoder.isRunning();
        });
        QVERIFY(transcoder.enqueue(first) && transcoder.enqueue(second));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QCOMPARE(finished[0][0].value<Outcome>(), Outcome::Failed);
        QVERIFY(!startedUnderBox);
        QCOMPARE(contents(first), recorded);
        QCOMPARE(finished[1][0].value<Outcome>(), Outcome::Replaced);
        const qint64 ms = AnnotationTranscoder::durationMs(second);
        QVERIFY2(std::abs(ms - 3000) <= 80, qPrintable(QString::number(ms)));
        QVERIFY(contents(dir + "/1.avi") == contents(compressed) &&
                contents(dir + "/2.avi") == "a file of the teacher's");
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{"1.avi", "2.avi", "annotation1.avi", "annotation2.avi"}));
    }

    // Taken off the queue (deleted), or all stopped (quit): untouched, nothing left running.
    void removeAndStop() {
        const QString dir = project(QStringLiteral("removed"));
        QVERIFY(!dir.isEmpty());
        const QString first = dir + "/annotation1.avi", second = dir + "/annotation2.avi";
        const QByteArray raw1 = contents(first), raw2 = contents(second);
        AnnotationTranscoder transcoder;
        QSignalSpy finished(&transcoder, &AnnotationTranscoder::finished);
        QVERIFY(transcoder.enqueue(first) && transcoder.enqueue(second));
        transcoder.remove(second);
        QCOMPARE(transcoder.pending(), QStringList{first});
        QVERIFY(transcoder.enqueue(second));
        transcoder.stop(200);
        QVERIFY(!transcoder.isBusy());
        // The second never started.
        QVERIFY(finished.count() == 1 && finished[0][0].value<Outcome>() == Outcome::Stopped);
        QVERIFY(contents(first) == raw1 && contents(second) == raw2);

        // A run taken off while an ffmpeg deaf to "q" and SIGTERM runs: the caller (the window)
        // is not held while it stops.
        const QString stubborn = dir + "/ffmpeg";
        QVERIFY(testmedia::writeFake(stubborn, "for out; do :; done\necho partial > \"$out\"\n"
                                               "trap '' TERM\nexec sleep 60"));
        transcoder.setProgram(stubborn);
        QVERIFY(transcoder.enqueue(first));
        QTRY_VERIFY(QFile::exists(AnnotationTranscoder::workPath(first)));
        QElapsedTimer clock;
        clock.start();
        transcoder.remove(first);
        QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
        QCOMPARE(finished[1][0].value<Outcome>(), Outcome::Stopped);
        QVERIFY(!transcoder.isBusy() && contents(first) == raw1);
        QVERIFY(!QFile::exists(AnnotationTranscoder::workPath(first)));
    }

    // After a crash our work file goes; a teacher's "1.avi", even one that looks like a
    // compression of the raw annotation1.avi (an older version's name for it), stays.
    void leftoversOfOursOnly_data() {
        QTest::addColumn<Leftover>("l");
        // clang-format off
        QTest::newRow("our work file")          << Leftover{".annotation1.compressing.avi", "", true};
        QTest::newRow("teacher's 640x480 copy") << Leftover{"1.avi", "640x480", false};
        // clang-format on
    }
    void leftoversOfOursOnly() {
        QFETCH(Leftover, l);
        const QString dir = tmp.filePath(QStringLiteral("leftover ") + QTest::currentDataTag());
        QVERIFY(QDir().mkpath(dir) && record(dir + "/annotation1.avi", 2));
        const QString path = dir + "/" + l.name;
        QVERIFY(l.size.isEmpty() ? testmedia::writeFile(path, "not a video")
                                 : testmedia::makeVideo(path, "testsrc", 1, 25, l.size));
        const QByteArray kept = contents(path);
        QCOMPARE(AnnotationTranscoder::removeLeftovers(dir),
                 l.removed ? QStringList{path} : QStringList());
        QCOMPARE(contents(path), l.removed ? QByteArray() : kept);
        QVERIFY(QFile::exists(dir + "/annotation1.avi"));
    }

    // KEL killed two seconds into a recording: the file, never finished, is still recognised as
    // raw and compressed with the frames that reached the disk.
    void recordingCutShortByAKill() {
        const QString path = tmp.filePath(QStringLiteral("annotation9.avi"));
        QVERIFY(record(tmp.filePath(QStringLiteral("killed.avi")), 3, path));
        QVERIFY(AnnotationTranscoder::isRawRecording(path));
        AnnotationTranscoder transcoder;
        QSignalSpy finished(&transcoder, &AnnotationTranscoder::finished);
        QVERIFY(transcoder.enqueue(path));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(finished[0][0].value<Outcome>(), Outcome::Replaced);
        const qint64 ms = AnnotationTranscoder::durationMs(path);
        QVERIFY2(ms >= 1800 && ms <= 4000, qPrintable(QString::number(ms)));
    }
};

QTEST_GUILESS_MAIN(TestAnnotationTranscoder)
#include "test_annotation_transcoder.moc"
