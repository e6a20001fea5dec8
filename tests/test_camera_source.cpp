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

    // The slow form blocks each read until the next beat of its period, like a webcam.
    void slowFormBlocksLikeADevice() {
        auto source = kel::openCameraSource(QStringLiteral("slow:130:") + video);
        QVERIFY(source);
        cv::Mat frame;
        QVERIFY(source->read(frame));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 4; ++i)
            QVERIFY(source->read(frame));
        // A loaded machine returns from the first read late; the beats still set the pace.
        QVERIFY2(clock.elapsed() >= 4 * 130 - 65 && clock.elapsed() < 4 * 130 + 130,
                 qPrintable(QString::number(clock.elapsed())));
    }

    // Nothing opens, and the warning names what could not be opened.
    void missingSourcesOpenNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("told");
        // clang-format off
        QTest::newRow("missing file") << "/nonexistent/cam.avi" << "La vidéo /nonexistent/cam.avi";
        QTest::newRow("not a video") << "/etc/hostname" << "/etc/hostname";
        QTest::newRow("missing device") << "/dev/video42" << "périphérique /dev/video42";
        QTest::newRow("missing index") << "3" << "La webcam n°3";
        QTest::newRow("slow missing device") << "slow:130:/dev/video42" << "/dev/video42 n'a pas";
        // clang-format on
    }
    void missingSourcesOpenNothing() {
        QFETCH(QString, name);
        QFETCH(QString, told);
        QVERIFY(!kel::openCameraSource(name));
        const QString text = kel::cameraOpenFailureText(name);
        QVERIFY2(text.startsWith(QStringLiteral("Aucune webcam n'a été détectée !\r\n")) &&
                     text.contains(told),
                 qPrintable(text));
    }
};

QTEST_MAIN(TestCameraSource)
#include "test_camera_source.moc"
