#include "common/encoder_job.h"
#include "support/media.h"

#include <QtTest>

using kel::EncoderJob;
using Result = EncoderJob::Result;

// A fake encoder beside `out`: a shell script whose last argument is the output.
static QString fake(const QString& out, const QString& body) {
    return testmedia::writeFake(out + ".sh", body.toUtf8()) ? out + ".sh" : QString();
}

class TestEncoderJob : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void verdict_data() {
        QTest::addColumn<QString>("body"); // empty: no program at all
        QTest::addColumn<Result>("expected");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("kept"); // the earlier output, which the run did not touch
        // clang-format off
        QTest::newRow("exit 1 after a partial write") << "echo partial > \"$out\"; echo 'Unknown encoder foo' >&2; exit 1" << Result::Failed << "Unknown encoder foo" << false;
        QTest::newRow("exit 1, output untouched")     << "exit 1" << Result::Failed << "" << true;
        QTest::newRow("garbage output, exit 0")       << "head -c 5000 /dev/urandom > \"$out\"" << Result::BadOutput << "" << false;
        QTest::newRow("exit 0, output untouched")     << "exit 0" << Result::BadOutput << "" << true;
        QTest::newRow("killed by a signal")           << "echo partial > \"$out\"; echo dying >&2; kill -9 $$" << Result::Crashed << "dying" << false;
        QTest::newRow("missing program")              << "" << Result::NotFound << "" << true;
        // clang-format on
    }

    void verdict() {
        QFETCH(QString, body);
        QFETCH(Result, expected);
        QFETCH(QString, logged);
        QFETCH(bool, kept);
        const QString out = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".avi"));
        QVERIFY(testmedia::writeFile(out, "earlier"));
        EncoderJob job;
        job.setProgram(body.isEmpty() ? m_dir.filePath("nowhere/ffmpeg") : fake(out, body));
        job.setArguments({"-i", "in.avi", out});
        job.setOutputPath(out);
        QSignalSpy done(&job, &EncoderJob::finished);
        QCOMPARE(job.start(), !body.isEmpty());
        QVERIFY(body.isEmpty() || done.wait(30000));
        QCOMPARE(job.result(), expected);
        QCOMPARE(QFile::exists(out), kept); // a failed run leaves no output of its own
        QVERIFY2(logged.isEmpty() || job.log().contains(logged), qPrintable(job.log().join('\n')));
    }

    // ffmpeg quits on "q" at once; a process that ignores it and TERM is killed.
    void stopIsGentleThenForced() {
        const QString out = m_dir.filePath("stopped.avi");
        for (const bool stubborn : {false, true}) {
            EncoderJob job;
            job.setProgram(stubborn ? fake(out, "trap '' TERM; echo x > \"$out\"; exec sleep 60")
                                    : "");
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

QTEST_GUILESS_MAIN(TestEncoderJob)
#include "test_encoder_job.moc"
