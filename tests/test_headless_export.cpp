#include "support/montage_media.h"

#include <QTemporaryDir>
#include <QtTest>

// The export from the command line, run as the user would, without any display.
class TestHeadlessExport : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(montagemedia::makeStudent(m_dir.filePath("student.avi"), 2, "320x240"));
        QVERIFY(
            montagemedia::makeAnnotation(m_dir.filePath("annotation1.avi"), "red", 1, "320x240"));
        QVERIFY(montagemedia::writeProject(m_dir.path(), {{1, 0}}));
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // the result on stdout, or the reason on stderr
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QRect>("inset"); // red in the first frame
        const QString notAVideo = m_dir.filePath("project.xml");
        // clang-format off
        QTest::newRow("faible, largest inset") << QStringList{"--resolution", "faible", "--inset", "99"} << 0 << "VideoFinale.avi" << QSize(320, 240) << QRect(0, 115, 134, 124);
        QTest::newRow("compressed")            << QStringList{"--compress"} << 0 << "montage.avi" << QSize(400, 300) << QRect(0, 206, 106, 94);
        QTest::newRow("inset out of range")    << QStringList{"--inset", "100"} << 2 << "0 à 99" << QSize() << QRect();
        QTest::newRow("undecodable video")     << QStringList{"--video", notAVideo} << 1 << notAVideo << QSize() << QRect();
        // clang-format on
    }

    void commandLine() {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QFETCH(QSize, frame);
        QFETCH(QRect, inset);
        QProcess kel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        kel.setProcessEnvironment(env);
        kel.start(KEL_EXECUTABLE,
                  QStringList{"--export", m_dir.path(), "--video", m_dir.filePath("student.avi")} +
                      options);
        QVERIFY(kel.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(kel.readAllStandardOutput()).trimmed();
        const QString err = QString::fromLocal8Bit(kel.readAllStandardError());
        QCOMPARE(kel.exitStatus(), QProcess::NormalExit);
        QVERIFY2(kel.exitCode() == exitCode, qPrintable(err));
        QCOMPARE(out, exitCode ? QString() : m_dir.filePath(printed));
        QVERIFY2(err.contains(exitCode ? printed : "Progression : 100 %"), qPrintable(err));
        if (exitCode)
            return;
        const cv::Mat first = montagemedia::readFrames(out).value(0);
        QCOMPARE(QSize(first.cols, first.rows), frame);
        cv::Mat red;
        cv::inRange(first, cv::Scalar(0, 0, 200), cv::Scalar(60, 60, 255), red);
        const cv::Rect r(inset.x(), inset.y(), inset.width(), inset.height());
        QVERIFY(cv::countNonZero(red(r)) > r.area() * 0.95 &&
                cv::countNonZero(red) < r.area() * 1.05);
    }
};

QTEST_GUILESS_MAIN(TestHeadlessExport)
#include "test_headless_export.moc"
