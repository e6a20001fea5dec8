#include "support/montage_media.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

// The export from the command line, run as the user would, without any display.
class TestHeadlessExport : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(montagemedia::makeStudent(m_dir.filePath("student.avi"), 2));
        QVERIFY(testmedia::makeVideo(m_dir.filePath("annotation1.avi"), "color=c=red", 1));
        QVERIFY(montagemedia::writeProject(m_dir.path(), {{1, 0}}));
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("options"); // after --export and the project
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // the result on stdout, or the reason on stderr
        // The first frame's width and height, then the red inset's left, top, width and height.
        QTest::addColumn<QList<int>>("frame");
        const QString student = m_dir.filePath("student.avi");
        // clang-format off
        QTest::newRow("faible, largest inset") << QStringList{"--video", student, "--resolution", "faible", "--inset", "99"} << 0 << "VideoFinale.avi" << QList<int>{320, 240, 0, 115, 134, 124};
        QTest::newRow("compressed")            << QStringList{"--video", student, "--compress"} << 0 << "montage.avi" << QList<int>{400, 300, 0, 206, 106, 94};
        QTest::newRow("inset out of range")    << QStringList{"--video", student, "--inset", "100"} << 2 << "0 à 99" << QList<int>{};
        QTest::newRow("undecodable video")     << QStringList{"--video", m_dir.filePath("project.xml")} << 1 << m_dir.filePath("project.xml") << QList<int>{};
        // clang-format on
    }

    void commandLine() {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QFETCH(QList<int>, frame);
        QProcess kel;
        kel.setEnvironment(QProcess::systemEnvironment().filter(
            QRegularExpression("^(?!DISPLAY=|WAYLAND_DISPLAY=|QT_QPA_PLATFORM=)")));
        kel.start(KEL_EXECUTABLE, QStringList{"--export", m_dir.path()} + options);
        QVERIFY(kel.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(kel.readAllStandardOutput()).trimmed();
        const QString err = QString::fromLocal8Bit(kel.readAllStandardError());
        QVERIFY2(kel.exitStatus() == QProcess::NormalExit && kel.exitCode() == exitCode,
                 qPrintable(err));
        QCOMPARE(out, exitCode ? QString() : m_dir.filePath(printed));
        QVERIFY2(err.contains(exitCode ? printed : "Progression : 100 %"), qPrintable(err));
        if (exitCode)
            return;
        cv::Mat red = montagemedia::firstFrame(out); // the first frame, then its red pixels
        cv::inRange(red, cv::Scalar(0, 0, 200), cv::Scalar(60, 60, 255), red);
        const cv::Rect r = cv::boundingRect(red);
        QCOMPARE((QList<int>{red.cols, red.rows, r.x, r.y, r.width, r.height}), frame);
        QVERIFY(cv::countNonZero(red) > r.area() * 0.95);
    }
};

QTEST_GUILESS_MAIN(TestHeadlessExport)
#include "test_headless_export.moc"
