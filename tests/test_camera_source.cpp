#include "recording/camera_source.h"

#include <QTemporaryDir>
#include <QtTest>
#include <opencv2/videoio.hpp>

// The file-fed camera delivers the frame due at the time of the call and starts again at the end.
class TestCameraSource : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString video;

    // Frames of a 10 fps, 1-second file are filled with grey 20 × their index.
    static int indexOf(const cv::Mat& frame) { return int(std::lround(cv::mean(frame)[0] / 20.0)); }

private slots:
    void initTestCase() {
        video = dir.filePath(QStringLiteral("caméra.avi"));
        cv::VideoWriter writer(QFile::encodeName(video).toStdString(), cv::CAP_FFMPEG,
                               cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, cv::Size(64, 48));
        QVERIFY(writer.isOpened());
        for (int i = 0; i < 10; ++i)
            writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(20 * i)));
    }

    void deliversInRealTimeAndLoops() {
        auto source = kel::openCameraSource(video);
        QVERIFY(source);
        cv::Mat frame;
        QVERIFY(source->read(frame));
        QCOMPARE(indexOf(frame), 0);
        QTest::qWait(450);
        QVERIFY(source->read(frame));
        QVERIFY2(indexOf(frame) >= 4 && indexOf(frame) <= 6,
                 qPrintable(QString::number(indexOf(frame))));
        QTest::qWait(700); // past the end: the file starts again
        QVERIFY(source->read(frame));
        QVERIFY2(indexOf(frame) <= 3, qPrintable(QString::number(indexOf(frame))));
    }

    void missingSourcesOpenNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing file") << QStringLiteral("/nonexistent/cam.avi");
        QTest::newRow("not a video") << QStringLiteral("/etc/hostname");
        QTest::newRow("missing device") << QStringLiteral("/dev/video97");
    }
    void missingSourcesOpenNothing() {
        QFETCH(QString, name);
        QVERIFY(!kel::openCameraSource(name));
    }
};

QTEST_MAIN(TestCameraSource)
#include "test_camera_source.moc"
