// CPU used by KEL playing a student video (no camera, a project whose annotations stay pending)
// against a bare media player playing the same file. Each runs in its own process for the same wall
// time.
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "support/scripted_dialogs.h"

#include <QApplication>
#include <QAudioOutput>
#include <QDir>
#include <QMediaPlayer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QVideoWidget>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int runChild(const QString& mode, const QString& video, const QString& projectDir, int seconds) {
    double start = 0;
    std::unique_ptr<QMediaPlayer> player;
    std::unique_ptr<QVideoWidget> surface;
    std::unique_ptr<QAudioOutput> audio;
    std::unique_ptr<ScriptedDialogs> dialogs;
    kel::PrincipalW* window = nullptr;
    if (mode == "bare") {
        player = std::make_unique<QMediaPlayer>();
        surface = std::make_unique<QVideoWidget>();
        audio = std::make_unique<QAudioOutput>();
        audio->setMuted(true);
        surface->resize(443, 365);
        surface->show();
        player->setAudioOutput(audio.get());
        player->setVideoOutput(surface.get());
        player->setSource(QUrl::fromLocalFile(video));
        player->play();
    } else {
        dialogs = std::make_unique<ScriptedDialogs>();
        window = new kel::PrincipalW(QStringLiteral("/nonexistent/camera"));
        window->show();
        dialogs->directories.enqueue(projectDir);
        QMetaObject::invokeMethod(window, "on_bOuvrirProjet_clicked");
        dialogs->files.enqueue(video);
        QMetaObject::invokeMethod(window, "ouvrirVideoEleve");
        window->studentPlayer()->lecteur->setMuted(true);
        window->findChild<kel::VideoPlayer*>(QStringLiteral("annotationPlayer"))->setMuted(true);
    }
    start = cpuSeconds();
    QTimer::singleShot(seconds * 1000, [&] {
        std::printf("%f\n", cpuSeconds() - start);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    const int rc = QApplication::exec();
    delete window;
    return rc;
}

double measure(const QString& mode, const QString& video, const QString& dir, int seconds) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), {mode, video, dir, QString::number(seconds)});
    p.waitForFinished(seconds * 1000 + 60000);
    return p.readAllStandardOutput().trimmed().split('\n').last().toDouble();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5)
        return runChild(args[1], args[2], args[3], args[4].toInt());

    QTemporaryDir tmp;
    const QString video = QDir(tmp.path()).filePath(QStringLiteral("student.avi"));
    const QString clip = QDir(tmp.path()).filePath(QStringLiteral("clip.avi"));
    const int seconds = 15;
    const auto ffmpeg = [](const QString& src, const QString& out) {
        return QProcess::execute(QStringLiteral("ffmpeg"),
                                 {"-y", "-loglevel", "error", "-f", "lavfi", "-i", src, "-c:v",
                                  "mpeg4", "-q:v", "4", out}) == 0;
    };
    if (!ffmpeg(QStringLiteral("testsrc=size=640x480:rate=25:duration=%1").arg(seconds + 10),
                video) ||
        !ffmpeg(QStringLiteral("color=c=red:size=320x240:rate=25:duration=2"), clip)) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    const QString project = QDir(tmp.path()).filePath(QStringLiteral("projet"));
    QDir().mkpath(project);
    kel::ProjectFile file(project);
    for (int n = 1; n <= 3; ++n) {
        QFile::copy(clip, QDir(project).filePath(kel::ProjectFile::annotationFileName(n)));
        // Scheduled after the measured span: synchronisation polls all along, nothing else plays.
        file.writeAnnotationEntry(n, 0, 25 * (seconds + 2 + n));
    }

    const double bare = measure(QStringLiteral("bare"), video, project, seconds);
    const double kel = measure(QStringLiteral("kel"), video, project, seconds);
    std::printf("playing %d s of a 640x480 25 fps video (platform %s):\n", seconds,
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "xcb"
                                                     : qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("  bare media player: %.2f s CPU (%.1f %% of one core)\n", bare,
                100 * bare / seconds);
    std::printf("  KEL (project with 3 pending annotations): %.2f s CPU (%.1f %% of one core)\n",
                kel, 100 * kel / seconds);
    std::printf("  ratio KEL / bare: %.2f (target <= 1.20)\n", bare > 0 ? kel / bare : 0.0);
    return 0;
}
