// The main window's project lifecycle and its view of the project's annotations.
#include "app/principalw.h"
#include "app/recording_controller.h"
#include "app/window_widgets.h"
#include "common/dialogs.h"
#include "export/export_files.h"
#include "playback/comment_player.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/synchronised_playback.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "project/recent_projects.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>

namespace kel {

void PrincipalW::switchProject(const QString& dir) {
    if (ui->comment->isShown())
        closeAnnotation();
    // A recording that waited for the end of its playback is compressed all the same.
    for (const SessionAnnotation& a : m_session->annotations())
        if (m_session->isAwaitingCompression(a.number))
            m_recording->compress(a.number);
    ui->comment->unload();
    // What an export cut short by a crash left behind goes first.
    if (!dir.isEmpty())
        removeStaleExportFiles(dir);
    m_session->open(dir);
    if (!dir.isEmpty())
        RecentProjects().add(dir);
    m_sync->rearm();
    m_recording->compressRawRecordings();

    ui->labelProjet->setText(dir.isEmpty() ? QString()
                                           : ui->labelProjet->fontMetrics().elidedText(
                                                 QStringLiteral("Projet : ") + QDir(dir).dirName(),
                                                 Qt::ElideMiddle, ui->labelProjet->width()));
    ui->labelProjet->setToolTip(QDir::toNativeSeparators(dir));
    // The student's video last opened with this project comes back with it.
    const QString video = m_session->studentVideo();
    if (!video.isEmpty() && video != m_studentVideoPath && loadVideoFile(video, false))
        enableVideoCommands();
}

void PrincipalW::showAnnotations() {
    ui->comboAnnotations->clear();
    if (m_session->count() == 0)
        ui->comboAnnotations->addItem(QStringLiteral("Aucune annotation"));
    QList<SeekSlider::Mark> marks;
    for (const SessionAnnotation& a : m_session->annotations()) {
        ui->comboAnnotations->addItem(annotationLabel(a), a.number);
        if (a.hasEntry)
            marks.append({positionKeyMs(a.entry.framePosition), a.entry.type == 1, a.number});
    }
    m_studentPlayer->seekSlider->setMarks(marks);
    // The comments that can start by themselves: those with a file, in the file's order.
    QList<SynchronisedPlayback::Comment> comments;
    for (const ProjectFile::Entry& e : m_session->entries())
        if (m_session->annotation(e.number))
            comments.append({e.number, e.framePosition, e.type == 1});
    m_sync->setComments(comments);
    showCurrentAnnotation();
}

void PrincipalW::showCurrentAnnotation() {
    const int current = m_session->current();
    const int index = current ? ui->comboAnnotations->findData(current) : -1;
    ui->comboAnnotations->setCurrentIndex(m_session->count() == 0 ? 0 : index);
    for (QPushButton* b :
         {ui->bCouperDebut, ui->bCouperFin, ui->bSupprimerAnnotation, ui->bTitreAnnotation})
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
    const QString dir = ProjectSession::makeProjectDir(location, name);
    if (dir.isEmpty()) {
        warn(QStringLiteral("Impossible de créer le répertoire du projet « %1 ».\r\n"
                            "Choisissez un autre nom ou un autre emplacement.")
                 .arg(QDir::toNativeSeparators(QDir(location).filePath(name))));
        return;
    }
    switchProject(dir);
    dialogs().plainBox(QStringLiteral("Répertoire sélectionné: \r\n") + m_session->dir());
    for (QPushButton* b : {ui->bOuvrirVideo, ui->bEnregistrerProjet, ui->bExporter})
        b->setEnabled(true);
}

std::optional<QString> PrincipalW::chooseProjectFolder() {
    RecentProjects recent;
    const QList<RecentProjects::Entry> entries = recent.entries();
    QStringList items{QStringLiteral("Ouvrir un autre projet…"), QStringLiteral("Projets récents")};
    QList<bool> enabled{true, false};
    for (const RecentProjects::Entry& e : entries)
        items << RecentProjects::menuText(e), enabled << true;
    const int chosen = entries.isEmpty() ? 0 : dialogs().menu(ui->bOuvrirProjet, items, enabled);
    if (chosen == 0)
        return dialogs().getExistingDirectory(this,
                                              QStringLiteral("Choisir un répertoire existant"));
    if (chosen < 2)
        return std::nullopt;
    const RecentProjects::Entry& e = entries[chosen - 2];
    if (!e.isMissing())
        return e.folder;
    if (dialogs().choice(QStringLiteral("Le projet « %1 » est introuvable : il a été déplacé ou "
                                        "supprimé.\r\nLe retirer des projets récents ?")
                             .arg(QDir::toNativeSeparators(e.folder)),
                         {QStringLiteral("Retirer de la liste"), QStringLiteral("Garder")}) == 0)
        recent.remove(e.folder);
    return std::nullopt;
}

void PrincipalW::on_bOuvrirProjet_clicked() {
    const std::optional<QString> chosen = chooseProjectFolder();
    if (!chosen)
        return;
    const QString dir = *chosen;
    if (dir.isEmpty()) {
        dialogs().plainBox(QStringLiteral("Aucun répertoire n'a été sélectionné"));
    } else {
        for (QPushButton* b : {ui->bOuvrirVideo, ui->bEnregistrerProjet, ui->bExporter})
            b->setEnabled(true);
        dialogs().plainBox(QStringLiteral("Répertoire sélectionné: \r\n ") + dir);
    }
    switchProject(dir);
    ui->comboAnnotations->setEnabled(true);
}

bool PrincipalW::askTitle(int number) {
    const SessionAnnotation* a = m_session->annotation(number);
    if (!a)
        return false;
    bool ok = false;
    const QString title = dialogs().getText(
        this, QStringLiteral("Titre de l'annotation"),
        QStringLiteral("Titre de l'annotation n°%1 (facultatif), montré dans le montage :")
            .arg(number),
        a->title, &ok);
    if (ok)
        m_session->setTitle(number, title);
    return ok;
}

void PrincipalW::titrerAnnotation() {
    askTitle(m_session->current());
}

void PrincipalW::remplirListe() {
    m_sync->rearm();
}

void PrincipalW::enregistrerProjet() {
    m_session->markSaved();
    ui->showStatus(QStringLiteral("Projet enregistré"));
}

} // namespace kel
