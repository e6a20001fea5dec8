#include "common/encoder_job.h"
#include "support/media.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

using kel::EncoderJob;
using Result = EncoderJob::Result;
Q_DECLARE_METATYPE(EncoderJob::Result)

class TestEncoderJob : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A fake encoder: a shell script whose last argument is the output path.
    QString script(const QString& name, const QString& body) {
        const QString p = path(name);
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly))
            return QString();
        f.write("#!/bin/sh\nfor a; do out=\"$a\"; done\n");
        f.write(body.toUtf8());
        f.write("\n");
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return p;
    }

    // Runs the job to its end on the event loop.
    static Result run(EncoderJob& job) {
        QSignalSpy done(&job, &EncoderJob::finished);
        if (!job.start())
            return job.result();
        if (done.isEmpty() && !done.wait(60000))
            return Result::None;
        return job.result();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(!EncoderJob::findFfmpeg().isEmpty());
    }

    void realFfmpegEncodesAndReportsProgress() {
        const QString out = path("clip.avi");
        EncoderJob job;
        job.setArguments({"-y", "-progress", "pipe:2", "-f", "lavfi", "-i",
                          "testsrc=size=160x120:rate=25:duration=2", "-c:v", "mpeg4", out});
        job.setOutputPath(out);
        job.setTotalDuration(2000);
        QSignalSpy progress(&job, &EncoderJob::progressChanged);
        QCOMPARE(run(job), Result::Succeeded);
        QVERIFY(EncoderJob::isReadableVideo(out));
        QVERIFY(job.processedMs() >= 1900);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toInt(), 100);
        QVERIFY(job.errorText().isEmpty());
    }

    void verdict_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<Result>("expected");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("kept"); // a previous output that the run did not touch
        QTest::newRow("exit 1 after a partial write")
            << "echo partial > \"$out\"; echo 'Unknown encoder foo' >&2; exit 1" << Result::Failed
            << "Unknown encoder foo" << false;
        QTest::newRow("exit 1, previous output untouched")
            << "exit 1" << Result::Failed << QString() << true;
        QTest::newRow("garbage output, exit 0") << "head -c 5000 /dev/urandom > \"$out\"; exit 0"
                                                << Result::BadOutput << QString() << false;
        QTest::newRow("no output, exit 0") << "exit 0" << Result::BadOutput << QString() << false;
        QTest::newRow("killed by a signal") << "echo partial > \"$out\"; echo dying >&2; kill -9 $$"
                                            << Result::Crashed << "dying" << false;
    }

    void verdict() {
        QFETCH(QString, body);
        QFETCH(Result, expected);
        QFETCH(QString, logged);
        QFETCH(bool, kept);
        const QString out = path("verdict.avi");
        QFile::remove(out);
        QFile previous(out);
        if (kept) {
            QVERIFY(previous.open(QIODevice::WriteOnly));
            previous.write("previous");
            previous.close();
        }
        EncoderJob job;
        job.setProgram(script("fake.sh", body));
        job.setArguments({"-i", "in.avi", out});
        job.setOutputPath(out);
        QCOMPARE(run(job), expected);
        QCOMPARE(QFile::exists(out), kept); // a failed run leaves no output of its own
        if (!logged.isEmpty())
            QVERIFY(job.log().contains(logged));
        QVERIFY(job.errorText().contains("ffmpeg"));
    }

    void missingProgram_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("no such file") << path("nowhere/ffmpeg");
        QTest::newRow("not executable") << path("plain.txt");
    }

    void missingProgram() {
        QFETCH(QString, program);
        QFile plain(path("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        EncoderJob job;
        job.setProgram(program);
        QVERIFY(!job.isAvailable());
        QSignalSpy done(&job, &EncoderJob::finished);
        QVERIFY(!job.start());
        QCOMPARE(job.result(), Result::NotFound);
        QVERIFY(!job.isRunning());
        QVERIFY(job.errorText().contains("ffmpeg"));
    }

    void progressFromOutput_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("percent");
        QTest::newRow("progress key") << "out_time_us=1500000" << 50;
        QTest::newRow("statistics line, carriage return")
            << "frame=   10 fps=0.0 q=2.0 size=  1kB time=00:00:00.75 bitrate=1.0kbits/s\\r" << 25;
        QTest::newRow("past the end holds below 100") << "out_time_ms=9000000" << 99;
    }

    void progressFromOutput() {
        QFETCH(QString, line);
        QFETCH(int, percent);
        EncoderJob job;
        job.setProgram(
            script("talk.sh", QStringLiteral("printf '%1\\n' >&2; sleep 0.3; exit 1").arg(line)));
        job.setTotalDuration(3000);
        QSignalSpy progress(&job, &EncoderJob::progressChanged);
        run(job);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.first().at(0).toInt(), percent);
    }

    void stopIsGentleThenForced_data() {
        QTest::addColumn<bool>("stubborn");
        QTest::newRow("ffmpeg quits on q") << false;
        QTest::newRow("a process that ignores q and TERM is killed") << true;
    }

    void stopIsGentleThenForced() {
        QFETCH(bool, stubborn);
        const QString out = path("stopped.avi");
        EncoderJob job;
        if (stubborn) {
            job.setProgram(script("stubborn.sh", "trap '' TERM; echo x > \"$out\"; "
                                                 "while true; do sleep 0.1; done"));
            job.setArguments({out});
        } else {
            job.setArguments({"-y", "-re", "-f", "lavfi", "-i",
                              "testsrc=size=160x120:rate=25:duration=60", "-c:v", "mpeg4", out});
        }
        job.setOutputPath(out);
        QVERIFY(job.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
        QSignalSpy done(&job, &EncoderJob::finished);
        QElapsedTimer t;
        t.start();
        job.stop(stubborn ? 300 : 5000);
        QVERIFY(!job.isRunning());
        QCOMPARE(job.result(), Result::Stopped);
        QCOMPARE(done.size(), 1);
        QVERIFY(!QFile::exists(out));
        if (!stubborn)
            QVERIFY2(t.elapsed() < 4000, "ffmpeg ended on q, not on terminate");
    }

    void rawFramesThroughStdin() {
        const QString out = path("raw.avi");
        const int frames = 40;
        EncoderJob job;
        job.setFeedsInput(true);
        job.setArguments({"-y", "-f", "rawvideo", "-pix_fmt", "bgr24", "-s", "160x120", "-r", "16",
                          "-i", "pipe:0", "-c:v", "mpeg4", "-q:v", "2", out});
        job.setOutputPath(out);
        QVERIFY(job.start());
        cv::Mat frame(120, 160, CV_8UC3, cv::Scalar(0, 0, 255)); // red in BGR
        for (int i = 0; i < frames; ++i)
            QVERIFY(job.writeFrame(frame));
        job.closeInput();
        QVERIFY(job.waitForFinished(30000));
        QCOMPARE(job.result(), Result::Succeeded);

        cv::VideoCapture cap(QFile::encodeName(out).toStdString(), cv::CAP_FFMPEG);
        cv::Mat read;
        int n = 0;
        while (cap.read(read)) {
            const cv::Scalar mean = cv::mean(read);
            QVERIFY(mean[2] > 200 && mean[1] < 40 && mean[0] < 40);
            ++n;
        }
        QCOMPARE(n, frames);
    }

    void writingToADeadEncoderFailsWithoutHanging() {
        EncoderJob job;
        job.setFeedsInput(true);
        job.setProgram(script("dead.sh", "exit 3"));
        QVERIFY(job.start());
        cv::Mat frame(480, 640, CV_8UC3, cv::Scalar::all(128));
        bool accepted = true;
        for (int i = 0; i < 100 && accepted; ++i)
            accepted = job.writeFrame(frame);
        QVERIFY(!accepted);
        QVERIFY(job.waitForFinished(5000));
        QCOMPARE(job.result(), Result::Failed);
        QCOMPARE(job.exitCode(), 3);
    }
};

QTEST_GUILESS_MAIN(TestEncoderJob)
#include "test_encoder_job.moc"
