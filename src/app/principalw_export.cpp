// The main window's export command and progress display.
#include "app/globals.h"
#include "app/principalw.h"
#include "common/dialogs.h"
#include "export/export_window.h"
#include "export/montage_renderer.h"
#include "export/montage_window.h"
#include "project/project_session.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <opencv2/videoio.hpp>

namespace kel {

void PrincipalW::exporter() {
    if (studentVideoPath.isEmpty()) {
        dialogs().plainBox(QStringLiteral("Veuillez ouvrir la video à annoter."));
        return;
    }
    // Only while a recorded annotation still waits for its transcoding or is being transcoded:
    // its file is about to be replaced.
    const bool transcoding = session->hasAwaitingCompression() || isTranscoding();
    if (session->count() > 0 && transcoding) {
        dialogs().plainBox(QStringLiteral("Traitement annotation(s) en cours. Veuillez relancer "
                                          "l'export dans quelques secondes."));
        return;
    }
    if (session->count() == 0) {
        dialogs().plainBox(
            QStringLiteral("Export annulé, aucune annotation n'est présente dans votre projet."));
        return;
    }
    // Two montages would write the same files.
    if (exportWindow && exportWindow->isRendering()) {
        dialogs().plainBox(QStringLiteral("Un export est déjà en cours. Veuillez attendre sa fin "
                                          "avant d'en lancer un autre."));
        return;
    }

    if (!bAnnulerExport) {
        bAnnulerExport = new QPushButton(QStringLiteral("×"), this);
        bAnnulerExport->setGeometry(953, 23, 20, 20);
        bAnnulerExport->setToolTip(QStringLiteral("Annuler l'export"));
        bAnnulerExport->setAccessibleName(QStringLiteral("Annuler l'export"));
        connect(bAnnulerExport, &QPushButton::clicked, this, &PrincipalW::annulerExport);
    }
    bAnnulerExport->hide();

    exportLaunched = true;
    progressBar->setRange(0, 100);
    connect(progressTimer, &QTimer::timeout, this, &PrincipalW::timerProgressBar,
            Qt::UniqueConnection);
    progressTimer->start(1000);
    stopPreview();
    Export* previous = exportWindow;
    exportWindow = new Export(session->dir(), studentVideoPath);
    if (previous)
        previous->deleteLater();
    progressCount = 1;
    Export* started = exportWindow;
    connect(started, &Export::montageStarted, this, [this, started] {
        bAnnulerExport->setEnabled(true);
        bAnnulerExport->show();
        // The end, a cancel above all, shows at once rather than at the next tick.
        Mixing* montage = started->montage();
        const auto ended = [this, montage](bool succeeded) {
            progressTimer->stop();
            progressBar->setValue(succeeded ? 100 : 0);
            bAnnulerExport->hide();
            startPreview();
            if (succeeded)
                showExportResult(montage->outputPath);
        };
        if (montage->isRendering())
            connect(montage, &Mixing::exportEnded, this, ended);
        else // refused before it started
            ended(false);
    });
}

void PrincipalW::annulerExport() {
    if (!exportWindow || !exportWindow->isRendering())
        return;
    if (!dialogs().platformBox(QStringLiteral("Exporter"),
                               QStringLiteral("Voulez-vous annuler l'export en cours ? Le montage "
                                              "commencé ne sera pas enregistré et le montage "
                                              "précédent sera conservé."),
                               Dialogs::Icon::Question))
        return;
    // The render may have ended while the question was shown.
    if (!exportWindow || !exportWindow->isRendering())
        return;
    bAnnulerExport->setEnabled(false);
    // Without waiting: the render thread stops ffmpeg and removes its files, then reports.
    exportWindow->montage()->requestCancel();
}

void PrincipalW::timerProgressBar() {
    const Mixing* montage = exportWindow ? exportWindow->montage() : nullptr;
    if (!montage || !montage->isRendering())
        return;
    // 100 is for the end, which exportEnded shows.
    progressCount = qMin(qMax(progressCount, montage->progressPercent()), 99);
    progressBar->setValue(progressCount);
}

void PrincipalW::showExportResult(const QString& montagePath) {
    const QFileInfo info(montagePath);
    cv::VideoCapture capture(QFile::encodeName(montagePath).toStdString(), cv::CAP_FFMPEG);
    const double fps = capture.get(cv::CAP_PROP_FPS);
    const int seconds = fps > 0 ? int(capture.get(cv::CAP_PROP_FRAME_COUNT) / fps + 0.5) : 0;
    capture.release();
    const QLocale french(QLocale::French);
    const QString text = QStringLiteral("Le montage est prêt :\r\n%1\r\n%2 Mo, durée %3:%4.")
                             .arg(QDir::toNativeSeparators(info.absoluteFilePath()),
                                  french.toString(info.size() / 1e6, 'f', 1))
                             .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                             .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    const int action =
        dialogs().actions(QStringLiteral("Exporter"), text,
                          {QStringLiteral("Ouvrir le dossier"), QStringLiteral("Lire le montage")});
    if (action == 0)
        QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
    else if (action == 1)
        QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

void PrincipalW::cleanUpExportAtQuit() {
    if (!exportWindow)
        return;
    Mixing* montage = exportWindow->montage();
    if (montage)
        montage->cancel();
    const bool compressed = exportWindow->cbCompresserMontage->isChecked() ||
                            exportWindow->chosenFormat() == QLatin1String("mp4");
    if (!exportLaunched || !compressed)
        return;
    // Only once the compressed montage has replaced it: after a cancelled or failed compressed
    // export, or without ffmpeg, the uncompressed montage may be the only complete one.
    if (!montage || !montage->hasSucceeded() || montage->fellBackToUncompressed())
        return;
    QFile::remove(QDir(exportWindow->projectDir).filePath(MontageRenderer::uncompressedName()));
}

} // namespace kel
