// The main window's project file operations and project lifecycle.
#include "app/globals.h"
#include "app/principalw.h"
#include "common/dialogs.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "recording/opencv_widget.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>

namespace kel {

namespace {

// The damaged file the user has already been told about, so that the refusals that follow in the
// same project do not repeat the warning.
QString warnedDamagedFile;

void warn(const QString& text) {
    dialogs().platformBox(QStringLiteral("KEL"), text, Dialogs::Icon::Warning);
}

void warnDamaged(const QString& path) {
    if (warnedDamagedFile == path)
        return;
    warnedDamagedFile = path;
    warn(QStringLiteral("Le fichier de projet « %1 » est endommagé et ne peut pas être lu.\r\n"
                        "Il est conservé tel quel : les annotations ne seront pas jouées "
                        "automatiquement et les modifications ne pourront pas y être "
                        "enregistrées.")
             .arg(QDir::toNativeSeparators(path)));
}

void report(ProjectFile::WriteResult result, const ProjectFile& file) {
    switch (result) {
    case ProjectFile::WriteResult::Written:
        if (warnedDamagedFile == file.path())
            warnedDamagedFile.clear();
        break;
    case ProjectFile::WriteResult::NoChange:
        break;
    case ProjectFile::WriteResult::Damaged:
        warnDamaged(file.path());
        break;
    case ProjectFile::WriteResult::Failed:
        warn(QStringLiteral("Impossible d'enregistrer le fichier de projet « %1 ».\r\n"
                            "La dernière modification n'a pas été enregistrée ; le fichier "
                            "précédent est intact.")
                 .arg(QDir::toNativeSeparators(file.path())));
        break;
    }
}

} // namespace

void PrincipalW::addAnnotationEntry(int number) {
    if (annotationCount <= 0 || projectDir.isEmpty())
        return;
    const int framePosition = studentPlayer->lecteur->currentTime() / 1000 * 25;
    const int type = studentWasPaused ? 1 : 0;
    writeAnnotationEntry(number, type, framePosition);
    // One pair per number: a number given again belongs to the newest annotation.
    for (int i = 0; i + 1 < annotationSchedule.size(); i += 2) {
        if (annotationSchedule[i] == number) {
            annotationSchedule.remove(i, 2);
            break;
        }
    }
    annotationSchedule << number << framePosition;
}

void PrincipalW::writeAnnotationEntry(int number, int type, int framePosition) {
    if (projectDir.isEmpty())
        return;
    ProjectFile file(projectDir);
    report(file.writeAnnotationEntry(number, type, framePosition), file);
}

void PrincipalW::loadAnnotationSchedule() {
    annotationSchedule.clear();
    if (!projectDir.isEmpty())
        annotationSchedule = ProjectFile(projectDir).loadAnnotationSchedule();
}

void PrincipalW::updateAnnotationEntry(int number, double duration, double cutStart,
                                       double cutEnd) {
    if (projectDir.isEmpty())
        return;
    ProjectFile file(projectDir);
    report(file.updateAnnotationEntry(number, duration, cutStart, cutEnd), file);
}

bool PrincipalW::isPauseType(const QString& number) {
    return !projectDir.isEmpty() && ProjectFile(projectDir).isPauseType(number);
}

int PrincipalW::highestAnnotationNumber() {
    return ProjectFile::highestAnnotationNumber(projectDir);
}

void PrincipalW::listProjectAnnotations() {
    const QStringList files = ProjectFile::listAnnotationFiles(projectDir);
    if (files.isEmpty())
        return;
    annotationCount = int(files.size());
    syncEnabled = true;
    if (annotationCount > 0 && !projectDir.isEmpty())
        loadAnnotationSchedule();
    for (const QString& name : files)
        comboAnnotations->addItem(comboPrefix + ProjectFile::annotationNumberText(name));
}

void PrincipalW::registerAnnotation(const QString& path) {
    const QString item = comboPrefix + ProjectFile::annotationNumberText(path);
    if (comboAnnotations->findText(item, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        comboAnnotations->addItem(item);
    currentAnnotationFile = std::make_unique<QFile>(path);
}

// Whatever belonged to the project being left: its count, its schedule, its annotation in the
// player and its list. The student video stays, as it does not belong to a project.
static void leaveProject(PrincipalW& w) {
    w.annotationCount = 0;
    w.annotationSchedule.clear();
    w.syncEnabled = false;
    w.projectSaved = false;
    w.currentAnnotationFile.reset();
    w.currentAnnotationNumber = 0;
    w.comboAnnotations->clear();
    warnedDamagedFile.clear();
}

void PrincipalW::switchProject(const QString& dir) {
    if (!annotationPlayer->isHidden())
        closeAnnotation();
    leaveProject(*this);
    projectDir = dir;
    refreshTimelineMarks();
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
    comboAnnotations->addItem(noAnnotationText);

    dialogs().plainBox(QStringLiteral("Répertoire sélectionné: \r\n") + projectDir);
    bOuvrirVideo->setEnabled(true);
    bEnregistrerProjet->setEnabled(true);
    bExporter->setEnabled(true);
}

void PrincipalW::on_bOuvrirProjet_clicked() {
    const QString dir =
        dialogs().getExistingDirectory(this, QStringLiteral("Choisir un répertoire existant"));

    switchProject(dir);

    if (projectDir.isEmpty()) {
        dialogs().plainBox(QStringLiteral("Aucun répertoire n'a été sélectionné"));
    } else {
        bOuvrirVideo->setEnabled(true);
        bEnregistrerProjet->setEnabled(true);
        bExporter->setEnabled(true);
        dialogs().plainBox(QStringLiteral("Répertoire sélectionné: \r\n ") + projectDir);
    }

    comboAnnotations->setEnabled(true);
    comboAnnotations->clear();
    listProjectAnnotations();
    if (!projectDir.isEmpty()) {
        const ProjectFile file(projectDir);
        if (file.isDamaged())
            warnDamaged(file.path());
    }
}

void PrincipalW::remplirListe() {
    if (annotationCount > 0 && !projectDir.isEmpty())
        loadAnnotationSchedule();
}

void PrincipalW::enregistrerProjet() {
    projectSaved = true;
}

} // namespace kel
