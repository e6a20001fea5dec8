#include "app/globals.h"
#include "app/principalw.h"
#include "recording/annotation_recorder.h"
#include "recording/annotation_transcoder.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <opencv2/imgproc.hpp>

using kel::AnnotationTranscoder;
using Outcome = kel::AnnotationTranscoder::Outcome;

namespace {

// An uncompressed recording as the recorder writes it: 20 frames of moving stripes.
bool makeRecording(const QString& path) {
    kel::AviFrameSink sink;
    const cv::Size size(320, 240);
    if (!sink.open(path, 15.0, size))
        return false;
    for (int i = 0; i < 20; ++i) {
        cv::Mat frame(size, CV_8UC3, cv::Scalar(40, 80, 120));
        cv::rectangle(frame, cv::Rect(i * 10, 0, 30, 240), cv::Scalar(255, 255, 255), cv::FILLED);
        if (!sink.write(frame))
            return false;
    }
    sink.close();
    return kel::AnnotationRecorder::isPlayable(path);
}

QByteArray digest(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

// A shell script standing in for ffmpeg; `body` sees the output path as $out.
QString writeScript(const QString& dir, const QString& name, const QString& body) {
    QDir().mkpath(dir);
    const QString path = QDir(dir).filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\nfor a; do out=\"$a\"; done\n");
    f.write(body.toUtf8());
    f.write("\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool processGone(qint64 pid) {
    return pid > 0 && ::kill(pid_t(pid), 0) != 0;
}

} // namespace

class TestTranscoding : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString projectDir;
    QString recording;
    QString camera;
    QByteArray originalPath;

    void freshRecording() {
        QFile::remove(recording);
        QVERIFY(makeRecording(recording));
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        projectDir = tmp.filePath(QStringLiteral("Projet élève 1"));
        QVERIFY(QDir().mkpath(projectDir));
        recording = QDir(projectDir).filePath(QStringLiteral("annotation3.avi"));
        camera = tmp.filePath(QStringLiteral("camera.avi"));
        QVERIFY(testmedia::makeVideo(camera, QStringLiteral("testsrc"), 5, 25));
        originalPath = qgetenv("PATH");
    }
    void cleanup() { qputenv("PATH", originalPath); }

    // Whatever goes wrong on ffmpeg's side, the recording stays as it was and no "3.avi" remains.
    void failingEncoderLeavesTheRecording_data() {
        QTest::addColumn<QString>("body");
        QTest::newRow("exit 1") << "exit 1";
        QTest::newRow("garbage, exit 0") << "echo garbage > \"$out\"; exit 0";
        QTest::newRow("crash") << "echo partial > \"$out\"; kill -9 $$";
        QTest::newRow("nothing written, exit 0") << "exit 0";
    }
    void failingEncoderLeavesTheRecording() {
        QFETCH(QString, body);
        freshRecording();
        const QByteArray before = digest(recording);
        AnnotationTranscoder t;
        t.setProgram(writeScript(tmp.filePath(QStringLiteral("fake")),
                                 QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'),
                                 body));
        QSignalSpy finished(&t, &AnnotationTranscoder::finished);
        QVERIFY(t.start(recording, projectDir, 3));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(t.outcome(), Outcome::Failed);
        QVERIFY(t.errorText().contains(QStringLiteral("ffmpeg")));
        QCOMPARE(digest(recording), before);
        QVERIFY(!QFile::exists(QDir(projectDir).filePath(QStringLiteral("3.avi"))));
    }

    // An annotation deleted while it was being compressed must not come back.
    void deletedDuringTheRun() {
        freshRecording();
        const QString valid = tmp.filePath(QStringLiteral("valid.avi"));
        QVERIFY(QFile::copy(camera, valid) || QFile::exists(valid));
        AnnotationTranscoder t;
        t.setProgram(writeScript(tmp.filePath(QStringLiteral("fake")), QStringLiteral("slow_copy"),
                                 QStringLiteral("sleep 0.5; cp '%1' \"$out\"").arg(valid)));
        QSignalSpy finished(&t, &AnnotationTranscoder::finished);
        QVERIFY(t.start(recording, projectDir, 3));
        QVERIFY(QFile::remove(recording));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(t.outcome(), Outcome::Discarded);
        QVERIFY(!QFile::exists(recording));
        QVERIFY(!QFile::exists(QDir(projectDir).filePath(QStringLiteral("3.avi"))));
    }

    void ffmpegMissing() {
        freshRecording();
        const QByteArray before = digest(recording);
        const QString empty = tmp.filePath(QStringLiteral("no ffmpeg here"));
        QVERIFY(QDir().mkpath(empty));
        qputenv("PATH", QFile::encodeName(empty));

        ScriptedDialogs dialogs;
        kel::PrincipalW w(camera);
        w.projectDir = projectDir;
        w.annotationCount = 1;
        w.annotationRecorded = true;
        w.transcodePending = false;
        w.transcodeFinished = false;
        w.transcodeAnnotation(recording);

        QVERIFY(w.transcodeFinished); // the export is not refused for ever
        QCOMPARE(dialogs.count(QStringLiteral("platform")), 1);
        const auto box = dialogs.shown.last();
        QCOMPARE(box.caption, QStringLiteral("KEL"));
        QCOMPARE(box.icon, kel::Dialogs::Icon::Warning);
        QVERIFY(box.text.contains(QStringLiteral("ffmpeg")));
        QVERIFY(box.text.contains(QStringLiteral("non compressée")));
        QCOMPARE(digest(recording), before);
    }

    // Quitting, or closing the window, while ffmpeg runs: no ffmpeg left, no partial "3.avi",
    // the recording whole.
    void quitDuringARun_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("quitter") << "quitter";
        QTest::newRow("window destroyed") << "destroyed";
        QTest::newRow("escape, the application ends") << "escape";
    }
    void quitDuringARun() {
        QFETCH(QString, how);
        freshRecording();
        const QByteArray before = digest(recording);
        const QString fakeDir = tmp.filePath(QStringLiteral("stuck"));
        writeScript(fakeDir, QStringLiteral("ffmpeg"),
                    QStringLiteral("echo partial > \"$out\"; exec sleep 60"));
        qputenv("PATH", QFile::encodeName(fakeDir) + ':' + originalPath);

        ScriptedDialogs dialogs;
        QPointer<kel::PrincipalW> w = new kel::PrincipalW(camera);
        w->projectDir = projectDir;
        w->transcodeAnnotation(recording);
        QVERIFY(!w->transcodeFinished);
        const qint64 pid = w->encoderProcess->processId();
        QVERIFY(pid > 0);
        const QString partial = QDir(projectDir).filePath(QStringLiteral("3.avi"));
        QTRY_VERIFY(QFile::exists(partial));

        if (how == QLatin1String("quitter")) {
            w->quitter();
            QTRY_VERIFY(w.isNull());
        } else if (how == QLatin1String("destroyed")) {
            delete w;
        } else {
            // The window stays alive: only the end of the event loop tells.
            QTest::keyClick(w.data(), Qt::Key_Escape);
            QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
            QVERIFY(w->transcodeFinished);
        }
        QVERIFY(processGone(pid));
        QVERIFY(!QFile::exists(partial));
        QCOMPARE(digest(recording), before);
        QVERIFY2(dialogs.count(QStringLiteral("platform")) == 0, qPrintable(dialogs.lastText()));
        delete w;
    }
};

QTEST_MAIN(TestTranscoding)
#include "test_transcoding.moc"
