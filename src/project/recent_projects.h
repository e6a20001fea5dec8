#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace kel {

// The project folders opened last, newest first, kept in the user's settings so that the next
// session can offer them again. Read from the settings at each call: two windows see one list.
class RecentProjects {
public:
    static constexpr int kMaximum = 5;

    struct Entry {
        QString folder;
        bool folderExists = false;
        // A new project has none until its first annotation: it is still a project.
        bool hasProjectFile = false;
        // Shown as such in the menu and offered for removal.
        bool isMissing() const { return !folderExists; }
    };

    // Newest first, at most kMaximum, each as the disk has it now.
    QList<Entry> entries() const;
    QStringList folders() const;
    // `folder` goes first; the same folder written another way is not listed twice.
    void add(const QString& folder);
    void remove(const QString& folder);

    // The menu's text for an entry: its path, and "(introuvable)" when its folder is gone.
    static QString menuText(const Entry& entry);

private:
    // Two spellings of one folder ("a/../b", a trailing slash, a link) give one key.
    static QString folderKey(const QString& folder);
    void save(const QStringList& folders);
};

} // namespace kel
