#include "recording/annotation_recorder.h"
#include "recording/annotation_transcoder.h"
#include "support/media.h"

#include <QtTest>

using namespace kel;
using Outcome = AnnotationTranscoder::Outcome;
using testmedia::contents;

// Run with this and a path, the test program records there in real time until it is killed.
static const QString kRecordUntilKilled = QStringLiteral("--record-until-killed");

// A recording as the recorder writes it: uncompressed, 15 frames per second, `sleepMs` apart.
static bool record(const QString& path, int frames, int sleepMs = 0) {
    AviFrameSink sink;
    if (!sink.open(path, AnnotationRecorder::kFps, cv::Size(320, 240)))
        return false;
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame(240, 320, CV_8UC3, cv::Scalar(40, 80, 120));
        frame.colRange(i % 300, i % 300 + 20).setTo(cv::Scalar::all(255));
        if (!sink.write(frame))
            return false;
        QThread::msleep(sleepMs);
    }
    sink.close();
    return true;
}

// Everything in the folder, hidden files included.
static QStringList listing(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class TestAnnotationTranscoder : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString compressed; // a playable MPEG-4 AVI, as ffmpeg would leave it

    // A project folder with annotation1.avi (2 s) and annotation2.avi (3 s), raw, and the
    // student's own 1.avi and 2.avi.
    QString project(const QString& name) {
        const QString dir = tmp.filePath(name);
        if (!QDir().mkpath(dir) || !record(dir + "/annotation1.avi", 30) ||
            !record(dir + "/annotation2.avi", 45) || !QFile::copy(compressed, dir + "/1.avi"))
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
        QTest::addColumn<QString>("fault"); // shell run for annotation1; $in, $out set
        QTest::addColumn<QString>("told");
        // clang-format off
        QTest::newRow("exit 1 after a playable file") << QString("cp '%1' \"$out\"; exit 1").arg(compressed) << "a échoué (code 1)";
        QTest::newRow("garbage, exit 0") << "echo garbage > \"$out\"" << "pas produit de vidéo lisible";
        QTest::newRow("stalled") << "echo partial > \"$out\"; exec sleep 60" << "ne progressait plus";
        QTest::newRow("a second is missing") << "exec ffmpeg -v error -y -i \"$in\" -t 1 -c:v mpeg4 -f avi \"$out\"" << "vidéo de 1.0 s pour un enregistrement de 2.0 s";
        // clang-format on
    }
    void troubleLeavesTheRecording() {
        QFETCH(QString, fault);
        QFETCH(QString, told);
        const QString dir = project(QTest::currentDataTag());
        QVERIFY(!dir.isEmpty());
        const QString first = dir + "/annotation1.avi", second = dir + "/annotation2.avi";
        const QByteArray recorded = contents(first), user1 = contents(dir + "/1.avi"),
                         user2 = contents(dir + "/2.avi");
        const QString script = tmp.filePath(QTest::currentDataTag() + QStringLiteral(".sh"));
        QVERIFY(testmedia::writeFake(script, "prev=; for a; do [ \"$prev\" = -i ] && in=\"$a\"; "
                                             "prev=\"$a\"; done\ncase \"$in\" in *annotation2*) "
                                             "exec ffmpeg \"$@\";; esac\n" +
                                                 fault.toUtf8()));

        AnnotationTranscoder transcoder;
        transcoder.setProgram(script);
        transcoder.setStallTimeoutMs(1500);
        QSignalSpy finished(&transcoder, &AnnotationTranscoder::finished);
        QString error;
        connect(&transcoder, &AnnotationTranscoder::finished, this,
                [&](Outcome, const QString& path) {
                    if (path == first)
                        error = transcoder.errorText();
                });
        QVERIFY(transcoder.enqueue(first) && transcoder.enqueue(second));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QCOMPARE(finished[0][0].value<Outcome>(), Outcome::Failed);
        QVERIFY2(error.contains(told), qPrintable(error));
        QCOMPARE(contents(first), recorded);
        QCOMPARE(contents(dir + "/1.avi"), user1);
        QCOMPARE(finished[1][0].value<Outcome>(), Outcome::Replaced);
        QCOMPARE(finished[1][1].toString(), second);
        QCOMPARE(testmedia::probe(second, "width,r_frame_rate"), QStringLiteral("640,25/1"));
        const qint64 ms = AnnotationTranscoder::durationMs(second);
        QVERIFY2(std::abs(ms - 3000) <= 80, qPrintable(QString::number(ms)));
        QCOMPARE(contents(dir + "/2.avi"), user2);
        QCOMPARE(listing(dir),
                 (QStringList{"1.avi", "2.avi", "annotation1.avi", "annotation2.avi"}));
    }

    // Taken off the queue (deleted), or all stopped (quit): untouched, nothing left running.
    void removeAndStop() {
        const QString dir = project(QStringLiteral("removed"));
        QVERIFY(!dir.isEmpty());
        const QString first = dir + "/annotation1.avi", second = dir + "/annotation2.avi";
        const QByteArray raw2 = contents(second);
        AnnotationTranscoder transcoder;
        QSignalSpy finished(&transcoder, &AnnotationTranscoder::finished);
        QVERIFY(transcoder.enqueue(first) && transcoder.enqueue(second));
        transcoder.remove(second);
        QCOMPARE(transcoder.pending(), QStringList{first});
        QTRY_VERIFY_WITH_TIMEOUT(!transcoder.isBusy(), 60000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(contents(second), raw2);

        QVERIFY(record(first, 30));
        const QByteArray raw1 = contents(first);
        QVERIFY(transcoder.enqueue(first) && transcoder.enqueue(second));
        transcoder.stop(200);
        QVERIFY(!transcoder.isBusy());
        QCOMPARE(finished.last()[0].value<Outcome>(), Outcome::Stopped);
        QCOMPARE(contents(first), raw1);
        QCOMPARE(contents(second), raw2);
        QCOMPARE(listing(dir),
                 (QStringList{"1.avi", "2.avi", "annotation1.avi", "annotation2.avi"}));
    }

    // After a crash: our work file goes, an earlier version's "1.avi" goes when it is plainly
    // the compression of the raw annotation1.avi (2 s), and anything else stays.
    void leftoversOfOursOnly_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("size");   // of an MPEG-4 video, 25 fps; empty: a text file
        QTest::addColumn<double>("seconds"); // its length
        QTest::addColumn<bool>("before");    // written before the recording
        QTest::addColumn<bool>("removed");
        // clang-format off
        QTest::newRow("our work file") << ".annotation1.compressing.avi" << "" << 0.0 << false << true;
        QTest::newRow("cut-short compression") << "1.avi" << "640x480" << 1.0 << false << true;
        QTest::newRow("student's video") << "1.avi" << "320x240" << 1.0 << false << false;
        QTest::newRow("student's long video") << "1.avi" << "640x480" << 6.0 << false << false;
        QTest::newRow("older than the recording") << "1.avi" << "640x480" << 1.0 << true << false;
        QTest::newRow("recording already compressed") << "2.avi" << "640x480" << 1.0 << false << false;
        // clang-format on
    }
    void leftoversOfOursOnly() {
        QFETCH(QString, name);
        QFETCH(QString, size);
        QFETCH(double, seconds);
        QFETCH(bool, before);
        QFETCH(bool, removed);
        const QString dir = tmp.filePath(QStringLiteral("leftover ") + QTest::currentDataTag());
        QVERIFY(QDir().mkpath(dir) && record(dir + "/annotation1.avi", 30));
        QVERIFY(QFile::copy(compressed, dir + "/annotation2.avi"));
        const QString path = dir + "/" + name;
        QVERIFY(size.isEmpty() ? testmedia::writeFile(path, "not a video")
                               : testmedia::makeVideo(path, "testsrc", seconds, 25, size));
        QFile file(path);
        const QDateTime recorded = QFileInfo(dir + "/annotation1.avi").lastModified();
        QVERIFY(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(recorded.addSecs(before ? -60 : 60),
                                 QFileDevice::FileModificationTime));
        file.close();
        const QByteArray kept = contents(path);

        QCOMPARE(AnnotationTranscoder::removeLeftovers(dir),
                 removed ? QStringList{path} : QStringList());
        QCOMPARE(QFileInfo::exists(path), !removed);
        QVERIFY(removed || contents(path) == kept);
        QVERIFY(QFileInfo::exists(dir + "/annotation1.avi") &&
                QFileInfo::exists(dir + "/annotation2.avi"));
    }

    // KEL killed two seconds into a recording: the file, never finished, is still recognised as
    // raw and compressed with the frames that reached the disk.
    void recordingCutShortByAKill() {
        const QString path = tmp.filePath(QStringLiteral("annotation9.avi"));
        QProcess recorder;
        recorder.start(QCoreApplication::applicationFilePath(), {kRecordUntilKilled, path});
        QVERIFY(recorder.waitForStarted());
        // About 2 s of 320 x 240 frames on the disk.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 30 * 320 * 240 * 3, 20000);
        recorder.kill();
        QVERIFY(recorder.waitForFinished() && recorder.exitStatus() == QProcess::CrashExit);
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

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QString::fromLocal8Bit(argv[1]) == kRecordUntilKilled)
        return record(QString::fromLocal8Bit(argv[2]), std::numeric_limits<int>::max(), 66);
    TestAnnotationTranscoder test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_annotation_transcoder.moc"
