#include "recording/annotation_recorder.h"
#include "recording/camera_grabber.h"
#include "recording/camera_source.h"

#include <QtTest>

using namespace kel;

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

class TestAnnotationRecorder : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // However the camera and the ticks run, the file holds one frame per 1/15 s of the clock,
    // mirrored, each the camera's latest at its time, beginning with the picture current when the
    // clock started.
    void realTime_data() {
        using S = AnnotationRecorder::Status;
        QTest::addColumn<Run>("run");
        // clang-format off
        QTest::newRow("30 fps camera")               << Run{30, false, 20, 0, 4000, -1, 0, 60, S::Stopped};
        QTest::newRow("60 fps camera, gaps fail")    << Run{60, true, 10, 0, 4000, -1, 0, 60, S::Stopped};
        QTest::newRow("5 fps camera, gaps fail")     << Run{5, true, 20, 0, 4000, -1, 0, 60, S::Stopped};
        QTest::newRow("7.5 fps camera, late ticks")  << Run{7.5, false, 170, 0, 3000, -1, 0, 45, S::Stopped};
        QTest::newRow("stopped at once")             << Run{30, false, 20, 0, 0, -1, 0, 1, S::Stopped};
        QTest::newRow("previewed 3 s first")         << Run{30, false, 20, 3000, 1000, -1, 0, 15, S::Stopped};
        QTest::newRow("camera lost after 1 s")       << Run{30, false, 20, 0, 10000, 1000, 0, 15, S::CameraLost};
        QTest::newRow("disk full at the 10th frame") << Run{30, false, 20, 0, 4000, -1, 10, 9, S::WriteFailed};
        QTest::newRow("disk full at once")           << Run{30, false, 20, 0, 4000, -1, 1, 0, S::WriteFailed};
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
            const int index = f.at<cv::Vec3b>(60, 150)[0];
            QVERIFY(f.at<cv::Vec3b>(60, 150)[1] == 255); // mirrored
            // No older than the camera's picture one tick before its time.
            const double ms = run.previewMs + k * 1000.0 / 15 - run.tickMs;
            QVERIFY(k ? index >= int(ms * run.cameraFps / 1000) - 1 : index == firstIndex);
        }
        QVERIFY(std::abs(k - run.frames) <= 1);
    }

    // OpenCV's writer never reports a failed write: the sink must notice nothing reaches the disk.
    void sinkNoticesADeadDisk() {
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), dir.filePath(QStringLiteral("full.avi"))));
        AviFrameSink sink(300);
        QVERIFY(sink.open(dir.filePath(QStringLiteral("full.avi")), 15.0, cv::Size(320, 240)));
        // Written every 50 ms until refused.
        QTRY_VERIFY_WITH_TIMEOUT(!sink.write(cv::Mat::zeros(240, 320, CV_8UC3)), 10000);
    }
};

QTEST_GUILESS_MAIN(TestAnnotationRecorder)
#include "test_annotation_recorder.moc"
