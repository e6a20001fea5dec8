#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace kel {

// "KEL 2.0", from the build's project version.
QString versionText();
// The one-paragraph description that opens the help.
QString programDescription();
// --camera SOURCE, for the main window.
QCommandLineOption cameraOption();

// Exit code of a wrong command line, in both modes.
constexpr int kUsageErrorExit = 2;

// Answers before any window or display exists: --help (-h, -?, --help-all) and --version (-v) in
// French on standard output; for the window, an unknown option (not the toolkit's) or a missing
// value with exit code 2, and the lack of a screen (or an X display that nothing serves) with 1, in
// French on standard error. `addOptions` adds the options that the help lists besides --camera.
// Returns the exit code, or -1 to go on with `camera` set to the window's --camera value.
int answerBeforeDisplay(int argc, char* argv[], void (*addOptions)(QCommandLineParser&),
                        QString* camera = nullptr);

// The French reason of a command line that `parser` refused; `unknownOptions` those to name.
QString usageErrorText(const QCommandLineParser& parser, const QStringList& unknownOptions);

} // namespace kel
