#include "common/encoder_job.h"
#include "export/headless_export.h"
#include "support/montage_media.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <csignal>

using namespace montagemedia;
using kel::EncoderJob;
using Result = EncoderJob::Result;

// Raises `signal` once `text` is written to it, as if the signal came at that moment.
class SignalAt : public QIODevice {
public:
    SignalAt(const QByteArray& text, int signal) : m_text(text), m_signal(signal) {
        open(QIODevice::WriteOnly);
    }
    QByteArray written;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        written.append(data, size);
        if (m_signal && written.contains(m_text))
            std::raise(std::exchange(m_signal, 0));
        return size;
    }

private:
    QByteArray m_text;
    int m_signal;
};

// The export from the command line, run as the user would, without any display, from the folder
// that holds the projects (paths are given relative to it).
class TestHeadlessExport : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // A project folder with annotation1 (red), the montage of an earlier export and project.xml,
    // unless `kind` says otherwise: "missing" or "damaged" project.xml, "unreadable" (a folder in
    // its place), "empty" (no annotation file), "read-only" (the earlier montage).
    QString project(const QString& name, const QString& kind) {
        const QString dir = m_dir.filePath(name);
        QDir().mkpath(dir);
        if (kind != "empty")
            testmedia::touch(dir + "/annotation1.avi",
                             testmedia::contents(m_dir.filePath("red.avi")));
        writeEarlierMontage(dir);
        if (kind == "damaged")
            writeFile(dir + "/project.xml", "<ANNOTATION><Numero Val");
        else if (kind == "unreadable")
            QDir(dir).mkdir("project.xml");
        else if (kind != "missing")
            writeProject(dir, {{1, 0}});
        if (kind == "read-only")
            QFile::setPermissions(dir + "/VideoFinale.avi", QFileDevice::ReadOwner);
        return dir;
    }

    // kel from the folder of the projects, without a display, through a shell that limits the size
    // of its files. With a `pipe` after kel's command, the shell stays and gives kel's exit code.
    void start(QProcess& kel, const QStringList& arguments, const QString& limit = "unlimited",
               const QString& pipe = QString(), const QString& path = QString()) {
        QProcessEnvironment env = testmedia::withoutDisplay();
        if (!path.isEmpty())
            env.insert("PATH", path);
        kel.setProcessEnvironment(env);
        kel.setWorkingDirectory(m_dir.path());
        const QString script =
            pipe.isEmpty()
                ? QStringLiteral("ulimit -f $0; exec \"$@\"")
                : QStringLiteral("ulimit -f $0; exec 4>&1; s=$( { { \"$@\"; echo $? >&3; } "
                                 "%1; } 3>&1 >&4 ); exit $s")
                      .arg(pipe);
        kel.start("/bin/sh", QStringList{"-c", script, limit, KEL_EXECUTABLE} + arguments);
    }

private slots:
    void initTestCase() {
        QVERIFY(makeStudent(m_dir.filePath("student.avi"), 2));
        QVERIFY(QFile::copy(m_dir.filePath("student.avi"), m_dir.filePath("pipe:x.avi")));
        QVERIFY(testmedia::makeVideo(m_dir.filePath("red.avi"), "color=c=red", 1));
        QVERIFY(writeFile(m_dir.filePath("red.avi.txt"), "not a video"));
        // A thousand hours in a few kilobytes.
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i",
                                   "color=c=black:size=16x16:rate=1/36000:duration=3600000", "-c:v",
                                   "libx264", m_dir.filePath("long.mkv")}));
    }

    void commandLine_data() {
        // The project: as project() makes it, "ok", "-y" its name, "full" its disk (1 MB at most
        // per file), or "no ffmpeg" on the machine.
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("options"); // after --export and the folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // the result on stdout, or the reason on stderr
        // The first frame's width and height, then the red inset's left, top, width and height
        // (in the MP4, the red annotation fitted whole in its place).
        QTest::addColumn<QList<int>>("frame");
        // clang-format off
        QTest::newRow("faible, largest inset")  << "ok" << QStringList{"--video", "student.avi", "--resolution", "faible", "--inset", "99"} << 0 << "VideoFinale.avi" << QList<int>{320, 240, 0, 115, 134, 124};
        QTest::newRow("compressed, folder -y")  << "-y" << QStringList{"--video", "student.avi", "--compress"} << 0 << "montage.avi" << QList<int>{400, 300, 0, 206, 106, 94};
        QTest::newRow("mp4, video pipe:x.avi")  << "ok" << QStringList{"--video", "pipe:x.avi", "--format", "mp4", "--resolution", "moyenne", "--layout", "incrustation"} << 0 << "montage.mp4" << QList<int>{400, 300, 0, 212, 106, 80};
        QTest::newRow("mp4: hd, side by side")  << "ok" << QStringList{"--video", "student.avi", "--format", "mp4"} << 0 << "montage.mp4" << QList<int>{1280, 720, 640, 120, 640, 480};
        QTest::newRow("hd without mp4")         << "ok" << QStringList{"--video", "student.avi", "--resolution", "hd"} << 2 << "réservée au format mp4" << QList<int>{};
        QTest::newRow("unknown format")         << "ok" << QStringList{"--video", "student.avi", "--format", "mkv"} << 2 << "Format inconnu « mkv »" << QList<int>{};
        QTest::newRow("inset out of range")     << "ok" << QStringList{"--video", "student.avi", "--inset", "100"} << 2 << "0 à 99" << QList<int>{};
        QTest::newRow("no video given")         << "ok" << QStringList{"--compress"} << 2 << "--video" << QList<int>{};
        QTest::newRow("undecodable video")      << "ok" << QStringList{"--video", "red.avi.txt"} << 1 << "red.avi.txt" << QList<int>{};
        QTest::newRow("project.xml missing")    << "missing" << QStringList{"--video", "student.avi"} << 1 << "est absent" << QList<int>{};
        QTest::newRow("project.xml damaged")    << "damaged" << QStringList{"--video", "student.avi"} << 1 << "est endommagé" << QList<int>{};
        QTest::newRow("disk full")              << "full" << QStringList{"--video", "student.avi", "--resolution", "grande"} << 1 << "disk full/VideoFinale.avi" << QList<int>{};
        QTest::newRow("larger than the disk")   << "full" << QStringList{"--video", "long.mkv", "--resolution", "grande"} << 1 << "demande environ" << QList<int>{};
        QTest::newRow("read-only montage")      << "read-only" << QStringList{"--video", "student.avi"} << 1 << "read-only montage/VideoFinale.avi" << QList<int>{};
        QTest::newRow("mp4 without ffmpeg")     << "no ffmpeg" << QStringList{"--video", "student.avi", "--format", "mp4"} << 1 << "ffmpeg" << QList<int>{};
        QTest::newRow("inset not a number")     << "ok" << QStringList{"--video", "student.avi", "--inset", "grand"} << 2 << "0 à 99" << QList<int>{};
        QTest::newRow("no annotation file")     << "empty" << QStringList{"--video", "student.avi"} << 1 << "Aucune annotation" << QList<int>{};
        QTest::newRow("project.xml unreadable") << "unreadable" << QStringList{"--video", "student.avi"} << 1 << "ne peut pas être lu" << QList<int>{};
        // clang-format on
    }

    void commandLine() {
        QFETCH(QString, folder);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QFETCH(QList<int>, frame);
        const QString name = folder == "-y" ? folder : QTest::currentDataTag();
        const QString dir = project(name, folder);
        QProcess kel;
        start(kel, QStringList{"--export", name} + options, folder == "full" ? "2000" : "unlimited",
              QString(), folder == "no ffmpeg" ? "/nonexistent" : QString());
        QVERIFY(kel.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(kel.readAllStandardOutput()).trimmed();
        const QString err = QString::fromLocal8Bit(kel.readAllStandardError());
        QVERIFY2(kel.exitStatus() == QProcess::NormalExit && kel.exitCode() == exitCode,
                 qPrintable(err));
        QCOMPARE(out, exitCode ? QString() : QDir(dir).filePath(printed));
        QVERIFY2(err.contains(exitCode ? printed : "Progression : 100 %"), qPrintable(err));
        // A failure, the first write that fails too, ends the export long before its end and
        // never replaces the montage by a worse one.
        QVERIFY(!exitCode ||
                (montageFiles(dir) == kEarlier && !err.contains("Progression : 50 %")));
        if (exitCode)
            return;
        cv::Mat red = firstFrame(out); // the first frame, then its red pixels
        cv::inRange(red, cv::Scalar(0, 0, 200), cv::Scalar(60, 60, 255), red);
        const cv::Rect r = cv::boundingRect(red);
        // An odd edge shares its colour sample with the student's picture: a pixel of play each.
        const QList<int> landed{red.cols, red.rows, r.x, r.y, r.width, r.height};
        for (int i = 0; i < frame.size(); ++i)
            QVERIFY2(qAbs(landed[i] - frame[i]) <= i / 2, qPrintable(QString::number(landed[i])));
        if (out.endsWith(".mp4")) {
            // H.264 in 4:2:0 that plays in a browser, its index before its data so that it streams.
            QCOMPARE(probe(out, "codec_name,pix_fmt"), QStringLiteral("h264,yuv420p"));
            const QByteArray bytes = testmedia::contents(out);
            QVERIFY(bytes.indexOf("moov") > 0 && bytes.indexOf("moov") < bytes.indexOf("mdat"));
        }
    }

    // A script's reader that goes early takes neither the montage nor the exit code with it.
    void readerGone_data() {
        QTest::addColumn<QString>("pipe");
        QTest::newRow("standard error") << "2>&1 >/dev/null | true";
        QTest::newRow("standard output") << "2>/dev/null | true";
    }
    void readerGone() {
        QFETCH(QString, pipe);
        const QString dir = project(QTest::currentDataTag(), "ok");
        QProcess kel;
        start(kel, {"--export", QTest::currentDataTag(), "--video", "student.avi"}, "unlimited",
              pipe);
        QVERIFY(kel.waitForFinished(120000));
        QCOMPARE(kel.exitCode(), 0);
        QCOMPARE(montageFiles(dir),
                 (QStringList{"VideoFinale.avi", "montage.avi (earlier)", "montage.srt"}));
    }

    // SIGTERM just after the montage took its name: the export is done and said so.
    void signalAfterTheRename() {
        const QString dir = project("late signal", "ok");
        SignalAt errors("Progression : 100 %", SIGTERM);
        QBuffer printed;
        printed.open(QIODevice::WriteOnly);
        QTextStream out(&printed), err(&errors);
        kel::HeadlessExportOptions options;
        options.projectDir = dir;
        options.studentVideoPath = m_dir.filePath("student.avi");
        QCOMPARE(kel::runHeadlessExport(options, out, err), 0);
        QVERIFY2(!errors.written.contains("supprimé"), errors.written.constData());
        QCOMPARE(printed.data().trimmed(), QFile::encodeName(dir + "/VideoFinale.avi"));
    }

    // A folder that cannot be found is told why: its name is not UTF-8 (Latin-1, from an older
    // system), or the current folder that held it was removed.
    void folderNotFound_data() {
        QTest::addColumn<QString>("script"); // from the folder of the projects
        QTest::addColumn<QString>("printed");
        // clang-format off
        QTest::newRow("latin-1") << "mkdir \"$(printf 'caf\\351')\" && exec \"$0\" --export \"$(printf 'caf\\351')\" --video student.avi" << "UTF-8";
        QTest::newRow("removed") << "v=\"$PWD/student.avi\"; mkdir gone && cd gone && rmdir ../gone && exec \"$0\" --export . --video \"$v\"" << "n'existe plus";
        // clang-format on
    }
    void folderNotFound() {
        QFETCH(QString, script);
        QFETCH(QString, printed);
        QProcess kel;
        kel.setProcessEnvironment(testmedia::withoutDisplay());
        kel.setWorkingDirectory(m_dir.path());
        kel.start("/bin/sh", {"-c", script, KEL_EXECUTABLE});
        QVERIFY(kel.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(kel.readAllStandardError());
        QVERIFY2(kel.exitCode() == 1 && err.contains(printed), qPrintable(err));
    }

    // An ffmpeg that stops reading and ignores SIGTERM: kel's SIGTERM ends the export within
    // seconds, ffmpeg with it, and leaves nothing behind.
    void terminatedWhileFfmpegHangs() {
        const QString dir = project("hang", "ok");
        QVERIFY(testmedia::writeFake(dir + "/ffmpeg",
                                     "echo $$ > \"$0.pid\"\ntrap '' TERM\nexec sleep 60"));
        const auto restorePath = testmedia::pathFirst(dir);
        QProcess kel;
        start(kel, {"--export", "hang", "--video", "student.avi", "--compress", "--resolution",
                    "grande"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/ffmpeg.pid"), 20000);
        QTest::qWait(1000); // kel now waits for ffmpeg to take its frames
        const QString ffmpegProc = "/proc/" + testmedia::contents(dir + "/ffmpeg.pid").trimmed();
        QVERIFY(QFile::exists(ffmpegProc) && kel.state() == QProcess::Running);
        const QDeadlineTimer soon(8000);
        ::kill(pid_t(kel.processId()), SIGTERM);
        QVERIFY(kel.waitForFinished(20000) && !soon.hasExpired());
        QVERIFY(kel.exitStatus() == QProcess::NormalExit && kel.exitCode() == 128 + SIGTERM);
        QVERIFY(!QFile::exists(ffmpegProc)); // killed, and waited for
        QCOMPARE(montageFiles(dir), kEarlier);
    }

    // The encoder's verdict on a run of a fake ffmpeg; the output goes unless it was left alone.
    void encoderVerdict_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<Result>("expected");
        // clang-format off
        QTest::newRow("exit 0, output untouched") << "exit 0" << Result::BadOutput;
        QTest::newRow("killed by a signal")       << "echo partial > \"$out\"; kill -9 $$" << Result::Crashed;
        // clang-format on
    }

    void encoderVerdict() {
        QFETCH(QString, body);
        QFETCH(Result, expected);
        const QString out = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".avi"));
        QVERIFY(testmedia::writeFile(out, "earlier"));
        QVERIFY(testmedia::writeFake(out + ".sh", body.toUtf8()));
        EncoderJob job;
        job.setProgram(out + ".sh");
        job.setArguments({"-i", "in.avi", out});
        job.setOutputPath(out);
        QVERIFY(job.start() && job.waitForFinished(30000));
        QCOMPARE(job.result(), expected);
        QCOMPARE(QFile::exists(out), expected == Result::BadOutput); // a run's own output goes
    }
};

QTEST_MAIN(TestHeadlessExport)
#include "test_headless_export.moc"
