// The main window's project lifecycle and its view of the project's annotations.
#include "app/globals.h"
#include "app/principalw.h"
#include "common/dialogs.h"
#include "export/export_files.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/camera_source.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

namespace kel {

namespace {
void warn(const QString& text) {
    dialogs().platformBox(QStringLiteral("KEL"), text, Dialogs::Icon::Warning);
}

// "n°2 · 00:37 · lecture · 4,1 s ✂": number, second in the student's video, Type, length, and a
// mark when trimmed; what the project file does not say is left out.
QString annotationLabel(const SessionAnnotation& a) {
    QStringList parts{QStringLiteral("n°%1").arg(a.number)};
    if (a.hasEntry) {
        const int seconds = a.entry.framePosition / 25;
        parts << QStringLiteral("%1:%2")
                     .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                     .arg(seconds % 60, 2, 10, QLatin1Char('0'));
        parts << (a.entry.type == 1 ? QStringLiteral("pause") : QStringLiteral("lecture"));
        if (a.entry.duration > 0)
            parts << QLocale(QLocale::French).toString(a.entry.duration / 1000, 'f', 1) +
                         QStringLiteral(" s");
    }
    QString label = parts.join(QStringLiteral(" · "));
    if (a.hasEntry && (a.entry.cutStart > 0 || a.entry.cutEnd > 0))
        label += QStringLiteral(" ✂");
    return label;
}
} // namespace

void PrincipalW::quitter() {
    // Asked first: "Annuler" must leave everything as it was, a running export included.
    bool discard = false;
    if (session->hasChanges()) {
        const int answer = dialogs().choice(
            QStringLiteral("Voulez-vous enregistrer les modifications du projet ?"),
            {QStringLiteral("Enregistrer"), QStringLiteral("Ne pas enregistrer"),
             QStringLiteral("Annuler")});
        if (answer == 0)
            session->markSaved();
        else if (answer == 1)
            discard = true;
        else
            return;
    }

    studentPlayer->lecteur->stop();
    annotationPlayer->stop();
    annotationPlayer->load(QString());
    cleanUpExportAtQuit();
    // The files to remove must not be written or held any more.
    stopTranscodingAtQuit();
    if (discard)
        session->discardChanges();
    setCamera(nullptr);
    close();
    deleteLater();
}

void PrincipalW::switchProject(const QString& dir) {
    if (!annotationPlayer->isHidden())
        closeAnnotation();
    // A recording that waited for the end of its playback is compressed all the same.
    for (const SessionAnnotation& a : session->annotations())
        if (session->isAwaitingCompression(a.number))
            transcodeAnnotation(a.number);
    annotationPlayer->load(QString());
    // What an export cut short by a crash left behind goes first.
    if (!dir.isEmpty())
        removeStaleExportFiles(dir);
    session->open(dir);
    compressRawAnnotations();

    const QString name = QDir(dir).dirName();
    labelProjet->setText(dir.isEmpty() ? QString()
                                       : labelProjet->fontMetrics().elidedText(
                                             QStringLiteral("Projet : ") + name, Qt::ElideMiddle,
                                             labelProjet->width()));
    labelProjet->setToolTip(QDir::toNativeSeparators(dir));
    // The student's video last opened with this project comes back with it.
    const QString video = session->studentVideo();
    if (!video.isEmpty() && video != studentVideoPath && loadVideoFile(video, false, true)) {
        if (webcamAvailable)
            bEnregistrerAnnotation->setEnabled(true);
        bOuvrirAnnotation->setEnabled(true);
    }
}

void PrincipalW::showAnnotations() {
    comboAnnotations->clear();
    if (session->count() == 0)
        comboAnnotations->addItem(noAnnotationText);
    QList<SeekSlider::Mark> marks;
    for (const SessionAnnotation& a : session->annotations()) {
        comboAnnotations->addItem(annotationLabel(a), a.number);
        if (a.hasEntry)
            marks.append({qint64(a.entry.framePosition) / 25 * 1000, a.entry.type == 1, a.number});
    }
    studentPlayer->seekSlider->setMarks(marks);
    showCurrentAnnotation();
}

void PrincipalW::showCurrentAnnotation() {
    const int current = session->current();
    const int index = current ? comboAnnotations->findData(current) : -1;
    comboAnnotations->setCurrentIndex(session->count() == 0 ? 0 : index);
    for (QPushButton* b : {bCouperDebut, bCouperFin, bSupprimerAnnotation})
        b->setEnabled(current != 0);
}

void PrincipalW::on_bNouveau_clicked() {
    const QString name = dialogs().getText(this, QStringLiteral("Nom du répertoire"),
                                           QStringLiteral("Nouveau projet"));
    if (name.isEmpty())
        return;
    const QString location =
        dialogs().getExistingDirectory(this, QStringLiteral("Sélectionner un emplacement"));
    if (location.isEmpty()) {
        warn(QStringLiteral("Aucun emplacement n'a été sélectionné"));
        return;
    }

    // The name is one directory inside the chosen location, never a path of its own.
    const bool validName = name != QLatin1String(".") && name != QLatin1String("..") &&
                           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
    const QString dir = QDir(location).filePath(name);
    const QFileInfo info(dir);
    if (!validName || !(info.isDir() || QDir(location).mkdir(name))) {
        warn(QStringLiteral("Impossible de créer le répertoire du projet « %1 ».\r\n"
                            "Choisissez un autre nom ou un autre emplacement.")
                 .arg(QDir::toNativeSeparators(dir)));
        return;
    }

    switchProject(dir);
    dialogs().plainBox(QStringLiteral("Répertoire sélectionné: \r\n") + session->dir());
    bOuvrirVideo->setEnabled(true);
    bEnregistrerProjet->setEnabled(true);
    bExporter->setEnabled(true);
}

void PrincipalW::on_bOuvrirProjet_clicked() {
    const QString dir =
        dialogs().getExistingDirectory(this, QStringLiteral("Choisir un répertoire existant"));

    if (dir.isEmpty()) {
        dialogs().plainBox(QStringLiteral("Aucun répertoire n'a été sélectionné"));
    } else {
        bOuvrirVideo->setEnabled(true);
        bEnregistrerProjet->setEnabled(true);
        bExporter->setEnabled(true);
        dialogs().plainBox(QStringLiteral("Répertoire sélectionné: \r\n ") + dir);
    }
    switchProject(dir);
    comboAnnotations->setEnabled(true);
}

void PrincipalW::remplirListe() {
    session->rearm();
}

void PrincipalW::enregistrerProjet() {
    session->markSaved();
}

} // namespace kel
