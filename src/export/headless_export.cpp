#include "headless_export.h"

#include "export/export_settings.h"
#include "export/montage_renderer.h"
#include "project/project_file.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace kel {

int runHeadlessExport(const HeadlessExportOptions& options, QTextStream& out, QTextStream& err) {
    auto refuse = [&err](const QString& reason) {
        err << reason << Qt::endl;
        return 1;
    };
    if (options.projectDir.isEmpty() || !QFileInfo(options.projectDir).isDir())
        return refuse(
            QStringLiteral("Le répertoire de projet « %1 » n'existe pas.").arg(options.projectDir));
    if (options.studentVideoPath.isEmpty() || !QFileInfo(options.studentVideoPath).isFile())
        return refuse(
            QStringLiteral("La vidéo « %1 » est introuvable.").arg(options.studentVideoPath));
    const Resolution resolution = resolutionFromName(options.resolution);
    if (!options.resolution.isEmpty() && resolution == Resolution::None)
        return refuse(QStringLiteral("Résolution inconnue « %1 » : grande, moyenne ou faible.")
                          .arg(options.resolution));
    if (options.inset > 99)
        return refuse(QStringLiteral("La taille des annotations va de 0 à 99."));

    const QStringList files = ProjectFile::listAnnotationFiles(options.projectDir);
    if (files.isEmpty())
        return refuse(
            QStringLiteral("Aucune annotation n'est présente dans le répertoire de votre projet"));
    const ProjectFile project(options.projectDir);
    if (project.isDamaged())
        err << QStringLiteral("Le fichier « %1 » est illisible : le montage ne contiendra aucune "
                              "annotation.")
                   .arg(QDir::toNativeSeparators(project.path()))
            << Qt::endl;

    const int v = qMax(0, options.inset);
    MontageJob job;
    job.studentVideoPath = options.studentVideoPath;
    job.projectDir = options.projectDir;
    job.geometry = montageGeometry(resolution, options.inset >= 0, largeInsetTop(v),
                                   largeInsetWidth(v), largeInsetHeight(v));
    job.insertions = planInsertions(options.projectDir, files, project.loadAnnotationSchedule());
    job.compress = options.compress;
    job.ffmpegProgram = options.ffmpegProgram;

    MontageRenderer renderer(job);
    if (renderer.encoderMissing())
        err << QStringLiteral("ffmpeg n'est pas installé. La vidéo ne sera pas compressée.")
            << Qt::endl;
    int shown = -1;
    renderer.setProgressCallback([&err, &shown](int permille) {
        const int percent = permille / 10;
        if (percent / 5 == shown / 5 && percent != 100)
            return;
        shown = percent;
        err << QStringLiteral("Progression : %1 %").arg(percent) << Qt::endl;
    });
    if (renderer.run() != MontageRenderer::Outcome::Succeeded)
        return refuse(renderer.errorMessage().isEmpty() ? QStringLiteral("Export interrompu.")
                                                        : renderer.errorMessage());
    out << QDir::toNativeSeparators(renderer.resultPath()) << Qt::endl;
    return 0;
}

bool isHeadlessExport(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--export") == 0 || std::strncmp(argv[i], "--export=", 9) == 0)
            return true;
    }
    return false;
}

void addHeadlessExportOptions(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("export"),
                      QStringLiteral("Exporte le montage du projet sans fenêtre."),
                      QStringLiteral("PROJET")});
    parser.addOption({QStringLiteral("video"), QStringLiteral("Vidéo de l'élève (avec --export)."),
                      QStringLiteral("VIDEO")});
    parser.addOption({QStringLiteral("resolution"),
                      QStringLiteral("Résolution du montage : grande, moyenne ou faible."),
                      QStringLiteral("RESOLUTION")});
    parser.addOption({QStringLiteral("inset"), QStringLiteral("Taille des annotations, de 0 à 99."),
                      QStringLiteral("TAILLE")});
    parser.addOption(
        {QStringLiteral("compress"), QStringLiteral("Compresse le montage (H.264, montage.avi).")});
}

int headlessExportMain(int argc, char* argv[]) {
    // No display is needed: the caption is drawn into images only.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("KEL"));
    QCommandLineParser parser;
    parser.addHelpOption();
    addHeadlessExportOptions(parser);
    // Accepted here so that a command line valid for the window stays valid.
    parser.addOption({QStringLiteral("camera"), QString(), QStringLiteral("SOURCE")});
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!parser.parse(app.arguments())) {
        err << parser.errorText() << Qt::endl;
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return 0;
    }
    HeadlessExportOptions options;
    options.projectDir = parser.value(QStringLiteral("export"));
    options.studentVideoPath = parser.value(QStringLiteral("video"));
    options.resolution = parser.value(QStringLiteral("resolution"));
    options.compress = parser.isSet(QStringLiteral("compress"));
    if (parser.isSet(QStringLiteral("inset"))) {
        bool ok = false;
        options.inset = parser.value(QStringLiteral("inset")).toInt(&ok);
        if (!ok || options.inset < 0 || options.inset > 99) {
            err << QStringLiteral("La taille des annotations doit être un entier de 0 à 99.")
                << Qt::endl;
            return 2;
        }
    }
    if (options.studentVideoPath.isEmpty()) {
        err << QStringLiteral("Indiquez la vidéo de l'élève avec --video.") << Qt::endl;
        return 2;
    }
    return runHeadlessExport(options, out, err);
}

} // namespace kel
