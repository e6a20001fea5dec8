#include "project_questions.h"

#include "common/dialogs.h"
#include "project/recent_projects.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace kel {

QString askNewProjectDir(QWidget* parent) {
    const QString name = dialogs().getText(parent, QStringLiteral("Nom du répertoire"),
                                           QStringLiteral("Nouveau projet"));
    if (name.isEmpty())
        return QString();
    const QString location =
        dialogs().getExistingDirectory(parent, QStringLiteral("Sélectionner un emplacement"));
    if (location.isEmpty()) {
        warn(QStringLiteral("Aucun emplacement n'a été sélectionné"));
        return QString();
    }
    const QString dir = ProjectSession::makeProjectDir(location, name);
    if (dir.isEmpty())
        warn(QStringLiteral("Impossible de créer le répertoire du projet « %1 ».\r\n"
                            "Choisissez un autre nom ou un autre emplacement.")
                 .arg(QDir::toNativeSeparators(QDir(location).filePath(name))));
    return dir;
}

std::optional<QString> askProjectToOpen(QWidget* anchor) {
    RecentProjects recent;
    const QList<RecentProjects::Entry> entries = recent.entries();
    QStringList items{QStringLiteral("Ouvrir un autre projet…"), QStringLiteral("Projets récents")};
    QList<bool> enabled{true, false};
    for (const RecentProjects::Entry& e : entries)
        items << RecentProjects::menuText(e), enabled << true;
    const int chosen = entries.isEmpty() ? 0 : dialogs().menu(anchor, items, enabled);
    if (chosen == 0)
        return dialogs().getExistingDirectory(anchor->window(),
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

bool askTitle(QWidget* parent, ProjectSession& session, int number) {
    const SessionAnnotation* a = session.annotation(number);
    if (!a)
        return false;
    bool ok = false;
    const QString title = dialogs().getText(
        parent, QStringLiteral("Titre de l'annotation"),
        QStringLiteral("Titre de l'annotation n°%1 (facultatif), montré dans le montage :")
            .arg(number),
        a->title, &ok);
    if (ok)
        session.setTitle(number, title);
    return ok;
}

OtherVideo askAboutOtherVideo(const QString& previous, const QString& chosen) {
    const int answer = dialogs().choice(
        QStringLiteral("Les annotations de ce projet ont été faites sur la vidéo « %1 ».\r\n"
                       "Vous ouvrez « %2 ».\r\n\r\nCes annotations concernent-elles cette "
                       "vidéo ?")
            .arg(QFileInfo(previous).fileName(), QFileInfo(chosen).fileName()),
        {QStringLiteral("Oui, garder les annotations"),
         QStringLiteral("Non, créer un nouveau projet"), QStringLiteral("Annuler")});
    return answer == 0   ? OtherVideo::Keep
           : answer == 1 ? OtherVideo::NewProject
                         : OtherVideo::Cancel;
}

QString discardWarning(const ProjectSession::Changes& c) {
    QStringList undone;
    if (c.made > 0)
        undone << (c.made == 1
                       ? QStringLiteral("effacera l'annotation enregistrée")
                       : QStringLiteral("effacera les %1 annotations enregistrées").arg(c.made)) +
                      QStringLiteral(" pendant cette séance");
    if (c.cut > 0)
        undone << (c.cut == 1
                       ? QStringLiteral("annulera la coupure d'une annotation")
                       : QStringLiteral("annulera les coupures de %1 annotations").arg(c.cut));
    if (undone.isEmpty())
        undone << QStringLiteral("remettra le fichier du projet comme il était");
    QString text =
        QStringLiteral("« Ne pas enregistrer » %1.").arg(undone.join(QStringLiteral(" et ")));
    if (c.deleted > 0)
        text += QStringLiteral("\r\nLes annotations supprimées pendant cette séance (%1) ne "
                               "reviendront pas.")
                    .arg(c.deleted);
    return text;
}

} // namespace kel
