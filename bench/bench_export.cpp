// Export speed and memory: the headless export of a 60 s, 640 x 480 student video with three 5 s
// annotations, uncompressed and compressed, against a plain ffmpeg command that overlays the same
// annotations and encodes H.264 at the same size and bit rate. Also the longest pause of the
// window's event loop while the same montage renders behind the export window.
//
// Usage: bench_export [work directory]   (default: a temporary directory)
#include "app/globals.h"
#include "export/export_window.h"
#include "export/montage_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <opencv2/videoio.hpp>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

struct Run {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
};

// Runs a program to its end; its peak memory covers its own children (ffmpeg under kel).
Run measure(const QStringList& command) {
    std::vector<QByteArray> bytes;
    for (const QString& a : command)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.peakKb = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

bool ffmpeg(const QStringList& args) {
    QProcess p;
    p.start("ffmpeg", QStringList{"-y", "-loglevel", "error"} + args);
    return p.waitForFinished(-1) && p.exitCode() == 0;
}

double lengthSeconds(const QString& path) {
    cv::VideoCapture cap(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    const double fps = cap.get(cv::CAP_PROP_FPS);
    return fps > 0 ? cap.get(cv::CAP_PROP_FRAME_COUNT) / fps : 0;
}

// The longest pause of the event loop while the export window's montage renders.
double longestGapMs(const QString& project, const QString& student, bool compress) {
    auto* e = new kel::Export(project, student);
    kel::exportWindow = e;
    e->rbGrandeResolution->setChecked(true);
    e->cbCompresserMontage->setChecked(compress);
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 gap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        gap = std::max(gap, now - last);
        last = now;
    });
    tick.start(5);
    e->lancerExportation(); // its own duration counts as a pause too
    QEventLoop loop;
    if (e->isRendering()) {
        QObject::connect(e->montage(), &kel::Mixing::exportEnded, &loop, &QEventLoop::quit);
        loop.exec();
    }
    kel::exportWindow = nullptr;
    delete e;
    return double(gap);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const QDir dir(work);
    dir.mkpath("projet");
    const QString project = dir.filePath("projet");
    const QString student = dir.filePath("student.avi");
    const int positions[] = {10, 30, 50};

    std::printf("generating media in %s\n", qPrintable(work));
    if (!QFile::exists(student) &&
        !ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=60", "-c:v", "mpeg4",
                 "-q:v", "3", student}))
        return 1;
    QString xml = "<?xml version='1.0' encoding='UTF-8'?>\n<ANNOTATION>\n";
    for (int i = 0; i < 3; ++i) {
        const QString a = QDir(project).filePath(QStringLiteral("annotation%1.avi").arg(i + 1));
        if (!QFile::exists(a) &&
            !ffmpeg({"-f", "lavfi", "-i",
                     QStringLiteral("mandelbrot=size=640x480:rate=25:start_scale=%1").arg(i + 2),
                     "-t", "5", "-c:v", "mpeg4", "-b:v", "1200k", a}))
            return 1;
        xml += QStringLiteral(" <Numero Value=\"%1\">\n  <FramePosition Value=\"%2\"/>\n"
                              "  <Type Value=\"0\"/>\n </Numero>\n")
                   .arg(i + 1)
                   .arg(positions[i] * 25);
    }
    xml += "</ANNOTATION>\n";
    QFile xmlFile(QDir(project).filePath("project.xml"));
    xmlFile.open(QIODevice::WriteOnly);
    xmlFile.write(xml.toUtf8());
    xmlFile.close();

    const QStringList exportCommand{KEL_EXECUTABLE, "--export",     project, "--video",
                                    student,        "--resolution", "grande"};
    const Run raw = measure(exportCommand);
    const double rawLength = lengthSeconds(QDir(project).filePath("VideoFinale.avi"));
    const Run compressed = measure(exportCommand + QStringList{"--compress"});
    const double compressedLength = lengthSeconds(QDir(project).filePath("montage.avi"));

    // The same inputs through ffmpeg alone: the three annotations overlaid in the same inset.
    QString graph;
    for (int i = 0; i < 3; ++i)
        graph += QStringLiteral("[%1:v]scale=170:150,setpts=PTS-STARTPTS+%2/TB[a%1];")
                     .arg(i + 1)
                     .arg(positions[i]);
    graph += "[0:v][a1]overlay=0:330:eof_action=pass[v1];[v1][a2]overlay=0:330:eof_action=pass[v2];"
             "[v2][a3]overlay=0:330:eof_action=pass[v]";
    QStringList overlay{"ffmpeg", "-y", "-loglevel", "error", "-i", student};
    for (int i = 0; i < 3; ++i)
        overlay << "-i" << QDir(project).filePath(QStringLiteral("annotation%1.avi").arg(i + 1));
    overlay << "-filter_complex" << graph << "-map"
            << "[v]"
            << "-an"
            << "-c:v"
            << "libx264"
            << "-b:v"
            << "768k"
            << "-r"
            << "25"
            << "-f"
            << "avi" << dir.filePath("overlay.avi");
    const Run reference = measure(overlay);

    if (raw.status != 0 || compressed.status != 0 || reference.status != 0) {
        std::printf("a run failed: export %d, compressed export %d, ffmpeg %d\n", raw.status,
                    compressed.status, reference.status);
        return 1;
    }

    std::printf("\nuncompressed export: %.2f s for a %.1f s montage: %.1f x real time "
                "(target >= 10 x), peak memory %.0f MB\n",
                raw.seconds, rawLength, rawLength / raw.seconds, raw.peakKb / 1024.0);
    std::printf("compressed export:   %.2f s for a %.1f s montage, peak memory %.0f MB "
                "(kel and its ffmpeg; target < 300 MB)\n",
                compressed.seconds, compressedLength, compressed.peakKb / 1024.0);
    std::printf("ffmpeg overlay + H.264 (default preset): %.2f s, peak memory %.0f MB\n",
                reference.seconds, reference.peakKb / 1024.0);
    std::printf("compressed export / ffmpeg command: %.2f (target <= 1.0)\n",
                compressed.seconds / reference.seconds);

    const double gapRaw = longestGapMs(project, student, false);
    const double gapCompressed = longestGapMs(project, student, true);
    std::printf("longest event-loop pause during an export from the window: %.0f ms "
                "uncompressed, %.0f ms compressed (target < 100 ms)\n",
                gapRaw, gapCompressed);
    return 0;
}
