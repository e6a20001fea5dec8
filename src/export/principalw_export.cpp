// The main window's export command and progress display.
#include "app/globals.h"
#include "app/principalw.h"
#include "common/dialogs.h"
#include "export/export_window.h"
#include "export/montage_renderer.h"
#include "export/montage_window.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QTimer>

namespace kel {

void PrincipalW::exporter() {
    if (studentVideoPath.isEmpty()) {
        dialogs().plainBox(QStringLiteral("Veuillez ouvrir la video à annoter."));
        return;
    }
    // Only while a recorded annotation still waits for its transcoding or is being transcoded:
    // its file is about to be replaced.
    const bool transcoding =
        transcodePending || (encoderProcess && encoderProcess->state() != QProcess::NotRunning);
    if (annotationCount > 0 && transcoding) {
        dialogs().plainBox(QStringLiteral("Traitement annotation(s) en cours. Veuillez relancer "
                                          "l'export dans quelques secondes."));
        return;
    }
    if (annotationCount == 0) {
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

    exportLaunched = true;
    progressBar->setRange(0, 100);
    connect(progressTimer, &QTimer::timeout, this, &PrincipalW::timerProgressBar,
            Qt::UniqueConnection);
    progressTimer->start(1000);
    stopPreview();
    Export* previous = exportWindow;
    exportWindow = new Export(projectDir, studentVideoPath);
    if (previous)
        previous->deleteLater();
    progressCount = 1;
}

void PrincipalW::timerProgressBar() {
    if (!exportRunning)
        return;
    if (exportFinished) {
        progressBar->setValue(100);
        progressTimer->stop();
        startPreview();
        return;
    }
    const Mixing* montage = exportWindow ? exportWindow->montage() : nullptr;
    if (montage && montage->hasFailed()) {
        progressBar->setValue(0);
        progressTimer->stop();
        startPreview();
        return;
    }
    if (montage)
        progressCount = qMax(progressCount, montage->progressPercent());
    progressCount = qMin(progressCount, 99);
    progressBar->setValue(progressCount);
}

void PrincipalW::cleanUpExportAtQuit() {
    if (!exportWindow)
        return;
    Mixing* montage = exportWindow->montage();
    if (montage)
        montage->cancel();
    if (!exportLaunched || !exportWindow->cbCompresserMontage->isChecked())
        return;
    // Without ffmpeg the uncompressed montage is the export's only result: it stays.
    if (montage && montage->hasSucceeded() && montage->fellBackToUncompressed())
        return;
    QFile::remove(QDir(exportWindow->projectDir).filePath(MontageRenderer::uncompressedName()));
}

} // namespace kel
