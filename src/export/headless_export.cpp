#include "headless_export.h"

#include "common/command_line.h"
#include "export/export_files.h"
#include "export/export_settings.h"
#include "export/montage_renderer.h"
#include "project/project_file.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <atomic>
#include <csignal>
#include <cstring>

namespace kel {

namespace {

std::atomic<MontageRenderer*> g_renderer{nullptr};
volatile std::sig_atomic_t g_signal = 0;

extern "C" void onStopSignal(int signal) {
    g_signal = signal;
    if (MontageRenderer* r = g_renderer.load())
        r->cancel(); // an atomic store: safe in a handler
}

// For the export's length: a second signal ends the process at once.
class StopSignals {
public:
    explicit StopSignals(MontageRenderer& renderer) {
        g_signal = 0;
        g_renderer = &renderer;
#ifdef Q_OS_UNIX
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &action, &m_previous[i]);
#else
        std::signal(SIGINT, onStopSignal);
        std::signal(SIGTERM, onStopSignal);
#endif
    }
    ~StopSignals() {
#ifdef Q_OS_UNIX
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &m_previous[i], nullptr);
#else
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
#endif
        g_renderer = nullptr;
    }

private:
#ifdef Q_OS_UNIX
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_previous[3];
#endif
};

// project.xml is there but cannot be read: read, it would look empty.
QString unreadableProjectFile(const QString& projectDir) {
    const QFileInfo info(ProjectFile(projectDir).path());
    if (!info.exists())
        return QString();
    QString why;
    QFile file(info.absoluteFilePath());
    if (!info.isFile())
        why = QStringLiteral("ce n'est pas un fichier ordinaire");
    else if (!file.open(QIODevice::ReadOnly))
        why = QStringLiteral("accès refusé");
    else
        return QString();
    return QStringLiteral("Le fichier « %1 » ne peut pas être lu (%2). L'export est annulé et le "
                          "montage précédent est conservé.")
        .arg(QDir::toNativeSeparators(info.absoluteFilePath()), why);
}

// An argument whose bytes are not UTF-8 (a name from an older system, in Latin-1): decoded, it
// would name another file.
QString unreadableName(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        if (QFile::encodeName(QFile::decodeName(bytes)) != bytes)
            return QStringLiteral(
                       "Le nom « %1 » n'est pas écrit en UTF-8 : KEL ne peut pas le "
                       "lire. Renommez ce dossier ou ce fichier, puis relancez l'export.")
                .arg(QFile::decodeName(bytes));
    }
    return QString();
}

// Why the export cannot start (French), and its exit code; no text when it can.
struct Refusal {
    QString text;
    int code = 0;
};

// The folders and files named exist and can be read; the names are made absolute, so that "-y"
// or "pipe:x.avi" are never read as options or protocols.
Refusal checkPaths(HeadlessExportOptions& options) {
    // A relative name in a current folder that was removed meanwhile names nothing any more.
    if (QDir::currentPath().isEmpty()) {
        for (const QString& path : {options.projectDir, options.studentVideoPath})
            if (!path.isEmpty() && QDir::isRelativePath(path))
                return {QStringLiteral("Le dossier courant n'existe plus (il a été supprimé) : "
                                       "« %1 » ne peut pas y être trouvé.")
                            .arg(QDir::toNativeSeparators(path)),
                        kExportFailedExit};
    }
    if (!options.projectDir.isEmpty())
        options.projectDir = QFileInfo(options.projectDir).absoluteFilePath();
    if (!options.studentVideoPath.isEmpty())
        options.studentVideoPath = QFileInfo(options.studentVideoPath).absoluteFilePath();
    if (options.projectDir.isEmpty() || !QFileInfo(options.projectDir).isDir())
        return {QStringLiteral("Le répertoire de projet « %1 » n'existe pas.")
                    .arg(QDir::toNativeSeparators(options.projectDir)),
                kUsageErrorExit};
    if (!QFileInfo(options.projectDir).isReadable())
        return {QStringLiteral("Le répertoire de projet « %1 » ne peut pas être lu (accès "
                               "refusé).")
                    .arg(QDir::toNativeSeparators(options.projectDir)),
                kExportFailedExit};
    if (options.studentVideoPath.isEmpty() || !QFileInfo(options.studentVideoPath).isFile())
        return {QStringLiteral("La vidéo « %1 » est introuvable.")
                    .arg(QDir::toNativeSeparators(options.studentVideoPath)),
                kUsageErrorExit};
    if (!options.resolution.isEmpty() && resolutionFromName(options.resolution) == Resolution::None)
        return {QStringLiteral("Résolution inconnue « %1 » : grande, moyenne ou faible.")
                    .arg(options.resolution),
                kUsageErrorExit};
    if (options.inset > 99)
        return {QStringLiteral("La taille des annotations va de 0 à 99."), kUsageErrorExit};
    return {};
}

// The montage the options describe, from what the project folder holds.
Refusal planJob(const HeadlessExportOptions& options, MontageJob* job) {
    removeStaleExportFiles(options.projectDir);
    if (const QString why = unreadableProjectFile(options.projectDir); !why.isEmpty())
        return {why, kExportFailedExit};
    const QStringList files = ProjectFile::listAnnotationFiles(options.projectDir);
    if (files.isEmpty())
        return {QStringLiteral("Aucune annotation n'est présente dans le répertoire de votre "
                               "projet"),
                kExportFailedExit};
    const int v = qMax(0, options.inset);
    job->studentVideoPath = options.studentVideoPath;
    job->projectDir = options.projectDir;
    job->geometry = montageGeometry(resolutionFromName(options.resolution), options.inset >= 0,
                                    largeInsetTop(v), largeInsetWidth(v), largeInsetHeight(v));
    job->insertions =
        planInsertions(options.projectDir, ProjectFile(options.projectDir).read().entries, files);
    job->compress = options.compress;
    job->format = options.format;
    job->hd = options.hd;
    layoutFromName(options.layout, &job->layout);
    job->ffmpegProgram = options.ffmpegProgram;
    return {montageRefusal(options.projectDir, files, job->insertions), kExportFailedExit};
}

// Renders with the progress on `err`, stopped by SIGINT, SIGTERM and SIGHUP.
Refusal render(MontageRenderer& renderer, QTextStream& err) {
    int shown = -1;
    renderer.setProgressCallback([&err, &shown](int permille) {
        const int percent = permille / 10;
        if (percent / 5 == shown / 5 && percent != 100)
            return;
        shown = percent;
        err << QStringLiteral("Progression : %1 %").arg(percent) << Qt::endl;
    });
    MontageRenderer::Outcome outcome;
    int signal = 0;
    {
        StopSignals stop(renderer);
        outcome = renderer.run();
        signal = g_signal;
    }
    if (outcome == MontageRenderer::Outcome::Succeeded)
        return {}; // a signal that came once the montage had its name stopped nothing
    if (signal != 0)
        return {QStringLiteral("Export interrompu : le montage commencé est supprimé."),
                128 + signal};
    return {renderer.errorMessage().isEmpty() ? QStringLiteral("Export interrompu.")
                                              : renderer.errorMessage(),
            kExportFailedExit};
}

} // namespace

int runHeadlessExport(const HeadlessExportOptions& given, QTextStream& out, QTextStream& err) {
    HeadlessExportOptions options = given;
    MontageJob job;
    Refusal refusal = checkPaths(options);
    if (refusal.text.isEmpty())
        refusal = planJob(options, &job);
    if (!refusal.text.isEmpty()) {
        err << refusal.text << Qt::endl;
        return refusal.code;
    }
    MontageRenderer renderer(job);
    // Asked for by name, an MP4 is never quietly replaced by an AVI.
    if (renderer.encoderMissing() && options.format == QLatin1String("mp4")) {
        err << QStringLiteral("ffmpeg n'est pas installé : le montage ne peut pas être produit au "
                              "format mp4. L'export est annulé.")
            << Qt::endl;
        return kExportFailedExit;
    }
    if (renderer.encoderMissing())
        err << QStringLiteral("ffmpeg n'est pas installé. La vidéo ne sera pas compressée.")
            << Qt::endl;
    refusal = render(renderer, err);
    if (!refusal.text.isEmpty()) {
        err << refusal.text << Qt::endl;
        return refusal.code;
    }
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
                      QStringLiteral("Résolution du montage : grande, moyenne, faible, ou hd "
                                     "(mp4, par défaut)."),
                      QStringLiteral("RESOLUTION")});
    parser.addOption({QStringLiteral("inset"), QStringLiteral("Taille des annotations, de 0 à 99."),
                      QStringLiteral("TAILLE")});
    parser.addOption(
        {QStringLiteral("compress"), QStringLiteral("Compresse le montage (H.264, montage.avi).")});
    parser.addOption({QStringLiteral("format"),
                      QStringLiteral("Format du montage : avi (par défaut) ou mp4 (compressé)."),
                      QStringLiteral("FORMAT")});
    parser.addOption({QStringLiteral("layout"),
                      QStringLiteral("Place des annotations dans le mp4 : incrustation, grande ou "
                                     "cote (par défaut)."),
                      QStringLiteral("DISPOSITION")});
}

// The options of the command line; a usage error's text when one is wrong.
QString readOptions(const QCommandLineParser& parser, HeadlessExportOptions* options) {
    options->projectDir = parser.value(QStringLiteral("export"));
    options->studentVideoPath = parser.value(QStringLiteral("video"));
    options->resolution = parser.value(QStringLiteral("resolution"));
    options->compress = parser.isSet(QStringLiteral("compress"));
    if (parser.isSet(QStringLiteral("format"))) {
        options->format = parser.value(QStringLiteral("format")).toLower();
        if (options->format != QLatin1String("avi") && options->format != QLatin1String("mp4"))
            return QStringLiteral("Format inconnu « %1 » : avi ou mp4.")
                .arg(parser.value(QStringLiteral("format")));
    }
    // The MP4 is the students' film: hd and side by side unless asked otherwise.
    const bool mp4 = options->format == QLatin1String("mp4");
    if (options->resolution.trimmed().toLower() == QLatin1String("hd") ||
        (mp4 && !parser.isSet(QStringLiteral("resolution")))) {
        if (!mp4)
            return QStringLiteral("La résolution hd est réservée au format mp4.");
        options->hd = true;
        options->resolution = QStringLiteral("grande"); // its inset, grown to hd
    } else if (!options->resolution.isEmpty() &&
               resolutionFromName(options->resolution) == Resolution::None) {
        return QStringLiteral("Résolution inconnue « %1 » : grande, moyenne, faible ou hd.")
            .arg(options->resolution);
    }
    options->layout = mp4 ? QStringLiteral("cote") : QString();
    if (parser.isSet(QStringLiteral("layout"))) {
        MontageLayout layout;
        if (!mp4)
            return QStringLiteral("La disposition des annotations est réservée au format mp4.");
        options->layout = parser.value(QStringLiteral("layout"));
        if (!layoutFromName(options->layout, &layout))
            return QStringLiteral("Disposition inconnue « %1 » : incrustation, grande ou cote.")
                .arg(options->layout);
    }
    if (parser.isSet(QStringLiteral("inset"))) {
        bool ok = false;
        options->inset = parser.value(QStringLiteral("inset")).toInt(&ok);
        if (!ok || options->inset < 0 || options->inset > 99)
            return QStringLiteral("La taille des annotations doit être un entier de 0 à 99.");
    }
    return QString();
}

int headlessExportMain(int argc, char* argv[]) {
#ifdef Q_OS_UNIX
    // A reader that went (a script's "| head") or a file size limit must not end the process
    // with its temporary file left: the write fails and is reported instead.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // No display is needed: the caption is drawn into images only.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("KEL"));
    // The renderer's failure is printed once, in French, below; not its log line too.
    QLoggingCategory::setFilterRules(QStringLiteral("kel.export.montage.warning=false"));
    QCommandLineParser parser;
    addHeadlessExportOptions(parser);
    // Accepted here so that a command line valid for the window stays valid.
    parser.addOption(cameraOption());
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (const QString why = unreadableName(argc, argv); !why.isEmpty()) {
        err << why << Qt::endl;
        return kExportFailedExit;
    }
    auto usageError = [&err](const QString& text) {
        err << text << Qt::endl << QStringLiteral("Voir kel --help.") << Qt::endl;
        return kUsageErrorExit;
    };
    if (!parser.parse(app.arguments()))
        return usageError(usageErrorText(parser, parser.unknownOptionNames()));
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("Argument inattendu : « %1 ».")
                              .arg(parser.positionalArguments().constFirst()));
    HeadlessExportOptions options;
    if (const QString why = readOptions(parser, &options); !why.isEmpty())
        return usageError(why);
    if (options.studentVideoPath.isEmpty())
        return usageError(QStringLiteral("Indiquez la vidéo de l'élève avec --video."));
    return runHeadlessExport(options, out, err);
}

} // namespace kel
