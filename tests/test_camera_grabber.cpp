#include "recording/annotation_recorder.h"
#include "recording/camera_grabber.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"
#include "recording/recording_window.h"
#include "support/media.h"

#include <QtTest>

#include <algorithm>

using namespace kel;

// How late a 10 ms timer fires while the event loop runs: what a teacher feels as stutter.
class LoopWatch : public QObject {
public:
    LoopWatch() {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed() / 1000000;
            if (m_last >= 0)
                m_late.push_back(int(now - m_last - 10));
            m_last = now;
        });
        m_clock.start();
        m_timer.start(10);
    }
    int max() const { return m_late.empty() ? 0 : *std::max_element(m_late.begin(), m_late.end()); }
    int percentile(double p) const {
        std::vector<int> v = m_late;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[size_t(p * (v.size() - 1))];
    }
    QString figures() const {
        return QStringLiteral("late by %1 ms at the median, %2 at the 99th percentile, %3 at most")
            .arg(percentile(0.5))
            .arg(percentile(0.99))
            .arg(max());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    std::vector<int> m_late;
};

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

    // A camera that blocks 130 ms per frame, as a webcam does at 7.5 fps in a dim room: read on
    // the window's thread it holds the loop a whole period; through the grabber, neither the
    // preview nor a recording holds it, and the recording still has one frame per 1/15 s.
    void slowCameraNeverHoldsTheLoop() {
        const QString slowCamera = QStringLiteral("slow:130:") + video;
        {
            auto camera = openCameraSource(slowCamera);
            QVERIFY(camera);
            LoopWatch watch;
            QTimer preview; // as the window's preview did: one read per 40 ms tick
            connect(&preview, &QTimer::timeout, [&] {
                cv::Mat frame;
                camera->read(frame);
            });
            preview.start(40);
            QTest::qWait(1000);
            qInfo("read on the loop's thread: %s", qPrintable(watch.figures()));
            QVERIFY2(watch.max() >= 100, qPrintable(watch.figures())); // it does block
        }

        CameraGrabber grabber(openCameraSource(slowCamera));
        QVERIFY(grabber.source() && grabber.start());
        QOpenCVWidget view;
        view.resize(451, 375);
        view.show();
        int previewed = 0;
        connect(&grabber, &CameraGrabber::frameReady, &view, [&] {
            cv::Mat frame = grabber.latestFrame().image.clone();
            view.showFrame(frame);
            ++previewed;
        });
        {
            LoopWatch watch;
            QTest::qWait(1500);
            qInfo("preview through the grabber: %s", qPrintable(watch.figures()));
            QVERIFY2(watch.percentile(0.9) <= 20 && watch.max() < 65, qPrintable(watch.figures()));
            QVERIFY2(previewed >= 7 && previewed <= 14, qPrintable(QString::number(previewed)));
        }

        const QString path = dir.filePath(QStringLiteral("annotation1.avi"));
        AnnotationRecorder recorder(&grabber, std::make_unique<AviFrameSink>());
        RecordingWindow window;
        connect(&recorder, &AnnotationRecorder::frameCaptured, &window,
                &RecordingWindow::showFrame);
        QVERIFY(recorder.open(path));
        window.show();
        recorder.preview();
        QTest::qWait(500);
        qint64 recordedMs = 0;
        {
            LoopWatch watch;
            QElapsedTimer clock;
            recorder.start();
            clock.start();
            QTest::qWait(3000);
            recorder.stop();
            recordedMs = clock.elapsed();
            qInfo("recording through the grabber: %s", qPrintable(watch.figures()));
            QVERIFY2(watch.percentile(0.9) <= 20 && watch.max() < 65, qPrintable(watch.figures()));
        }
        QCOMPARE(recorder.status(), AnnotationRecorder::Status::Stopped);

        // One frame per 1/15 s of the clock, the camera's pictures repeated to fill the gaps.
        cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
        QCOMPARE(capture.get(cv::CAP_PROP_FPS), 15.0);
        int frames = 0, pictures = 0;
        cv::Mat previous;
        for (cv::Mat f; capture.read(f); ++frames) {
            if (previous.empty() || cv::norm(f, previous, cv::NORM_INF) > 0)
                ++pictures;
            previous = f.clone();
        }
        const double expected = recordedMs * 15 / 1000.0;
        QVERIFY2(std::abs(frames - expected) <= 1.5,
                 qPrintable(QStringLiteral("%1 frames for %2 ms").arg(frames).arg(recordedMs)));
        // About 7.7 pictures a second from this camera: the rest are repeats.
        QVERIFY2(pictures >= recordedMs / 130 - 4 && pictures <= recordedMs / 130 + 2,
                 qPrintable(QStringLiteral("%1 pictures in %2 frames").arg(pictures).arg(frames)));
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
