#include "recent_projects.h"

#include "project/project_file.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace kel {

namespace {

const QString kKey = QStringLiteral("projets/recents");

QSettings userSettings() {
    return QSettings(QStringLiteral("KEL"), QStringLiteral("KEL"));
}

bool sameFolder(const QString& a, const QString& b) {
#ifdef Q_OS_WIN
    return a.compare(b, Qt::CaseInsensitive) == 0;
#else
    return a == b;
#endif
}

} // namespace

QString RecentProjects::folderKey(const QString& folder) {
    const QFileInfo info(folder);
    // A folder gone has no canonical path: its cleaned one is the best left.
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QStringList RecentProjects::folders() const {
    QStringList list = userSettings().value(kKey).toStringList();
    list.removeAll(QString());
    return list.mid(0, kMaximum);
}

QList<RecentProjects::Entry> RecentProjects::entries() const {
    QList<Entry> list;
    for (const QString& folder : folders()) {
        Entry e;
        e.folder = folder;
        e.folderExists = QFileInfo(folder).isDir();
        e.hasProjectFile = e.folderExists && QFileInfo(ProjectFile(folder).path()).isFile();
        list << e;
    }
    return list;
}

void RecentProjects::add(const QString& folder) {
    if (folder.isEmpty())
        return;
    const QString key = folderKey(folder);
    QStringList list{key};
    for (const QString& f : folders())
        if (!sameFolder(folderKey(f), key))
            list << f;
    save(list.mid(0, kMaximum));
}

void RecentProjects::remove(const QString& folder) {
    const QString key = folderKey(folder);
    QStringList list;
    for (const QString& f : folders())
        if (!sameFolder(f, folder) && !sameFolder(folderKey(f), key))
            list << f;
    save(list);
}

void RecentProjects::save(const QStringList& list) {
    QSettings settings = userSettings();
    settings.setValue(kKey, list);
}

QString RecentProjects::menuText(const Entry& entry) {
    const QString path = QDir::toNativeSeparators(entry.folder);
    return entry.isMissing() ? QStringLiteral("%1 (introuvable)").arg(path) : path;
}

} // namespace kel
