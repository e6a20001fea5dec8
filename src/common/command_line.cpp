#include "command_line.h"
#include "common/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QTranslator>

#include <cstdio>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
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

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
// Connects to a socket within a few seconds; the socket is closed again at once.
bool reaches(int family, const sockaddr* address, socklen_t length) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return true; // nothing known against the display
    bool ok = ::connect(fd, address, length) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        ok = ::poll(&p, 1, 3000) == 1 &&
             ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    ::close(fd);
    return ok;
}

// Something listens where the X display `name` ("[host]:N[.S]") is served: the local socket of
// display N, or TCP port 6000 + N on `host`. Other forms are left to the toolkit.
bool x11DisplayAnswers(const QByteArray& name) {
    const int colon = name.lastIndexOf(':');
    if (colon < 0 || name.startsWith('/'))
        return true;
    const QByteArray host = name.left(colon);
    bool ok = false;
    const int number = name.mid(colon + 1).split('.').constFirst().toInt(&ok);
    if (!ok || number < 0 || host.contains('/'))
        return true;
    if (host.isEmpty() || host == "unix") {
        const QByteArray path = "/tmp/.X11-unix/X" + QByteArray::number(number);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        // Linux's abstract name first, as the X server offers both.
        for (const bool abstract : {true, false}) {
            std::memset(address.sun_path, 0, sizeof address.sun_path);
            std::memcpy(address.sun_path + (abstract ? 1 : 0), path.constData(),
                        size_t(path.size()));
            const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) +
                                          size_t(path.size()) + (abstract ? 0 : 1));
            if (reaches(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length))
                return true;
        }
        return false;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), QByteArray::number(6000 + number).constData(), &hints,
                      &found) != 0)
        return false;
    bool answers = false;
    for (addrinfo* a = found; a && !answers; a = a->ai_next)
        answers = reaches(a->ai_family, a->ai_addr, a->ai_addrlen);
    ::freeaddrinfo(found);
    return answers;
}
#endif

// The display the window would open, when it is an X display that nothing serves: the toolkit
// would stop the program with a message in English.
QString unservedDisplay(const QStringList& arguments) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const QByteArray display = qgetenv("DISPLAY");
    const bool wayland =
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qgetenv("XDG_SESSION_TYPE") == "wayland";
    for (const QString& a : arguments)
        if (a == QLatin1String("-platform") || a == QLatin1String("-display"))
            return QString(); // the toolkit's own choice
    if ((!platform.isEmpty() && !platform.startsWith("xcb")) || wayland || display.isEmpty() ||
        x11DisplayAnswers(display))
        return QString();
    return QString::fromLocal8Bit(display);
#else
    Q_UNUSED(arguments);
    return QString();
#endif
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
    if (const QString display = unservedDisplay(arguments); !display.isEmpty()) {
        print(QStringLiteral("L'écran « %1 » (variable DISPLAY) ne répond pas : la fenêtre de KEL "
                             "ne peut pas s'ouvrir.\nPour produire un montage sans écran : kel "
                             "--export PROJET --video VIDEO (voir kel --help).\n")
                  .arg(display),
              stderr);
        return 1;
    }
    if (camera)
        *camera = parser.value(cameraSource);
    return -1;
}

} // namespace kel
