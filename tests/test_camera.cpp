#include "recording/annotation_recorder.h"
#include "recording/camera_grabber.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"
#include "support/media.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace kel;

// A camera driver as OpenCV sees it: in `fourcc` at `fps`; it offers MJPEG (`mjpeg`) at up to
// `mjpegFps`, and refuses what it does not offer by saying so, or by keeping its format silently.
struct Driver {
    int fourcc;
    double fps;
    bool mjpeg, silent;
    double mjpegFps;
};
Q_DECLARE_METATYPE(Driver)

struct FakeCapture : cv::VideoCapture {
    Driver d;
    explicit FakeCapture(const Driver& driver) : d(driver) {}
    double get(int id) const override {
        return id == cv::CAP_PROP_FOURCC ? d.fourcc : id == cv::CAP_PROP_FPS ? d.fps : 0;
    }
    bool set(int id, double value) override {
        const int mjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
        if (id == cv::CAP_PROP_FOURCC) {
            if (int(value) == mjpg && !d.mjpeg)
                return d.silent;
            d.fourcc = int(value);
        } else if (id == cv::CAP_PROP_FPS) {
            d.fps = d.fourcc == mjpg ? std::min(value, d.mjpegFps) : value;
        }
        return true;
    }
};

// One recording: previewed for `previewMs`, then recorded for `durationMs`, ticked every `tickMs`
// of a made-up clock; the camera gives nothing from `failFrom` on (-1: never) and the disk
// refuses frame `failAt` (1-based; 0: never); `frames` is what its file must hold.
struct Run {
    double cameraFps;
    bool gapsFail; // reads between two frames fail, as with a non-blocking camera
    int tickMs, previewMs, durationMs, failFrom, failAt, frames;
    AnnotationRecorder::Status status;
};
Q_DECLARE_METATYPE(Run)

// Frame i is due from i / fps on: black, with a band on the left whose blue is i.
struct FakeCamera : CameraSource {
    explicit FakeCamera(const Run& run) : r(run) {}
    bool isOpened() const override { return true; }
    void setFrameSize(int, int) override {}
    bool read(cv::Mat& frame) override {
        const int index = int(clock * r.cameraFps / 1000);
        if ((r.failFrom >= 0 && clock >= r.failFrom) ||
            (r.gapsFail && index == std::exchange(last, index)))
            return false;
        frame = cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(0));
        frame.colRange(0, 40).setTo(cv::Scalar(index, 255, 255));
        return true;
    }
    Run r;
    qint64 clock = 0;
    int last = -1;
};

struct FillingSink : AviFrameSink {
    explicit FillingSink(int failAt) : left(failAt) {}
    int left;
    bool write(const cv::Mat& f) override { return --left != 0 && AviFrameSink::write(f); }
};

// Delivers 3 frames, then fails until its 200th read, about 2 s later.
struct FlakyCamera : CameraSource {
    std::atomic_int reads{0};
    bool isOpened() const override { return true; }
    void setFrameSize(int, int) override {}
    bool read(cv::Mat& frame) override {
        QThread::msleep(5);
        const int n = ++reads;
        if (n > 3 && n < 200)
            return false;
        frame = cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(n % 256));
        return true;
    }
};

// The camera's way to the preview and to the recording: the file-fed source delivers the frame
// due at the time of the call and starts again at the end; the grabber reads it on a thread.
class TestCamera : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString video, webcam; // webcam: 640 x 480, 25 fps, the picture of a real one

    // Frames of a 10 fps, 1-second file are filled with grey 20 × their index.
    static int indexOf(const cv::Mat& frame) { return int(std::lround(cv::mean(frame)[0] / 20.0)); }

private slots:
    void initTestCase() {
        video = dir.filePath(QStringLiteral("caméra.avi"));
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i",
                                   "color=size=64x48:rate=10:duration=1,format=gray,geq=lum='20*N'",
                                   "-c:v", "mjpeg", video}));
        webcam = dir.filePath(QStringLiteral("webcam.avi"));
        QVERIFY(testmedia::makeVideo(webcam, QStringLiteral("testsrc"), 20, 25,
                                     QStringLiteral("640x480")));
    }

    void deliversInRealTimeAndLoops() {
        auto source = openCameraSource(video);
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

    // Nothing opens, and the warning names what could not be opened.
    void missingSourcesOpenNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing file") << "/nonexistent/cam.avi";
        QTest::newRow("missing device") << "/dev/video42";
        QTest::newRow("missing index") << "3";
    }
    void missingSourcesOpenNothing() {
        QFETCH(QString, name);
        QVERIFY(!openCameraSource(name) && cameraOpenFailureText(name).contains(name));
    }

    // A camera is asked for MJPEG at 30 fps, and keeps its own format, or rate, where it refuses.
    void asksForMjpegAt30_data() {
        QTest::addColumn<Driver>("driver");
        QTest::addColumn<QString>("gives"); // fourcc and fps reported in the end
        const int yuyv = cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V');
        // clang-format off
        QTest::newRow("MJPEG at 30 offered")     << Driver{yuyv, 15, true, false, 30} << "MJPG 30";
        QTest::newRow("no MJPEG, refused")       << Driver{yuyv, 15, false, false, 30} << "YUYV 15";
        QTest::newRow("no MJPEG, kept silently") << Driver{yuyv, 15, false, true, 30} << "YUYV 15";
        QTest::newRow("MJPEG up to 20 fps")      << Driver{yuyv, 15, true, false, 20} << "MJPG 15";
        // clang-format on
    }
    void asksForMjpegAt30() {
        QFETCH(Driver, driver);
        QFETCH(QString, gives);
        FakeCapture capture(driver);
        QCOMPARE(askForMjpeg30(capture), gives == QLatin1String("MJPG 30"));
        const int fourcc = capture.d.fourcc;
        QCOMPARE(QStringLiteral("%1 %2")
                     .arg(QString::fromLatin1(reinterpret_cast<const char*>(&fourcc), 4))
                     .arg(capture.d.fps),
                 gives);
    }

    // The preview shows a frame mirrored, from BGR to RGB, at its own size; a frame of another
    // kind leaves the picture as it was.
    void previewMirrorsAndConvertsColours() {
        cv::Mat frame(4, 6, CV_8UC3, cv::Scalar(255, 0, 0)); // BGR blue
        frame.at<cv::Vec3b>(1, 0) = cv::Vec3b(10, 200, 30);  // B=10 G=200 R=30
        QOpenCVWidget w;
        w.showFrame(frame);
        QCOMPARE(w.currentImage().pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(w.currentImage().pixel(5, 1), qRgb(30, 200, 10));
        for (cv::Mat next : {cv::Mat(24, 32, CV_8UC3), cv::Mat(10, 10, CV_8UC1),
                             cv::Mat(10, 10, CV_16UC3)}) // larger, then of other kinds
            w.showFrame(next);
        QCOMPARE(w.currentImage().size(), QSize(32, 24));
    }

    // A busy window finds one notice waiting, not one per frame missed; stop() waits for no more
    // than the read in progress.
    void noticesDoNotPileUp() {
        CameraGrabber grabber(openCameraSource(QStringLiteral("slow:40:") + webcam));
        QSignalSpy ready(&grabber, &CameraGrabber::frameReady);
        QVERIFY(grabber.start());
        QThread::msleep(500); // the window is busy: about twelve frames go by
        QVERIFY(grabber.latestFrame().index >= 8);
        QCoreApplication::processEvents();
        QCOMPARE(ready.count(), 1);

        const QDeadlineTimer quick(100);
        grabber.stop();
        QVERIFY(!quick.hasExpired() && !grabber.isRunning());
        const quint64 last = grabber.latestFrame().index;
        QVERIFY(grabber.start()); // and again
        QVERIFY(grabber.waitForFrame(last, 1000).index > last);
    }

    // A camera that stops delivering is reported once, after a second of failures, and a frame
    // clears it.
    void lostCameraIsReported() {
        FlakyCamera camera;
        CameraGrabber grabber(&camera);
        QSignalSpy lost(&grabber, &CameraGrabber::cameraLost);
        const QDeadlineTimer notBefore(CameraGrabber::kLostAfterMs);
        QVERIFY(grabber.start());
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 3000);
        QVERIFY(grabber.isLost() && notBefore.hasExpired());
        QTRY_VERIFY_WITH_TIMEOUT(!grabber.isLost(), 5000);
        QCOMPARE(lost.count(), 1);
        QVERIFY(grabber.latestFrame().index > 3);
    }

    // However the camera and the ticks run, the file holds one frame per 1/25 s of the clock, as
    // the camera sees it, each the camera's latest at its time, beginning with the picture current
    // when the clock started.
    void realTime_data() {
        using S = AnnotationRecorder::Status;
        QTest::addColumn<Run>("run");
        // clang-format off
        QTest::newRow("5 fps camera, gaps fail")     << Run{5, true, 20, 0, 4000, -1, 0, 100, S::Stopped};
        QTest::newRow("7.5 fps camera, late ticks")  << Run{7.5, false, 170, 0, 3000, -1, 0, 75, S::Stopped};
        QTest::newRow("previewed 3 s first")         << Run{30, false, 20, 3000, 1000, -1, 0, 25, S::Stopped};
        QTest::newRow("camera lost after 1 s")       << Run{30, false, 20, 0, 10000, 1000, 0, 25, S::CameraLost};
        QTest::newRow("disk full at the 10th frame") << Run{30, false, 20, 0, 4000, -1, 10, 9, S::WriteFailed};
        // clang-format on
    }
    void realTime() {
        QFETCH(Run, run);
        FakeCamera camera(run);
        CameraGrabber grabber(&camera); // read here, on the test's clock
        AnnotationRecorder recorder(&grabber, std::make_unique<FillingSink>(run.failAt));
        recorder.setClock([&camera] { return camera.clock; });
        const auto tick = [&] {
            grabber.readOnce();
            recorder.tick();
        };
        const QString path = dir.filePath(QTest::currentDataTag()) + ".avi";
        QVERIFY(grabber.readOnce() && recorder.open(path));
        recorder.preview(false);
        for (; camera.clock < run.previewMs; tick())
            camera.clock += run.tickMs;
        const int firstIndex = int(camera.clock * run.cameraFps / 1000);
        recorder.start(false);
        for (const qint64 end = camera.clock + run.durationMs; camera.clock < end; tick())
            camera.clock = std::min(end, camera.clock + run.tickMs);
        recorder.stop();
        QCOMPARE(recorder.status(), run.status);

        cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
        int k = 0;
        for (cv::Mat f; capture.read(f); ++k) {
            const int index = f.at<cv::Vec3b>(60, 10)[0];
            QVERIFY(f.at<cv::Vec3b>(60, 10)[1] == 255); // the band on the left, as filmed
            // No older than the camera's picture one tick before its time.
            const double ms = run.previewMs + k * 1000.0 / AnnotationRecorder::kFps - run.tickMs;
            QVERIFY(k ? index >= int(ms * run.cameraFps / 1000) - 1 : index == firstIndex);
        }
        QVERIFY(std::abs(k - run.frames) <= 1);
    }

    // OpenCV's writer never reports a failed write: the sink must notice nothing reaches the disk.
    // A file size limit makes the writes fail for root as a full disk would.
    void sinkNoticesADeadDisk() {
        rlimit previous;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto restore = qScopeGuard([previous] {
            setrlimit(RLIMIT_FSIZE, &previous);
            std::signal(SIGXFSZ, SIG_DFL);
        });
        const rlimit small{rlim_t(1) << 20, previous.rlim_max};
        QVERIFY(std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &small) == 0);
        AviFrameSink sink(300);
        QVERIFY(sink.open(dir.filePath(QStringLiteral("full.avi")), AnnotationRecorder::kFps,
                          cv::Size(320, 240)));
        // Written every 50 ms until refused.
        QTRY_VERIFY_WITH_TIMEOUT(!sink.write(cv::Mat::zeros(240, 320, CV_8UC3)), 10000);
    }

    // A disk nearly full stops the recording while the file can still be finished.
    void sinkStopsOnANearlyFullDisk() {
        AviFrameSink sink;
        qint64 free = 1 << 30;
        sink.setFreeSpace([&free](const QString&) { return free; });
        QVERIFY(sink.open(dir.filePath(QStringLiteral("nearly-full.avi")), AnnotationRecorder::kFps,
                          cv::Size(320, 240)));
        const cv::Mat frame = cv::Mat::zeros(240, 320, CV_8UC3);
        QVERIFY(sink.write(frame));
        free = sink.reserveBytes() - 1;
        QVERIFY(!sink.write(frame));
        sink.close();
        QVERIFY(AnnotationRecorder::isPlayable(dir.filePath(QStringLiteral("nearly-full.avi"))));
    }
};

QTEST_MAIN(TestCamera)
#include "test_camera.moc"
