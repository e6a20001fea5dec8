#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
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

void print(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

QString versionText() {
    return QStringLiteral("KEL " KEL_VERSION);
}

QString programDescription() {
    return QStringLiteral(
        "KEL : annotation vidéo pour l'enseignement de la langue des signes française.\n"
        "Sans option, KEL ouvre sa fenêtre principale.\n"
        "Avec --export, il produit le montage d'un projet sans ouvrir de fenêtre.");
}

QCommandLineOption cameraOption() {
    return QCommandLineOption(QStringLiteral("camera"),
                              QStringLiteral("Caméra : index, /dev/videoN ou fichier vidéo."),
                              QStringLiteral("SOURCE"));
}

int answerHelpOrVersion(int argc, char* argv[], void (*addOptions)(QCommandLineParser&)) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(programDescription());
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
    parser.addOption(cameraOption());
    if (addOptions)
        addOptions(parser);
    // Errors are left to the real run: the toolkit takes options of its own (-platform...).
    parser.parse(arguments);
    const bool helpAsked = parser.isSet(help) || parser.isSet(helpAll);
    if (!helpAsked && !parser.isSet(version))
        return -1;
    if (!helpAsked) {
        print(versionText() + QLatin1Char('\n'));
        return 0;
    }
    // The help text names the program from the application object, which needs no display.
    QCoreApplication app(argc, argv);
    CommandLineFrench french;
    QCoreApplication::installTranslator(&french);
    print(parser.helpText());
    return 0;
}

QTranslator* commandLineTranslator(QObject* parent) {
    return new CommandLineFrench(parent);
}

} // namespace kel
