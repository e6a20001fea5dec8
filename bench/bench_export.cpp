// Export speed and memory: the headless export of a 60 s, 640 x 480 student video with three 5 s
// annotations, uncompressed and compressed, against a plain ffmpeg command that overlays the same
// annotations and encodes H.264 at the same size and bit rate, on busy content (test patterns) and
// easy content (a still grey room, plain annotations), timed alternately; the compressed montage's
// SSIM against the uncompressed one and against the composed frames that the export compresses;
// peak memory for a 60 s and a 10 min student video. Also the longest pause of the window's event
// loop while the same montage renders behind the export window.
//
// The students' film: the hd, side-by-side MP4 of a 60 s 720p student video with three 5 s
// comments, against an ffmpeg command that composes the same film (trim, the student's still
// picture padded beside each comment scaled and padded, concat, the caption, x264 at KEL's preset
// and bit rate), timed alternately; the SSIM of each against the frames KEL composed.
//
// Usage: bench_export [work directory]   (default: a temporary directory)
// BENCH_ROUNDS=n (3 by default) timed runs of each; BENCH_KEL=path another kel; BENCH_NO_WINDOW=1
// skips the window's pauses; BENCH_ONLY=film measures the film alone.
#include "export/export_controller.h"
#include "export/export_settings.h"
#include "export/export_window.h"
#include "project/project_session.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
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

// BENCH_KEL names another build of kel to measure (an earlier one, say).
QString kelProgram() {
    return qEnvironmentVariableIsSet("BENCH_KEL") ? qEnvironmentVariable("BENCH_KEL")
                                                  : QStringLiteral(KEL_EXECUTABLE);
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

// Mean SSIM of a montage against a reference, at the compressed montage's 25 fps, as ffmpeg
// prints it: "0.996240 (24.244264)", the second in decibels. `referenceInput` are ffmpeg's input
// arguments for the reference. In `rgb`, both are compared as BGR pixels, the compressed montage
// turned to RGB by the conversion that made the uncompressed one from the composed frames (as a
// player shows it); otherwise in 4:2:0, as the ssim filter does by default.
QString ssim(const QString& compressed, const QStringList& referenceInput, bool rgb = false) {
    const QString graph =
        rgb ? "[0:v]format=bgr24[m];[1:v]fps=25,format=bgr24[r];[m][r]" : "[1:v]fps=25[r];[0:v][r]";
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("ffmpeg", QStringList{"-hide_banner", "-nostats", "-i", compressed} + referenceInput +
                          QStringList{"-lavfi", graph + "ssim=shortest=1", "-f", "null", "-"});
    p.waitForFinished(-1);
    const QString out = QString::fromLocal8Bit(p.readAll());
    const int at = out.lastIndexOf(" All:");
    return at < 0 ? QStringLiteral("?") : out.mid(at + 5).section('\n', 0, 0).trimmed();
}

// The export once more through a stand-in ffmpeg that keeps what the pipe carries (the composed
// 4:2:0 frames, before compression) and hands it on to the real one; its other runs (the film's
// chapters) go straight through.
bool captureComposedFrames(const QStringList& exportCommand, const QString& dir,
                           const QString& feed) {
    const QString bin = QDir(dir).filePath("capture-bin");
    QDir().mkpath(bin);
    QFile script(QDir(bin).filePath("ffmpeg"));
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write(
        QStringLiteral("#!/bin/sh\nexport PATH='%2'\ncase \"$*\" in *rawvideo*) tee '%1' | "
                       "exec ffmpeg \"$@\";; *) exec ffmpeg \"$@\";; esac\n")
            .arg(feed, qEnvironmentVariable("PATH"))
            .toLocal8Bit());
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    QProcess kel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", bin + ':' + env.value("PATH"));
    kel.setProcessEnvironment(env);
    kel.start(exportCommand.first(), exportCommand.mid(1));
    return kel.waitForFinished(-1) && kel.exitCode() == 0;
}

// Writes the project file that places one annotation at each of these seconds.
void writeProject(const QString& project, const QList<int>& seconds) {
    QString xml = "<?xml version='1.0' encoding='UTF-8'?>\n<ANNOTATION>\n";
    for (int i = 0; i < seconds.size(); ++i)
        xml += QStringLiteral(" <Numero Value=\"%1\">\n  <FramePosition Value=\"%2\"/>\n"
                              "  <Type Value=\"0\"/>\n </Numero>\n")
                   .arg(i + 1)
                   .arg(seconds[i] * 25);
    xml += "</ANNOTATION>\n";
    QFile xmlFile(QDir(project).filePath("project.xml"));
    xmlFile.open(QIODevice::WriteOnly);
    xmlFile.write(xml.toUtf8());
}

QString annotationPath(const QString& project, int i) {
    return QDir(project).filePath(QStringLiteral("annotation%1.avi").arg(i + 1));
}

// The same inputs through ffmpeg alone: the annotations overlaid in the same inset, H.264 at the
// same bit rate with x264's default preset.
QStringList overlayCommand(const QString& student, const QString& project, const QList<int>& at,
                           const QString& out) {
    QString graph;
    QString last = "0:v";
    for (int i = 0; i < at.size(); ++i) {
        graph += QStringLiteral("[%1:v]scale=170:150,setpts=PTS-STARTPTS+%2/TB[a%1];")
                     .arg(i + 1)
                     .arg(at[i]);
        graph +=
            QStringLiteral("[%1][a%2]overlay=0:330:eof_action=pass[v%2];").arg(last).arg(i + 1);
        last = QStringLiteral("v%1").arg(i + 1);
    }
    graph.chop(1);
    QStringList command{"ffmpeg", "-y", "-loglevel", "error", "-i", student};
    for (int i = 0; i < at.size(); ++i)
        command << "-i" << annotationPath(project, i);
    command << "-filter_complex" << graph << "-map" << QStringLiteral("[%1]").arg(last) << "-an"
            << "-c:v"
            << "libx264"
            << "-b:v"
            << "768k"
            << "-r"
            << "25"
            << "-f"
            << "avi" << out;
    return command;
}

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

struct Content {
    const char* name;
    QStringList student;                        // ffmpeg input arguments
    std::function<QStringList(int)> annotation; // ffmpeg input arguments of the i-th
};

// One content: the compressed export and the ffmpeg command timed alternately, then the SSIM of
// the compressed montage and of today's encoder settings against the uncompressed montage.
bool benchContent(const QDir& root, const Content& c, int rounds) {
    const QDir dir(root.filePath(c.name));
    dir.mkpath("projet");
    const QString project = dir.filePath("projet");
    const QString student = dir.filePath("student.avi");
    const QList<int> at{10, 30, 50};
    if (!QFile::exists(student) &&
        !ffmpeg(c.student + QStringList{"-c:v", "mpeg4", "-q:v", "3", student}))
        return false;
    for (int i = 0; i < at.size(); ++i)
        if (!QFile::exists(annotationPath(project, i)) &&
            !ffmpeg(c.annotation(i) + QStringList{"-t", "5", "-c:v", "mpeg4", "-b:v", "1200k",
                                                  annotationPath(project, i)}))
            return false;
    writeProject(project, at);

    const QStringList exportCommand{kelProgram(), "--export",     project, "--video",
                                    student,      "--resolution", "grande"};
    const Run raw = measure(exportCommand);
    const QString uncompressed = QDir(project).filePath("VideoFinale.avi");
    const double rawLength = lengthSeconds(uncompressed);
    const QStringList overlay = overlayCommand(student, project, at, dir.filePath("overlay.avi"));
    QList<double> kel, reference;
    Run compressed;
    for (int r = 0; r < rounds; ++r) {
        compressed = measure(exportCommand + QStringList{"--compress"});
        const Run one = measure(overlay);
        if (raw.status != 0 || compressed.status != 0 || one.status != 0) {
            std::printf("%s: a run failed: export %d, compressed export %d, ffmpeg %d\n", c.name,
                        raw.status, compressed.status, one.status);
            return false;
        }
        kel << compressed.seconds;
        reference << one.seconds;
    }
    const QString montage = QDir(project).filePath("montage.avi");
    // Today's settings, given the very frames the export composed.
    const QString today = dir.filePath("today.avi");
    ffmpeg({"-i", uncompressed, "-an", "-c:v", "libx264", "-preset", "veryfast", "-bf", "0", "-b:v",
            "768k", "-pix_fmt", "yuv420p", "-r", "25", "-f", "avi", today});

    std::printf("\n== %s content ==\n", c.name);
    std::printf("uncompressed export: %.2f s for a %.1f s montage: %.1f x real time, peak memory "
                "%.0f MB\n",
                raw.seconds, rawLength, rawLength / raw.seconds, raw.peakKb / 1024.0);
    std::printf("compressed export: median %.2f s over %d runs, peak memory %.0f MB (kel and its "
                "ffmpeg)\n",
                median(kel), rounds, compressed.peakKb / 1024.0);
    std::printf("ffmpeg overlay + H.264 (default preset): median %.2f s\n", median(reference));
    std::printf("compressed export / ffmpeg command: %.2f (target <= 0.8)\n",
                median(kel) / median(reference));
    // The uncompressed montage is the composed frames turned to BGR. Compared in 4:2:0, as the
    // ssim filter does unless told, it is turned back, which costs it about 0.998 on busy content
    // (colours clipped in RGB) and favours today's settings, which encode that very conversion.
    // Compared as BGR, the compressed montage is turned to RGB as the reference was, which favours
    // ours. The composed frames, before any conversion, are the neutral reference.
    std::printf("SSIM against the uncompressed montage, as RGB: %s (today's settings: %s)\n",
                qPrintable(ssim(montage, {"-i", uncompressed}, true)),
                qPrintable(ssim(today, {"-i", uncompressed}, true)));
    std::printf(
        "SSIM against the uncompressed montage turned to 4:2:0: %s (today's settings: %s)\n",
        qPrintable(ssim(montage, {"-i", uncompressed})),
        qPrintable(ssim(today, {"-i", uncompressed})));
    const QString feed = dir.filePath("composed.yuv");
    if (captureComposedFrames(exportCommand + QStringList{"--compress"}, dir.path(), feed)) {
        const QStringList composed{"-f",      "rawvideo", "-pix_fmt", "yuv420p", "-s",
                                   "640x480", "-r",       "16",       "-i",      feed};
        std::printf("SSIM against the composed frames: %s (today's settings: %s)\n",
                    qPrintable(ssim(montage, composed)), qPrintable(ssim(today, composed)));
    }
    QFile::remove(feed);
    QFile::remove(uncompressed);
    return true;
}

// The film by ffmpeg alone: the student's parts cut from its video, each comment (4:3, fitted in
// the right half) beside the student's still picture (fitted in the left half), its caption, all
// joined and encoded as KEL encodes the film.
QStringList filmCommand(const QString& student, const QString& project, const QList<int>& at,
                        const QString& out) {
    QStringList command{"ffmpeg", "-y", "-loglevel", "error"};
    QString graph, joined;
    int input = 0;
    for (int i = 0; i <= at.size(); ++i) {
        const int from = i == 0 ? 0 : at[i - 1];
        command << "-ss" << QString::number(from);
        if (i < at.size())
            command << "-t" << QString::number(at[i] - from);
        command << "-i" << student;
        graph += QStringLiteral("[%1:v]setpts=PTS-STARTPTS[p%2];").arg(input++).arg(i);
        joined += QStringLiteral("[p%1]").arg(i);
        if (i == at.size())
            break;
        command << "-ss" << QString::number(at[i]) << "-i" << student << "-i"
                << annotationPath(project, i);
        graph += QStringLiteral("[%1:v]trim=end_frame=1,setpts=PTS-STARTPTS,scale=640:360,"
                                "pad=640:720:0:180,tpad=stop_mode=clone:stop_duration=5[st%2];"
                                "[%3:v]scale=640:480,pad=640:720:0:120,setsar=1[c%2];"
                                "[st%2][c%2]hstack,setsar=1,drawtext=text='Annotation n°%4':"
                                "x=656:y=80:fontsize=32:fontcolor=white,trim=duration=5[m%2];")
                     .arg(input)
                     .arg(i)
                     .arg(input + 1)
                     .arg(i + 1);
        input += 2;
        joined += QStringLiteral("[m%1]").arg(i);
    }
    graph += joined + QStringLiteral("concat=n=%1:v=1[out]").arg(2 * at.size() + 1);
    command << "-filter_complex" << graph << "-map"
            << "[out]"
            << "-an"
            << "-c:v"
            << "libx264"
            << "-preset"
            << "veryfast"
            << "-b:v" << QStringLiteral("%1k").arg(kel::kHdBitRate) << "-pix_fmt"
            << "yuv420p"
            << "-r"
            << "25"
            << "-movflags"
            << "+faststart" << out;
    return command;
}

// The students' film, hd and side by side, against the same film by ffmpeg alone.
bool benchFilm(const QDir& root, int rounds) {
    const QDir dir(root.filePath("film"));
    dir.mkpath("projet");
    const QString project = dir.filePath("projet");
    const QString student = dir.filePath("student720p.mp4");
    const QList<int> at{10, 30, 50};
    if (!QFile::exists(student) &&
        !ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=60", "-c:v",
                 "libx264", "-preset", "fast", "-b:v", "4M", "-pix_fmt", "yuv420p", student}))
        return false;
    for (int i = 0; i < at.size(); ++i)
        if (!QFile::exists(annotationPath(project, i)) &&
            !ffmpeg({"-f", "lavfi", "-i",
                     QStringLiteral("mandelbrot=size=640x480:rate=25:start_scale=%1").arg(i + 2),
                     "-t", "5", "-c:v", "mpeg4", "-b:v", "1200k", annotationPath(project, i)}))
            return false;
    writeProject(project, at);
    const QStringList exportCommand{kelProgram(), "--export", project, "--video",
                                    student,      "--format", "mp4"};
    const QString reference = dir.filePath("ffmpeg-film.mp4");
    const QStringList command = filmCommand(student, project, at, reference);
    QList<double> kel, other;
    for (int r = 0; r < rounds; ++r) {
        const Run one = measure(exportCommand);
        const Run two = measure(command);
        if (one.status != 0 || two.status != 0) {
            std::printf("film: a run failed: export %d, ffmpeg %d\n", one.status, two.status);
            return false;
        }
        kel << one.seconds;
        other << two.seconds;
    }
    const QString film = QDir(project).filePath("montage.mp4");
    const double length = lengthSeconds(film);
    std::printf("\n== students' film: hd, side by side, 60 s 720p video, three 5 s comments ==\n");
    std::printf(
        "kel: median %.2f s over %d runs for a %.1f s film: %.1f x real time (target >= 3)\n",
        median(kel), rounds, length, length / median(kel));
    std::printf("ffmpeg composing the same film: median %.2f s: %.1f x real time\n", median(other),
                lengthSeconds(reference) / median(other));
    std::printf("kel / ffmpeg: %.2f (target <= 1)\n", median(kel) / median(other));
    const QString feed = dir.filePath("composed.yuv");
    if (captureComposedFrames(exportCommand, dir.path(), feed)) {
        const QStringList composed{"-f",       "rawvideo", "-pix_fmt", "yuv420p", "-s",
                                   "1280x720", "-r",       "25",       "-i",      feed};
        std::printf("SSIM against the composed frames: kel %s, ffmpeg %s\n",
                    qPrintable(ssim(film, composed)), qPrintable(ssim(reference, composed)));
    }
    QFile::remove(feed);
    return true;
}

// The longest pause of the event loop while the export window's montage renders.
double longestGapMs(const QString& project, const QString& student, bool compress) {
    kel::ProjectSession session;
    session.open(project);
    kel::ExportController exports;
    exports.openSettings(session, student);
    kel::Export* e = exports.settingsWindow();
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
    QEventLoop loop;
    QObject::connect(&exports, &kel::ExportController::ended, &loop, &QEventLoop::quit);
    e->lancerExportation(); // its own duration counts as a pause too
    if (exports.isRendering())
        loop.exec();
    return double(gap);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const int rounds = qEnvironmentVariableIntValue("BENCH_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("BENCH_ROUNDS")
                           : 3;
    const QDir dir(work);
    std::printf("generating media in %s\n", qPrintable(work));

    auto lavfi = [](const QString& graph) { return QStringList{"-f", "lavfi", "-i", graph}; };
    const Content busy{"busy", lavfi("testsrc2=size=640x480:rate=25:duration=60"), [&](int i) {
                           return lavfi(QStringLiteral("mandelbrot=size=640x480:rate=25:"
                                                       "start_scale=%1")
                                            .arg(i + 2));
                       }};
    // A grey room, a small square moving about, annotations of one colour each.
    const Content easy{"easy",
                       {"-f", "lavfi", "-i", "color=c=gray:size=640x480:rate=25:duration=60", "-f",
                        "lavfi", "-i", "color=c=red:size=40x40:rate=25", "-filter_complex",
                        "[0][1]overlay=x='mod(t*90,600)':y='200+80*sin(t)':shortest=1"},
                       [&](int i) {
                           static const char* colours[] = {"navy", "darkgreen", "maroon"};
                           return lavfi(
                               QStringLiteral("color=c=%1:size=640x480:rate=25").arg(colours[i]));
                       }};
    if (!benchFilm(dir, rounds))
        return 1;
    if (qEnvironmentVariable("BENCH_ONLY") == QLatin1String("film"))
        return 0;
    const QString busyProject = QDir(dir.filePath("busy")).filePath("projet");
    const QString busyStudent = QDir(dir.filePath("busy")).filePath("student.avi");
    if (!benchContent(dir, busy, rounds) || !benchContent(dir, easy, rounds))
        return 1;

    // Memory as the student's video grows: 60 s against 10 min (a small synthetic one, quick).
    const QString longStudent = dir.filePath("student-10min.avi");
    if (!QFile::exists(longStudent) &&
        !ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=600", "-c:v", "mpeg4",
                 "-q:v", "5", longStudent}))
        return 1;
    const Run shortRun = measure({kelProgram(), "--export", busyProject, "--video", busyStudent,
                                  "--resolution", "grande", "--compress"});
    const Run longRun = measure({kelProgram(), "--export", busyProject, "--video", longStudent,
                                 "--resolution", "grande", "--compress"});
    std::printf("\npeak memory of the compressed export (kel and its ffmpeg): %.0f MB for a 60 s "
                "video, %.0f MB for a 10 min one (%.1f s)\n",
                shortRun.peakKb / 1024.0, longRun.peakKb / 1024.0, longRun.seconds);

    if (qEnvironmentVariableIsSet("BENCH_NO_WINDOW"))
        return 0;
    const double gapRaw = longestGapMs(busyProject, busyStudent, false);
    const double gapCompressed = longestGapMs(busyProject, busyStudent, true);
    std::printf("longest event-loop pause during an export from the window: %.0f ms "
                "uncompressed, %.0f ms compressed (target < 100 ms)\n",
                gapRaw, gapCompressed);
    return 0;
}
