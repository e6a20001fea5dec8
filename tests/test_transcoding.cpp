#include "app/principalw.h"
#include "project/project_session.h"
#include "recording/annotation_transcoder.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QtTest>

#include <csignal>

static QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class TestTranscoding : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString video; // also the camera
    QByteArray path = qgetenv("PATH");

private slots:
    void initTestCase() {
        video = tmp.filePath(QStringLiteral("video.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 5));
    }
    void cleanup() { qputenv("PATH", path); }

    // Whatever goes wrong on ffmpeg's side, or when the application ends during a run, no ffmpeg
    // and nothing of ours is left behind, and the recording stays as it was, or gone if deleted.
    void encoderTrouble_data() {
        QTest::addColumn<QString>("ffmpeg"); // a script, its output as $out; empty: none in PATH
        QTest::addColumn<QString>("end");    // what happens during the run; empty: nothing
        QTest::addColumn<QString>("told");   // in the warning; empty: none
        // clang-format off
        QTest::newRow("exit 1 after a partial write") << "echo partial > \"$out\"; exit 1" << "" << "a échoué : ffmpeg";
        QTest::newRow("garbage, exit 0") << "echo garbage > \"$out\"" << "" << "a échoué : ffmpeg";
        QTest::newRow("ffmpeg missing") << "" << "" << "ffmpeg est introuvable";
        QTest::newRow("recording deleted") << QString("sleep 0.5; cp '%1' \"$out\"").arg(video) << "deleted" << "";
        QTest::newRow("quit") << "echo partial > \"$out\"; exec sleep 60" << "quitter" << "";
        QTest::newRow("window destroyed") << "echo partial > \"$out\"; exec sleep 60" << "destroyed" << "";
        QTest::newRow("application ends, window left") << "echo partial > \"$out\"; exec sleep 60" << "aboutToQuit" << "";
        // clang-format on
    }
    void encoderTrouble() {
        QFETCH(QString, ffmpeg);
        QFETCH(QString, end);
        QFETCH(QString, told);
        const QString dir = tmp.filePath(QTest::currentDataTag()); // the project, and ffmpeg
        const QString recording = dir + "/annotation3.avi";
        const QString output = kel::AnnotationTranscoder::workPath(recording);
        QFile script(dir + "/ffmpeg");
        QVERIFY(QDir().mkpath(dir) && QFile::copy(video, recording) &&
                script.open(QFile::WriteOnly));
        script.write("#!/bin/sh\nfor a; do out=\"$a\"; done\n" + ffmpeg.toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", ffmpeg.isEmpty() ? "/nonexistent" : QFile::encodeName(dir) + ":" + path);

        ScriptedDialogs dialogs;
        QPointer<kel::PrincipalW> w = new kel::PrincipalW(video);
        const auto gone = qScopeGuard([&w] { delete w; }); // also when a check fails
        w->session->open(dir);
        w->transcodeAnnotation(3);
        const qint64 pid = w->encoderProcess->processId();
        if (end == QLatin1String("deleted"))
            QVERIFY(QFile::remove(recording));
        // A stuck ffmpeg is ended once it has written something.
        QTRY_VERIFY_WITH_TIMEOUT(
            end.isEmpty() || end == "deleted" ? !w->isTranscoding() : QFile::exists(output), 20000);
        if (end == QLatin1String("quitter"))
            w->quitter();
        else if (end == QLatin1String("destroyed"))
            delete w;
        else if (end == QLatin1String("aboutToQuit")) // as Escape ends the application
            QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
        QVERIFY(ffmpeg.isEmpty() ? pid == 0 : pid > 0 && ::kill(pid_t(pid), 0) != 0);
        QVERIFY(!QFile::exists(output));
        QCOMPARE(contents(recording), end == "deleted" ? QByteArray() : contents(video));
        QCOMPARE(dialogs.count(QStringLiteral("platform")), told.isEmpty() ? 0 : 1);
        QVERIFY2(dialogs.lastText().contains(told), qPrintable(dialogs.lastText()));
    }
};

QTEST_MAIN(TestTranscoding)
#include "test_transcoding.moc"
