#include "recording/annotation_recorder.h"
#include "recording/camera_source.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using kel::AnnotationRecorder;
using Status = kel::AnnotationRecorder::Status;

// One recording: previewed for `previewMs`, then recorded for `durationMs`, ticked every `tickMs`
// of a made-up clock; `frames` is what its file must hold.
struct Run {
    double cameraFps;
    bool gapsFail; // reads between two frames fail, as with a non-blocking camera
    int tickMs, previewMs, durationMs;
    int failFrom; // the camera gives nothing from then on; -1: never
    int failAt;   // the disk refuses this frame (1-based); 0: never
    int frames;
    Status status;
};
Q_DECLARE_METATYPE(Run)

// Frame i is due from i / fps on: a white band on the left, i in the top-right pixel.
class FakeCamera : public kel::CameraSource {
public:
    FakeCamera(const Run& run, const qint64& clock) : r(run), clock(clock) {}
    bool isOpened() const override { return true; }
    void setFrameSize(int, int) override {}
    bool read(cv::Mat& frame) override {
        const int index = int(clock * r.cameraFps / 1000);
        if ((r.failFrom >= 0 && clock >= r.failFrom) || (r.gapsFail && index == last))
            return false;
        last = index;
        frame = cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(0));
        frame.colRange(0, 40).setTo(cv::Scalar::all(255));
        frame.at<cv::Vec3b>(0, 159) = cv::Vec3b(uchar(index), uchar(index), 7);
        return true;
    }
    const Run& r;
    const qint64& clock;
    int last = -1;
};

struct FillingSink : kel::AviFrameSink {
    explicit FillingSink(int failAt) : left(failAt) {}
    int left;
    bool write(const cv::Mat& f) override { return --left != 0 && AviFrameSink::write(f); }
};

class TestAnnotationRecorder : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // However the camera and the ticks run, the file holds one frame per 1/15 s of the clock,
    // mirrored, in order, beginning with the picture current when the clock started.
    void realTime_data() {
        QTest::addColumn<Run>("run");
        // clang-format off
        QTest::newRow("30 fps camera")               << Run{30, false, 20, 0, 4000, -1, 0, 60, Status::Stopped};
        QTest::newRow("60 fps camera, gaps fail")    << Run{60, true, 10, 0, 4000, -1, 0, 60, Status::Stopped};
        QTest::newRow("5 fps camera, gaps fail")     << Run{5, true, 20, 0, 4000, -1, 0, 60, Status::Stopped};
        QTest::newRow("7.5 fps camera, late ticks")  << Run{7.5, false, 170, 0, 3000, -1, 0, 45, Status::Stopped};
        QTest::newRow("stopped at once")             << Run{30, false, 20, 0, 0, -1, 0, 1, Status::Stopped};
        QTest::newRow("previewed 3 s first")         << Run{30, false, 20, 3000, 1000, -1, 0, 15, Status::Stopped};
        QTest::newRow("camera lost after 1 s")       << Run{30, false, 20, 0, 10000, 1000, 0, 15, Status::CameraLost};
        QTest::newRow("disk full at the 10th frame") << Run{30, false, 20, 0, 4000, -1, 10, 9, Status::WriteFailed};
        QTest::newRow("disk full at once")           << Run{30, false, 20, 0, 4000, -1, 1, 0, Status::WriteFailed};
        // clang-format on
    }
    void realTime() {
        QFETCH(Run, run);
        qint64 clock = 0;
        FakeCamera camera(run, clock);
        AnnotationRecorder recorder(&camera, std::make_unique<FillingSink>(run.failAt));
        recorder.setClock([&clock] { return clock; });
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".avi");
        QVERIFY(recorder.open(path));
        QSignalSpy finished(&recorder, &AnnotationRecorder::finished);
        recorder.preview(false);
        for (; clock < run.previewMs; recorder.tick())
            clock += run.tickMs;
        const int firstIndex = int(clock * run.cameraFps / 1000);
        recorder.start(false);
        for (const qint64 end = clock + run.durationMs; recorder.isRecording() && clock < end;
             recorder.tick())
            clock = std::min(end, clock + run.tickMs);
        recorder.stop();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(recorder.status(), run.status);
        if (run.failFrom >= 0) // ended by itself, soon
            QVERIFY(clock <= run.failFrom + AnnotationRecorder::kCameraTimeoutMs + run.tickMs);

        cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
        std::vector<int> indices;
        for (cv::Mat f; capture.read(f);) {
            QVERIFY(f.at<cv::Vec3b>(60, 150) == cv::Vec3b(255, 255, 255)); // mirrored
            QVERIFY(f.at<cv::Vec3b>(60, 10) == cv::Vec3b(0, 0, 0));
            QVERIFY(indices.empty() || f.at<cv::Vec3b>(0, 0)[0] >= indices.back());
            indices.push_back(f.at<cv::Vec3b>(0, 0)[0]);
        }
        QCOMPARE(int(indices.size()), recorder.framesWritten());
        QVERIFY(std::abs(int(indices.size()) - run.frames) <= 1);
        if (indices.empty())
            return;
        QCOMPARE(capture.get(cv::CAP_PROP_FPS), 15.0);
        QCOMPARE(indices.front(), firstIndex);
        // The last picture is the camera's around its time, within one tick.
        const double lastSlotMs = run.previewMs + (indices.size() - 1) * 1000.0 / 15;
        QVERIFY(indices.back() >= int((lastSlotMs - run.tickMs) * run.cameraFps / 1000) - 1);
    }

    // OpenCV's writer never reports a failed write: the sink must notice nothing reaches the disk.
    void sinkNoticesADeadDisk() {
        const QString path = dir.filePath(QStringLiteral("full.avi"));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
        kel::AviFrameSink sink(300);
        QVERIFY(sink.open(path, 15.0, cv::Size(320, 240)));
        int written = 0; // 20 ms apart: 10 s at most
        while (sink.write(cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(90))) && ++written < 500)
            QTest::qWait(20);
        QVERIFY(written < 500);
    }
};

QTEST_GUILESS_MAIN(TestAnnotationRecorder)
#include "test_annotation_recorder.moc"
