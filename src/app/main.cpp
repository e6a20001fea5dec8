#include "app/principalw.h"
#include "common/command_line.h"
#include "common/quit_signals.h"
#include "export/headless_export.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char* argv[]) {
    // Help, version and a wrong command line need no display, in either mode.
    QString camera;
    if (const int code =
            kel::answerBeforeDisplay(argc, argv, kel::addHeadlessExportOptions, &camera);
        code >= 0)
        return code;
    // An export from the command line opens no window and needs no display.
    if (kel::isHeadlessExport(argc, argv))
        return kel::headlessExportMain(argc, argv);
    // On X11, the media back end's GL video path lets only one video play at a time, and the
    // student's video and an annotation must play together.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KEL"));
    QApplication::setQuitOnLastWindowClosed(true);

    // The toolkit's own dialogs and buttons in French.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);
    // A window ended by a signal stops its export and removes the file it had begun.
    kel::quitOnSignals();
    kel::PrincipalW window(camera);
    window.setWindowModality(Qt::WindowModal);
    window.show();
    return app.exec();
}
