#include "common/encoder_job.h"
#include "support/montage_media.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <csignal>

using namespace montagemedia;
using kel::EncoderJob;
using Result = EncoderJob::Result;

// The export from the command line, run as the user would, without any display, from the folder
// that holds the projects (paths are given relative to it).
class TestHeadlessExport : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // A project folder with annotation1 (red), the montage of an earlier export and project.xml
    // as `xml` says: "ok", "missing", "empty" or "damaged".
    QString project(const QString& name, const QString& xml = "ok") {
        const QString dir = m_dir.filePath(name);
        QDir().mkpath(dir);
        QFile::copy(m_dir.filePath("red.avi"), dir + "/annotation1.avi");
        writeEarlierMontage(dir);
        if (xml == "ok")
            writeProject(dir, {{1, 0}});
        else if (xml != "missing")
            writeFile(dir + "/project.xml", xml == "empty" ? "" : "<ANNOTATION><Numero Val");
        return dir;
    }

    void start(QProcess& kel, const QStringList& arguments, const QString& program = KEL_EXECUTABLE,
               const QByteArray& path = qgetenv("PATH")) {
        QStringList env = QProcess::systemEnvironment().filter(
            QRegularExpression("^(?!DISPLAY=|WAYLAND_DISPLAY=|QT_QPA_PLATFORM=|PATH=)"));
        kel.setEnvironment(env << "PATH=" + QString::fromLocal8Bit(path));
        kel.setWorkingDirectory(m_dir.path());
        kel.start(program, arguments);
    }

private slots:
    void initTestCase() {
        QVERIFY(makeStudent(m_dir.filePath("student.avi"), 2));
        QVERIFY(QFile::copy(m_dir.filePath("student.avi"), m_dir.filePath("pipe:x.avi")));
        QVERIFY(testmedia::makeVideo(m_dir.filePath("red.avi"), "color=c=red", 1));
    }

    void commandLine_data() {
        QTest::addColumn<QString>("folder"); // the project, "ok" unless named after its project.xml
        QTest::addColumn<QStringList>("options"); // after --export and the folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // the result on stdout, or the reason on stderr
        // The first frame's width and height, then the red inset's left, top, width and height.
        QTest::addColumn<QList<int>>("frame");
        // clang-format off
        QTest::newRow("faible, largest inset")  << "ok" << QStringList{"--video", "student.avi", "--resolution", "faible", "--inset", "99"} << 0 << "VideoFinale.avi" << QList<int>{320, 240, 0, 115, 134, 124};
        QTest::newRow("compressed, folder -y")  << "-y" << QStringList{"--video", "student.avi", "--compress"} << 0 << "montage.avi" << QList<int>{400, 300, 0, 206, 106, 94};
        QTest::newRow("mp4 for students")       << "ok" << QStringList{"--video", "student.avi", "--format", "mp4"} << 0 << "montage.mp4" << QList<int>{400, 300, 0, 206, 106, 94};
        QTest::newRow("unknown format")         << "ok" << QStringList{"--video", "student.avi", "--format", "mkv"} << 2 << "Format inconnu « mkv »" << QList<int>{};
        QTest::newRow("video named pipe:x.avi") << "ok" << QStringList{"--video", "pipe:x.avi"} << 0 << "VideoFinale.avi" << QList<int>{400, 300, 0, 206, 106, 94};
        QTest::newRow("inset out of range")     << "ok" << QStringList{"--video", "student.avi", "--inset", "100"} << 2 << "0 à 99" << QList<int>{};
        QTest::newRow("no video given")         << "ok" << QStringList{"--compress"} << 2 << "--video" << QList<int>{};
        QTest::newRow("undecodable video")      << "ok" << QStringList{"--video", "red.avi.txt"} << 1 << "red.avi.txt" << QList<int>{};
        QTest::newRow("project.xml missing")    << "missing" << QStringList{"--video", "student.avi"} << 1 << "est absent" << QList<int>{};
        QTest::newRow("project.xml empty")      << "empty" << QStringList{"--video", "student.avi"} << 1 << "ne contient aucune annotation" << QList<int>{};
        QTest::newRow("project.xml damaged")    << "damaged" << QStringList{"--video", "student.avi"} << 1 << "est endommagé" << QList<int>{};
        // clang-format on
    }

    void commandLine() {
        QFETCH(QString, folder);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QFETCH(QList<int>, frame);
        const QString name =
            folder == "ok" ? QString(QTest::currentDataTag()).replace(' ', '_') : folder;
        const QString dir = project(name, folder == "-y" ? "ok" : folder);
        QVERIFY(writeFile(m_dir.filePath("red.avi.txt"), "not a video"));
        QProcess kel;
        start(kel, QStringList{"--export", name} + options);
        QVERIFY(kel.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(kel.readAllStandardOutput()).trimmed();
        const QString err = QString::fromLocal8Bit(kel.readAllStandardError());
        QVERIFY2(kel.exitStatus() == QProcess::NormalExit && kel.exitCode() == exitCode,
                 qPrintable(err));
        QCOMPARE(out, exitCode ? QString() : QDir(dir).filePath(printed));
        QVERIFY2(err.contains(exitCode ? printed : "Progression : 100 %"), qPrintable(err));
        if (exitCode) {
            QCOMPARE(montageFiles(dir), kEarlier); // never replaced by a worse one
            return;
        }
        cv::Mat red = firstFrame(out); // the first frame, then its red pixels
        cv::inRange(red, cv::Scalar(0, 0, 200), cv::Scalar(60, 60, 255), red);
        const cv::Rect r = cv::boundingRect(red);
        // An odd edge shares its colour sample with the student's picture: a pixel of play each.
        const QList<int> landed{red.cols, red.rows, r.x, r.y, r.width, r.height};
        for (int i = 0; i < frame.size(); ++i)
            QVERIFY2(qAbs(landed[i] - frame[i]) <= i / 2, qPrintable(QString::number(landed[i])));
        QVERIFY(cv::countNonZero(red) > r.area() * 0.95);
        if (out.endsWith(".mp4")) {
            // H.264 in 4:2:0 that plays in a browser, its index before its data so that it streams.
            QCOMPARE(probe(out, "codec_name,pix_fmt"), QStringLiteral("h264,yuv420p"));
            const QByteArray bytes = testmedia::contents(out);
            QVERIFY(bytes.indexOf("moov") > 0 && bytes.indexOf("moov") < bytes.indexOf("mdat"));
        }
    }

    // The first write that fails ends the export, long before its end.
    void diskFull() {
        const QString dir = project("full");
        QProcess kel;
        // 1 MB at most per file, and a write past it fails instead of killing the process.
        start(kel,
              {"-c", "trap '' XFSZ; ulimit -f 2000; exec \"$0\" \"$@\"", KEL_EXECUTABLE, "--export",
               "full", "--video", "student.avi", "--resolution", "grande"},
              "/bin/sh");
        QVERIFY(kel.waitForFinished(120000));
        const QString err = QString::fromLocal8Bit(kel.readAllStandardError());
        QVERIFY2(kel.exitCode() == 1 && err.contains("(disque plein ?)") &&
                     err.contains(QDir::toNativeSeparators(dir + "/VideoFinale.avi")) &&
                     !err.contains("Progression : 50 %"),
                 qPrintable(err));
        QCOMPARE(montageFiles(dir), kEarlier);
    }

    // An ffmpeg that stops reading and ignores SIGTERM: kel's SIGTERM ends the export within
    // seconds, ffmpeg with it, and leaves nothing behind.
    void terminatedWhileFfmpegHangs() {
        const QString dir = project("hang");
        const QString fake = m_dir.filePath("fake/ffmpeg");
        QVERIFY(QDir().mkpath(m_dir.filePath("fake")));
        QVERIFY(testmedia::writeFake(fake, "echo $$ > \"$0.pid\"\ntrap '' TERM\nexec sleep 60"));
        QProcess kel;
        start(
            kel,
            {"--export", "hang", "--video", "student.avi", "--compress", "--resolution", "grande"},
            KEL_EXECUTABLE, QFile::encodeName(m_dir.filePath("fake")) + ':' + qgetenv("PATH"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + ".pid"), 20000);
        QTest::qWait(1000); // kel now waits for ffmpeg to take its frames
        const QString ffmpegProc = "/proc/" + testmedia::contents(fake + ".pid").trimmed();
        QVERIFY(QFile::exists(ffmpegProc) && kel.state() == QProcess::Running);

        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(kel.processId()), SIGTERM);
        QVERIFY(kel.waitForFinished(20000));
        QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(kel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kel.exitCode(), 128 + SIGTERM);
        QVERIFY(!QFile::exists(ffmpegProc)); // killed, and waited for
        QCOMPARE(montageFiles(dir), kEarlier);
    }

    // The encoder's verdict on a run of a fake ffmpeg; the output goes unless it was left alone.
    void encoderVerdict_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<Result>("expected");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("kept"); // the earlier output, which the run did not touch
        // clang-format off
        QTest::newRow("exit 1 after a partial write") << "echo partial > \"$out\"; echo 'Unknown encoder foo' >&2; exit 1" << Result::Failed << "Unknown encoder foo" << false;
        QTest::newRow("exit 0, output untouched")     << "exit 0" << Result::BadOutput << "" << true;
        QTest::newRow("killed by a signal")           << "echo partial > \"$out\"; echo dying >&2; kill -9 $$" << Result::Crashed << "dying" << false;
        // clang-format on
    }

    void encoderVerdict() {
        QFETCH(QString, body);
        QFETCH(Result, expected);
        QFETCH(QString, logged);
        QFETCH(bool, kept);
        const QString out = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".avi"));
        QVERIFY(testmedia::writeFile(out, "earlier"));
        QVERIFY(testmedia::writeFake(out + ".sh", body.toUtf8()));
        EncoderJob job;
        job.setProgram(out + ".sh");
        job.setArguments({"-i", "in.avi", out});
        job.setOutputPath(out);
        QSignalSpy done(&job, &EncoderJob::finished);
        QVERIFY(job.start() && done.wait(30000));
        QCOMPARE(job.result(), expected);
        QCOMPARE(QFile::exists(out), kept); // a failed run leaves no output of its own
        QVERIFY2(logged.isEmpty() || job.log().contains(logged), qPrintable(job.log().join('\n')));
    }

    // ffmpeg quits on "q" at once; a process that ignores it and TERM is killed.
    void encoderStopIsGentleThenForced() {
        const QString out = m_dir.filePath("stopped.avi");
        QVERIFY(
            testmedia::writeFake(out + ".sh", "trap '' TERM; echo x > \"$out\"; exec sleep 60"));
        for (const bool stubborn : {false, true}) {
            EncoderJob job;
            job.setProgram(stubborn ? out + ".sh" : "");
            job.setArguments({"-y", "-re", "-f", "lavfi", "-i",
                              "testsrc=size=160x120:rate=25:duration=60", "-c:v", "mpeg4", out});
            job.setOutputPath(out);
            QVERIFY(job.start());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
            QSignalSpy done(&job, &EncoderJob::finished);
            const QDeadlineTimer gentle(4000);
            job.stop(stubborn ? 300 : 5000);
            QCOMPARE(job.result(), Result::Stopped);
            QVERIFY(done.size() == 1 && !job.isRunning() && !QFile::exists(out));
            QVERIFY2(stubborn || !gentle.hasExpired(), "ffmpeg ended on q, not on terminate");
        }
    }
};

QTEST_GUILESS_MAIN(TestHeadlessExport)
#include "test_headless_export.moc"
