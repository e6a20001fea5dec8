#include "common/encoder_job.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using kel::EncoderJob;
using Result = EncoderJob::Result;
Q_DECLARE_METATYPE(EncoderJob::Result)

class TestEncoderJob : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // A fake encoder: a shell script whose last argument is the output path.
    QString script(const QString& body) {
        QFile f(m_dir.filePath(QStringLiteral("fake%1.sh").arg(++m_scripts)));
        if (!f.open(QIODevice::WriteOnly) ||
            f.write("#!/bin/sh\nfor a; do out=\"$a\"; done\n" + body.toUtf8() + "\n") < 0 ||
            !f.setPermissions(f.permissions() | QFileDevice::ExeOwner))
            return QString();
        return f.fileName();
    }
    int m_scripts = 0;

private slots:
    void verdict_data() {
        QTest::addColumn<QString>("body"); // empty: no program at all
        QTest::addColumn<Result>("expected");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("kept"); // an earlier output that the run did not touch
        // clang-format off
        QTest::newRow("exit 1 after a partial write") << "echo partial > \"$out\"; echo 'Unknown encoder foo' >&2; exit 1" << Result::Failed << "Unknown encoder foo" << false;
        QTest::newRow("exit 1, output untouched")     << "exit 1" << Result::Failed << "" << true;
        QTest::newRow("garbage output, exit 0")       << "head -c 5000 /dev/urandom > \"$out\"" << Result::BadOutput << "" << false;
        QTest::newRow("no output, exit 0")            << "exit 0" << Result::BadOutput << "" << false;
        QTest::newRow("killed by a signal")           << "echo partial > \"$out\"; echo dying >&2; kill -9 $$" << Result::Crashed << "dying" << false;
        QTest::newRow("missing program")              << "" << Result::NotFound << "" << true;
        // clang-format on
    }

    void verdict() {
        QFETCH(QString, body);
        QFETCH(Result, expected);
        QFETCH(QString, logged);
        QFETCH(bool, kept);
        const QString out = m_dir.filePath(QStringLiteral("%1.avi").arg(QTest::currentDataTag()));
        QFile earlier(out);
        QVERIFY(!kept || (earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") > 0));
        earlier.close();
        EncoderJob job;
        job.setProgram(body.isEmpty() ? m_dir.filePath("nowhere/ffmpeg") : script(body));
        job.setArguments({"-i", "in.avi", out});
        job.setOutputPath(out);
        QSignalSpy done(&job, &EncoderJob::finished);
        QCOMPARE(job.start(), !body.isEmpty());
        QVERIFY(body.isEmpty() || done.wait(30000));
        QCOMPARE(job.result(), expected);
        QCOMPARE(QFile::exists(out), kept); // a failed run leaves no output of its own
        QVERIFY(job.log().contains(logged) || logged.isEmpty());
        QVERIFY(job.errorText().contains("ffmpeg"));
    }

    void stopIsGentleThenForced_data() {
        QTest::addColumn<bool>("stubborn");
        QTest::newRow("ffmpeg quits on q") << false;
        QTest::newRow("a process that ignores q and TERM is killed") << true;
    }

    void stopIsGentleThenForced() {
        QFETCH(bool, stubborn);
        const QString out = m_dir.filePath("stopped.avi");
        EncoderJob job;
        if (stubborn)
            job.setProgram(
                script("trap '' TERM; echo x > \"$out\"; while true; do sleep 0.1; done"));
        job.setArguments({"-y", "-re", "-f", "lavfi", "-i",
                          "testsrc=size=160x120:rate=25:duration=60", "-c:v", "mpeg4", out});
        job.setOutputPath(out);
        QVERIFY(job.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
        QSignalSpy done(&job, &EncoderJob::finished);
        QElapsedTimer t;
        t.start();
        job.stop(stubborn ? 300 : 5000);
        QCOMPARE(job.result(), Result::Stopped);
        QCOMPARE(done.size(), 1);
        QVERIFY(!job.isRunning() && !QFile::exists(out));
        QVERIFY2(stubborn || t.elapsed() < 4000, "ffmpeg ended on q, not on terminate");
    }
};

QTEST_GUILESS_MAIN(TestEncoderJob)
#include "test_encoder_job.moc"
