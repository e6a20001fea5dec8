// The main window's project lifecycle and its view of the project's annotations.
#include "app/principalw.h"
#include "app/project_questions.h"
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
    if (!video.isEmpty() && video != m_studentPlayer->fichierVideo && loadVideoFile(video, false))
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
    const QString dir = askNewProjectDir(this);
    if (dir.isEmpty())
        return;
    switchProject(dir);
    dialogs().plainBox(QStringLiteral("Répertoire sélectionné: \r\n") + m_session->dir());
    for (QPushButton* b : {ui->bOuvrirVideo, ui->bEnregistrerProjet, ui->bExporter})
        b->setEnabled(true);
}

void PrincipalW::on_bOuvrirProjet_clicked() {
    const std::optional<QString> chosen = askProjectToOpen(ui->bOuvrirProjet);
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

void PrincipalW::titrerAnnotation() {
    askTitle(this, *m_session, m_session->current());
}

void PrincipalW::remplirListe() {
    m_sync->rearm();
}

void PrincipalW::enregistrerProjet() {
    m_session->markSaved();
    ui->showStatus(QStringLiteral("Projet enregistré"));
}

} // namespace kel
