// Cost, on the window's thread, of writing one 640 x 480 frame of a recording (mirrored or not),
// and the share of one core that a 25 fps recording spends on it.
#include "recording/annotation_recorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <opencv2/core.hpp>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    cv::Mat frame(480, 640, CV_8UC3);
    cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(255));
    const int n = 250; // ten seconds
    for (const bool mirrored : {false, true}) {
        kel::AviFrameSink sink;
        if (!sink.open(dir.filePath(QStringLiteral("bench.avi")), kel::AnnotationRecorder::kFps,
                       frame.size())) {
            std::fprintf(stderr, "the file could not be created\n");
            return 1;
        }
        QElapsedTimer t;
        t.start();
        qint64 worstNs = 0;
        for (int i = 0; i < n; ++i) {
            const qint64 before = t.nsecsElapsed();
            cv::Mat written = frame;
            if (mirrored)
                cv::flip(frame, written, 1);
            sink.write(written);
            worstNs = std::max(worstNs, t.nsecsElapsed() - before);
        }
        const double frameMs = t.nsecsElapsed() / 1e6 / n;
        sink.close();
        std::printf("%s frame written: %.2f ms (worst %.2f ms); at %.0f fps: %.1f %% of one core "
                    "(target <= 25 %%)\n",
                    mirrored ? "mirrored" : "plain", frameMs, worstNs / 1e6,
                    kel::AnnotationRecorder::kFps, frameMs * kel::AnnotationRecorder::kFps / 10.0);
    }
    return 0;
}
