#include "app/principalw.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class TestTranscoding : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString projectDir, recording, video; // the video is also the camera
    QByteArray path = qgetenv("PATH");

private slots:
    void initTestCase() {
        projectDir = tmp.filePath(QStringLiteral("Projet élève 1"));
        QVERIFY(QDir().mkpath(projectDir));
        recording = QDir(projectDir).filePath(QStringLiteral("annotation3.avi"));
        video = tmp.filePath(QStringLiteral("video.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 5));
    }
    void cleanup() { qputenv("PATH", path); }

    // Whatever goes wrong on ffmpeg's side, or when the application ends during a run, no ffmpeg
    // and no "3.avi" are left behind, and the recording stays as it was, or gone if deleted.
    void encoderTrouble_data() {
        QTest::addColumn<QString>("ffmpeg"); // a script, its output as $out; empty: none in PATH
        QTest::addColumn<QString>("end");    // what happens during the run; empty: nothing
        QTest::addColumn<QString>("told");   // in the warning; empty: none
        const QString stuck = "echo partial > \"$out\"; exec sleep 60";
        // clang-format off
        QTest::newRow("exit 1") << "exit 1" << "" << "a échoué : ffmpeg";
        QTest::newRow("garbage, exit 0") << "echo garbage > \"$out\"" << "" << "a échoué : ffmpeg";
        QTest::newRow("nothing written, exit 0") << "exit 0" << "" << "a échoué : ffmpeg";
        QTest::newRow("crash") << "echo partial > \"$out\"; kill -9 $$" << "" << "a échoué : ffmpeg";
        QTest::newRow("ffmpeg missing") << "" << "" << "ffmpeg est introuvable";
        QTest::newRow("recording deleted") << QString("sleep 0.5; cp '%1' \"$out\"").arg(video) << "deleted" << "";
        QTest::newRow("quit") << stuck << "quitter" << "";
        QTest::newRow("window destroyed") << stuck << "destroyed" << "";
        QTest::newRow("Escape, then the application ends") << stuck << "escape" << "";
        // clang-format on
    }
    void encoderTrouble() {
        QFETCH(QString, ffmpeg);
        QFETCH(QString, end);
        QFETCH(QString, told);
        QFile::remove(recording);
        QVERIFY(QFile::copy(video, recording));
        const bool deleted = end == QLatin1String("deleted");
        const QString bin = tmp.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(bin));
        QFile script(bin + QStringLiteral("/ffmpeg"));
        if (!ffmpeg.isEmpty()) {
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nfor a; do out=\"$a\"; done\n" + ffmpeg.toUtf8());
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        }
        qputenv("PATH", QFile::encodeName(bin) + (ffmpeg.isEmpty() ? "" : ":" + path));

        ScriptedDialogs dialogs;
        QPointer<kel::PrincipalW> w = new kel::PrincipalW(video);
        const auto gone = qScopeGuard([&w] { delete w; }); // also when a check fails
        w->projectDir = projectDir;
        w->transcodeAnnotation(recording);
        const qint64 pid = w->encoderProcess->processId();
        const QString output = QDir(projectDir).filePath(QStringLiteral("3.avi"));
        if (deleted)
            QVERIFY(QFile::remove(recording));
        if (end.isEmpty() || deleted)
            QTRY_VERIFY_WITH_TIMEOUT(w->transcodeFinished, 20000);
        else
            QTRY_VERIFY(QFile::exists(output));
        if (end == QLatin1String("quitter")) {
            w->quitter();
            QTRY_VERIFY(w.isNull());
        } else if (end == QLatin1String("destroyed")) {
            delete w;
        } else if (end == QLatin1String("escape")) {
            QTest::keyClick(w.data(), Qt::Key_Escape); // ends the application, not the window
            QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
        }
        QCOMPARE(pid > 0, !ffmpeg.isEmpty());
        QVERIFY(pid == 0 || ::kill(pid_t(pid), 0) != 0);
        QVERIFY(!QFile::exists(output));
        QCOMPARE(contents(recording), deleted ? QByteArray() : contents(video));
        QCOMPARE(dialogs.count(QStringLiteral("platform")), told.isEmpty() ? 0 : 1);
        QVERIFY2(dialogs.lastText().contains(told), qPrintable(dialogs.lastText()));
    }
};

QTEST_MAIN(TestTranscoding)
#include "test_transcoding.moc"
