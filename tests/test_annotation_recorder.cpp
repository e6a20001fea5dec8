#include "recording/annotation_recorder.h"
#include "recording/camera_source.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

using kel::AnnotationRecorder;

namespace {

// A camera on a made-up clock: frame i is available from i * period on. Its picture has a white
// band on the left and carries its index in the top-right pixel. `gapsFail` makes reads between
// two frames fail, as a non-blocking camera does; `failFrom` makes every read fail from then on.
class FakeCamera : public kel::CameraSource {
public:
    qint64* clock = nullptr;
    double periodMs = 1000.0 / 30;
    bool gapsFail = false;
    qint64 failFrom = -1;
    cv::Size size{160, 120};

    bool isOpened() const override { return true; }
    void setFrameSize(int, int) override {}
    bool read(cv::Mat& frame) override {
        if (failFrom >= 0 && *clock >= failFrom)
            return false;
        const int index = int(*clock / periodMs);
        if (gapsFail && index == m_lastIndex)
            return false;
        m_lastIndex = index;
        frame = cv::Mat(size, CV_8UC3, cv::Scalar(0, 0, 0));
        cv::rectangle(frame, cv::Rect(0, 0, size.width / 4, size.height), cv::Scalar::all(255),
                      cv::FILLED);
        frame.at<cv::Vec3b>(0, size.width - 1) = cv::Vec3b(uchar(index), uchar(index), 7);
        return true;
    }

private:
    int m_lastIndex = -1;
};

// Fails every write from the `failAt`-th on (1-based), like a disk that fills up.
class FailingSink : public kel::FrameSink {
public:
    explicit FailingSink(int failAt) : m_failAt(failAt) {}
    bool open(const QString&, double, cv::Size) override { return true; }
    bool write(const cv::Mat&) override { return ++writes < m_failAt; }
    void close() override { closed = true; }
    int writes = 0;
    bool closed = false;

private:
    int m_failAt;
};

struct FileInfo {
    int frames = 0;
    double fps = 0;
    cv::Size size;
    std::vector<cv::Mat> all;
};

FileInfo readBack(const QString& path) {
    FileInfo info;
    cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    info.fps = capture.get(cv::CAP_PROP_FPS);
    cv::Mat frame;
    while (capture.read(frame)) {
        info.size = frame.size();
        info.all.push_back(frame.clone());
        ++info.frames;
    }
    return info;
}

} // namespace

class TestAnnotationRecorder : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    qint64 clock = 0;

    std::unique_ptr<AnnotationRecorder> makeRecorder(FakeCamera& camera,
                                                     std::unique_ptr<kel::FrameSink> sink) {
        camera.clock = &clock;
        auto recorder = std::make_unique<AnnotationRecorder>(&camera, std::move(sink));
        recorder->setClock([this] { return clock; });
        return recorder;
    }

    // Advances the made-up clock to `until` in steps of `stepMs`, ticking the recorder.
    void run(AnnotationRecorder& recorder, qint64 until, int stepMs) {
        while (clock < until && recorder.isRecording()) {
            clock = std::min(until, clock + stepMs);
            recorder.tick();
        }
    }

private slots:
    void init() { clock = 0; }

    // Whatever the camera's pace and however late the ticks come, the file holds one frame per
    // 1/15 s of the clock, so it plays as long as the recording lasted.
    void realTime_data() {
        QTest::addColumn<double>("cameraFps");
        QTest::addColumn<bool>("gapsFail");
        QTest::addColumn<int>("tickMs");
        QTest::addColumn<int>("durationMs");

        QTest::newRow("30 fps camera") << 30.0 << false << 20 << 4000;
        QTest::newRow("60 fps camera") << 60.0 << true << 10 << 4000;
        QTest::newRow("5 fps camera") << 5.0 << true << 20 << 4000;
        QTest::newRow("7.5 fps camera, late ticks") << 7.5 << false << 170 << 3000;
        QTest::newRow("stopped at once") << 30.0 << false << 20 << 0;
    }
    void realTime() {
        QFETCH(double, cameraFps);
        QFETCH(bool, gapsFail);
        QFETCH(int, tickMs);
        QFETCH(int, durationMs);

        FakeCamera camera;
        camera.periodMs = 1000.0 / cameraFps;
        camera.gapsFail = gapsFail;
        const QString path =
            dir.filePath(QStringLiteral("real time %1.avi").arg(QTest::currentDataTag()));
        auto recorder = makeRecorder(camera, std::make_unique<kel::AviFrameSink>());
        QVERIFY(recorder->open(path));
        QSignalSpy finished(recorder.get(), &AnnotationRecorder::finished);
        recorder->start(false);
        run(*recorder, durationMs, tickMs);
        recorder->stop();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(recorder->status(), AnnotationRecorder::Status::Stopped);

        const FileInfo info = readBack(path);
        const int expected = std::max(1, int(std::lround(durationMs * 15.0 / 1000)));
        QVERIFY2(
            std::abs(info.frames - expected) <= 1,
            qPrintable(QStringLiteral("%1 frames for %2 ms").arg(info.frames).arg(durationMs)));
        QCOMPARE(info.frames, recorder->framesWritten());
        QCOMPARE(info.fps, 15.0);
        QCOMPARE(info.size, camera.size);

        // Mirrored: the white band is on the right; the pictures follow the camera in order.
        const cv::Mat& first = info.all.front();
        QCOMPARE(first.at<cv::Vec3b>(60, 150), cv::Vec3b(255, 255, 255));
        QCOMPARE(first.at<cv::Vec3b>(60, 10), cv::Vec3b(0, 0, 0));
        int previous = -1;
        for (const cv::Mat& frame : info.all) {
            const int index = frame.at<cv::Vec3b>(0, 0)[0];
            QVERIFY(index >= previous);
            previous = index;
        }
        // The last slot shows what the camera gave around its time, within one tick.
        const double lastSlotMs = (info.frames - 1) * 1000.0 / 15;
        QVERIFY(previous >= int((lastSlotMs - tickMs) / camera.periodMs) - 1);
        QVERIFY(previous <= int(durationMs / camera.periodMs) + 1);
    }

    // Before the clock starts the camera is only shown: nothing is written, and the file begins
    // with the picture current when the clock starts. Cancelled, no file is left; a camera that
    // dies meanwhile ends it with nothing written.
    void previewBeforeStart_data() {
        QTest::addColumn<qint64>("failFrom");
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<int>("status");

        QTest::newRow("started after 3 s")
            << qint64(-1) << false << int(AnnotationRecorder::Status::Stopped);
        QTest::newRow("cancelled")
            << qint64(-1) << true << int(AnnotationRecorder::Status::Cancelled);
        QTest::newRow("camera lost while previewed")
            << qint64(1500) << false << int(AnnotationRecorder::Status::CameraLost);
    }
    void previewBeforeStart() {
        QFETCH(qint64, failFrom);
        QFETCH(bool, cancelled);
        QFETCH(int, status);

        FakeCamera camera;
        camera.failFrom = failFrom;
        const QString path =
            dir.filePath(QStringLiteral("preview %1.avi").arg(QTest::currentDataTag()));
        auto recorder = makeRecorder(camera, std::make_unique<kel::AviFrameSink>());
        QVERIFY(recorder->open(path));
        QSignalSpy shown(recorder.get(), &AnnotationRecorder::frameCaptured);
        QSignalSpy finished(recorder.get(), &AnnotationRecorder::finished);
        recorder->preview(false);
        while (clock < 3000 && recorder->status() == AnnotationRecorder::Status::Ready) {
            clock += 20;
            recorder->tick();
        }
        QCOMPARE(recorder->framesWritten(), 0);
        if (cancelled)
            recorder->cancel();
        if (recorder->status() == AnnotationRecorder::Status::Ready) {
            QCOMPARE(shown.size(), 150);
            const int due = int(clock / camera.periodMs);
            recorder->start(false);
            run(*recorder, 4000, 20);
            recorder->stop();
            const FileInfo info = readBack(path);
            QVERIFY(std::abs(info.frames - 15) <= 1);
            QCOMPARE(int(info.all.front().at<cv::Vec3b>(0, 0)[0]), due);
        } else {
            recorder->start(false); // too late: no effect
        }
        QCOMPARE(int(recorder->status()), status);
        QCOMPARE(finished.size(), 1);
        if (cancelled)
            QVERIFY(!QFile::exists(path));
        if (failFrom >= 0) {
            QCOMPARE(recorder->framesWritten(), 0);
            QVERIFY(clock <= failFrom + AnnotationRecorder::kCameraTimeoutMs + 20);
        }
    }

    // A camera that stops delivering ends the recording by itself; what was recorded up to the
    // last frame is a whole file.
    void cameraLost() {
        FakeCamera camera;
        camera.failFrom = 1000;
        const QString path = dir.filePath(QStringLiteral("lost.avi"));
        auto recorder = makeRecorder(camera, std::make_unique<kel::AviFrameSink>());
        QVERIFY(recorder->open(path));
        QSignalSpy finished(recorder.get(), &AnnotationRecorder::finished);
        recorder->start(false);
        run(*recorder, 10000, 20);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(recorder->status(), AnnotationRecorder::Status::CameraLost);
        QVERIFY(clock <= 1000 + AnnotationRecorder::kCameraTimeoutMs + 20);
        QVERIFY(AnnotationRecorder::isPlayable(path));
        QVERIFY(std::abs(readBack(path).frames - 15) <= 1);
    }

    void writeFailure_data() {
        QTest::addColumn<int>("failAt");
        QTest::newRow("first frame") << 1;
        QTest::newRow("mid-recording") << 10;
    }
    void writeFailure() {
        QFETCH(int, failAt);
        FakeCamera camera;
        auto sinkOwner = std::make_unique<FailingSink>(failAt);
        FailingSink* sink = sinkOwner.get();
        auto recorder = makeRecorder(camera, std::move(sinkOwner));
        QVERIFY(recorder->open(QStringLiteral("unused")));
        QSignalSpy finished(recorder.get(), &AnnotationRecorder::finished);
        recorder->start(false);
        run(*recorder, 5000, 20);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(recorder->status(), AnnotationRecorder::Status::WriteFailed);
        QCOMPARE(recorder->framesWritten(), failAt - 1);
        QVERIFY(sink->closed);
        recorder->stop(); // after the end: no effect
        QCOMPARE(finished.size(), 1);
    }

    // OpenCV's writer never reports a failed write; the sink must notice that nothing reaches
    // the disk.
    void sinkNoticesADeadDisk() {
        const QString path = dir.filePath(QStringLiteral("full.avi"));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
        kel::AviFrameSink sink(300);
        const cv::Size size(320, 240);
        QVERIFY(sink.open(path, 15.0, size));
        const cv::Mat frame(size, CV_8UC3, cv::Scalar(10, 20, 30));
        QElapsedTimer elapsed;
        elapsed.start();
        bool failed = false;
        while (!failed && elapsed.elapsed() < 10000) {
            failed = !sink.write(frame);
            QTest::qWait(20);
        }
        QVERIFY(failed);
        sink.close();
    }
};

QTEST_GUILESS_MAIN(TestAnnotationRecorder)
#include "test_annotation_recorder.moc"
