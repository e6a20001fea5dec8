#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QTranslator>

#include <cstdio>

#ifndef KEL_VERSION
#define KEL_VERSION "0"
#endif

namespace kel {

namespace {

// The parser's texts are looked up through the translation system under its class name; Debian
// ships no French catalogue for them in the base packages, so they are given here.
class CommandLineFrench : public QTranslator {
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* source, const char*, int) const override {
        if (qstrcmp(context, "QCommandLineParser") != 0)
            return QString();
        static const QHash<QByteArray, QString> french{
            {"Usage: %1", QStringLiteral("Utilisation : %1")},
            {"Options:", QStringLiteral("Options :")},
            {"Arguments:", QStringLiteral("Arguments :")},
            {"[options]", QStringLiteral("[options]")},
            {"Displays help on commandline options.", QStringLiteral("Affiche cette aide.")},
            {"Displays help including Qt specific options.", QStringLiteral("Affiche cette aide.")},
            {"Displays version information.", QStringLiteral("Affiche la version de KEL.")},
            {"Unknown option '%1'.", QStringLiteral("Option inconnue : « %1 ».")},
            {"Unknown options: %1.", QStringLiteral("Options inconnues : %1.")},
            {"Missing value after '%1'.", QStringLiteral("Il manque une valeur après « %1 ».")},
            {"Unexpected value after '%1'.",
             QStringLiteral("L'option « %1 » ne prend pas de valeur.")},
        };
        return french.value(QByteArray(source));
    }
};

void print(const QString& text, FILE* stream = stdout) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The toolkit's own options, which the window's application object takes for itself.
bool isToolkitOption(const QString& name) {
    static const QStringList names{QStringLiteral("platform"),
                                   QStringLiteral("platformpluginpath"),
                                   QStringLiteral("platformtheme"),
                                   QStringLiteral("plugin"),
                                   QStringLiteral("qmljsdebugger"),
                                   QStringLiteral("qwindowgeometry"),
                                   QStringLiteral("qwindowicon"),
                                   QStringLiteral("qwindowtitle"),
                                   QStringLiteral("reverse"),
                                   QStringLiteral("session"),
                                   QStringLiteral("display"),
                                   QStringLiteral("geometry"),
                                   QStringLiteral("style"),
                                   QStringLiteral("stylesheet"),
                                   QStringLiteral("widgetcount"),
                                   QStringLiteral("title"),
                                   QStringLiteral("name"),
                                   QStringLiteral("visual"),
                                   QStringLiteral("nograb"),
                                   QStringLiteral("dograb"),
                                   QStringLiteral("sync"),
                                   QStringLiteral("fn"),
                                   QStringLiteral("font"),
                                   QStringLiteral("bg"),
                                   QStringLiteral("fg"),
                                   QStringLiteral("btn"),
                                   QStringLiteral("im"),
                                   QStringLiteral("inputstyle")};
    return names.contains(name);
}

} // namespace

QString versionText() {
    return QStringLiteral("KEL " KEL_VERSION);
}

QString programDescription() {
    return QStringLiteral(
        "KEL : annotation vidéo pour l'enseignement de la langue des signes française.\n"
        "Sans option, KEL ouvre sa fenêtre principale.\n"
        "Avec --export, il produit le montage d'un projet sans ouvrir de fenêtre ; il se "
        "termine alors avec le code 0 (montage écrit), 1 (export impossible), 2 (ligne de "
        "commande incorrecte) ou 128 + n (arrêt par le signal n).");
}

QCommandLineOption cameraOption() {
    return QCommandLineOption(QStringLiteral("camera"),
                              QStringLiteral("Caméra : index, /dev/videoN ou fichier vidéo."),
                              QStringLiteral("SOURCE"));
}

QString usageErrorText(const QCommandLineParser& parser, const QStringList& unknownOptions) {
    if (!unknownOptions.isEmpty())
        return QStringLiteral("Option inconnue : %1.")
            .arg(unknownOptions.join(QStringLiteral(", ")));
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'"));
    static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'"));
    const QString text = parser.errorText();
    if (const auto m = missing.match(text); m.hasMatch())
        return QStringLiteral("Valeur manquante après « %1 ».").arg(m.captured(1));
    if (const auto m = unexpected.match(text); m.hasMatch())
        return QStringLiteral("L'option « %1 » ne prend pas de valeur.").arg(m.captured(1));
    return QStringLiteral("Ligne de commande incorrecte : %1").arg(text);
}

int answerBeforeDisplay(int argc, char* argv[], void (*addOptions)(QCommandLineParser&),
                        QString* camera) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(programDescription());
    // "-platform" as the toolkit reads it, not as eight one-letter options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Our own options rather than the parser's: its --help-all lists the toolkit's options, in
    // English.
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
        QStringLiteral("Affiche cette aide."));
    QCommandLineOption helpAll(QStringLiteral("help-all"));
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Affiche la version de KEL."));
    parser.addOption(help);
    parser.addOption(helpAll);
    parser.addOption(version);
    const QCommandLineOption cameraSource = cameraOption();
    parser.addOption(cameraSource);
    if (addOptions)
        addOptions(parser);
    const bool parsed = parser.parse(arguments);
    const bool helpAsked = parser.isSet(help) || parser.isSet(helpAll);
    if (helpAsked) {
        // The help text names the program from the application object, which needs no display.
        QCoreApplication app(argc, argv);
        CommandLineFrench french;
        QCoreApplication::installTranslator(&french);
        print(parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        print(versionText() + QLatin1Char('\n'));
        return 0;
    }
    // An export answers its own command line, where the toolkit's options mean nothing.
    if (parser.optionNames().contains(QStringLiteral("export")))
        return -1;
    QStringList unknown = parser.unknownOptionNames();
    unknown.removeIf(isToolkitOption);
    if (!unknown.isEmpty() || (!parsed && parser.unknownOptionNames().isEmpty())) {
        print(usageErrorText(parser, unknown) + QStringLiteral("\nVoir kel --help.\n"), stderr);
        return kUsageErrorExit;
    }
    // The window needs a screen; the toolkit would stop with a message in English.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        print(QStringLiteral("Aucun écran n'est disponible : la fenêtre de KEL ne peut pas "
                             "s'ouvrir.\nPour produire un montage sans écran : kel --export "
                             "PROJET --video VIDEO (voir kel --help).\n"),
              stderr);
        return 1;
    }
    if (camera)
        *camera = parser.value(cameraSource);
    return -1;
}

} // namespace kel
