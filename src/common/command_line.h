#pragma once

#include <QCommandLineOption>
#include <QString>

class QCommandLineParser;
class QObject;
class QTranslator;

namespace kel {

// "KEL 2.0", from the build's project version.
QString versionText();
// The one-paragraph description that opens the help.
QString programDescription();
// --camera SOURCE, for the main window.
QCommandLineOption cameraOption();

// Answers --help (-h, -?, --help-all) and --version (-v) in French on standard output, before any
// window or display exists. `addOptions` adds the options that the help lists besides --camera.
// Returns the exit code when the command line asked for one of them, -1 otherwise.
int answerHelpOrVersion(int argc, char* argv[], void (*addOptions)(QCommandLineParser&));

// French for the command-line parser's own words ("Usage", its error messages), to install on
// the application object before parsing.
QTranslator* commandLineTranslator(QObject* parent);

} // namespace kel
