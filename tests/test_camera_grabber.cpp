#include "recording/camera_grabber.h"
#include "recording/camera_source.h"
#include "support/media.h"

#include <QtTest>

using namespace kel;

// Delivers `good` frames, then fails until `recoverAt` reads (never when 0).
struct FlakyCamera : CameraSource {
    std::atomic_int reads{0};
    int good = 3, recoverAt = 0;
    bool isOpened() const override { return true; }
    void setFrameSize(int, int) override {}
    bool read(cv::Mat& frame) override {
        QThread::msleep(5);
        const int n = ++reads;
        if (n > good && (recoverAt == 0 || n < recoverAt))
            return false;
        frame = cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(n % 256));
        return true;
    }
};

class TestCameraGrabber : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString video; // 640 x 480, 25 fps: the picture of a real webcam

private slots:
    void initTestCase() {
        video = dir.filePath(QStringLiteral("webcam.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 20, 25,
                                     QStringLiteral("640x480")));
    }

    // A busy window finds one notice waiting, not one per frame missed; pausing holds the
    // frames, and stop() waits for no more than the read in progress.
    void noticesDoNotPileUp() {
        CameraGrabber grabber(openCameraSource(QStringLiteral("slow:40:") + video));
        QSignalSpy ready(&grabber, &CameraGrabber::frameReady);
        QVERIFY(grabber.start());
        QThread::msleep(500); // the window is busy: about twelve frames go by
        QVERIFY(grabber.latestFrame().index >= 8);
        QCoreApplication::processEvents();
        QCOMPARE(ready.count(), 1);

        grabber.setPaused(true);
        QTest::qWait(100);
        const quint64 held = grabber.latestFrame().index;
        QTest::qWait(300);
        QCOMPARE(grabber.latestFrame().index, held);
        grabber.setPaused(false);
        QTRY_VERIFY(grabber.latestFrame().index > held);

        QElapsedTimer clock;
        clock.start();
        grabber.stop();
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!grabber.isRunning());
        QVERIFY(grabber.start()); // and again
        QVERIFY(grabber.waitForFrame(grabber.latestFrame().index, 1000).index > held + 1);
    }

    // A camera that stops delivering is reported once, after a second of failures, and a frame
    // clears it.
    void lostCameraIsReported() {
        FlakyCamera camera;
        camera.recoverAt = 200; // about 2 s of failures
        CameraGrabber grabber(&camera);
        QSignalSpy lost(&grabber, &CameraGrabber::cameraLost);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(grabber.start());
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 3000);
        QVERIFY(grabber.isLost() && clock.elapsed() >= CameraGrabber::kLostAfterMs);
        QTRY_VERIFY_WITH_TIMEOUT(!grabber.isLost(), 5000);
        QCOMPARE(lost.count(), 1);
        QVERIFY(grabber.latestFrame().index > 3);
    }
};

QTEST_MAIN(TestCameraGrabber)
#include "test_camera_grabber.moc"
