#pragma once

#include "common/timecode.h"
#include "project/project_file.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

namespace kel {

// One annotation file of the open project, with what project.xml says of it.
struct SessionAnnotation {
    int number = 0;
    QString filePath;
    bool hasEntry = false;
    ProjectFile::Entry entry; // meaningful when hasEntry
    QString title;            // the teacher's, empty when none
};

// The state of the open project, and its one owner: the folder, its annotations, which one is
// current, which recordings wait for their compression, and what this session changed since the
// project was opened or saved. It is the only writer of project.xml, and keeps its model from
// what it wrote: the folder is listed and the file read once, at the opening. No widget: failures
// are told through warning().
class ProjectSession : public QObject {
    Q_OBJECT
public:
    explicit ProjectSession(QObject* parent = nullptr);

    // The folder of a new project `name` inside `location`, made unless it exists; empty when
    // `name` is not a plain folder name or the folder cannot be made.
    static QString makeProjectDir(const QString& location, const QString& name);

    // Leaves the open project, its state dropped, for `dir` (empty: no project).
    void open(const QString& dir);
    bool isOpen() const { return !m_dir.isEmpty(); }
    QString dir() const { return m_dir; }
    // <dir>/annotationN.avi
    QString filePath(int number) const;
    // What opening found wrong with project.xml, to tell before a montage is refused.
    ProjectFile::Contents::Status fileStatus() const { return m_status; }

    // The annotation files, in name order.
    const QList<SessionAnnotation>& annotations() const { return m_annotations; }
    // The entries of project.xml, one per number (its last one), in the file's order.
    const QList<ProjectFile::Entry>& entries() const { return m_entries; }
    int count() const { return int(m_annotations.size()); }
    const SessionAnnotation* annotation(int number) const;
    bool isPauseType(int number) const;

    // The annotation in the annotation player, 0 for none.
    int current() const { return m_current; }
    void setCurrent(int number);

    // A number whose file name is free: for a copy, the highest number + 1; for a recording, the
    // count + 1 unless that file exists. 0 when no number is left.
    int numberForCopy() const;
    int numberForRecording() const;

    // `number`'s file is being recorded or was copied into the folder: it is entered at
    // `framePosition` with `type`, listed, and belongs to this session's changes.
    void addAnnotation(int number, int type, int framePosition);
    // Copies `source` into the folder as a new annotation entered like addAnnotation(); its
    // number, or 0 when no project is open or the copy failed (nothing is left of it then).
    int addCopy(const QString& source, int type, int framePosition);
    // The annotation last entered by addAnnotation(), a recording cancelled or lost: its entry
    // and whatever file it left are removed.
    void cancelAnnotation(int number);
    // Written only when it differs from what is stored.
    void setDuration(int number, double ms);
    void setCutStart(int number, double ms);
    void setCutEnd(int number, double ms);
    // Removes the file (its entry stays: the number may be given again). False, and `error` set,
    // when the file could not be removed.
    bool removeAnnotation(int number, QString* error = nullptr);

    // The student's video last opened with this project, remembered beside project.xml (never in
    // it): empty when none is, or when its file is gone.
    QString studentVideo() const;
    void setStudentVideo(const QString& path);
    // A comment's title, kept beside project.xml (never in it); empty removes it.
    void setTitle(int number, const QString& title);

    // Recordings whose compression waits for the end of their first playback.
    void setAwaitingCompression(int number, bool awaiting);
    bool isAwaitingCompression(int number) const { return m_awaitingCompression.contains(number); }
    bool hasAwaitingCompression() const { return !m_awaitingCompression.isEmpty(); }

    // This session's changes since the opening or the last save: entries made, cuts changed,
    // files made.
    bool hasChanges() const;
    // What discardChanges() would undo: annotations this session made, others whose cuts it
    // changed; and the annotations it deleted, which nothing brings back.
    struct Changes {
        int made = 0;
        int cut = 0;
        int deleted = 0;
    };
    Changes changes() const;
    void markSaved();
    // Undoes this session's changes on project.xml as it is now (what others wrote meanwhile
    // stays) and removes the annotation files it made. False when something could not be undone
    // (told through warning()).
    bool discardChanges();

signals:
    void opened(const QString& dir);
    // The annotation files, their entries or the current annotation changed.
    void annotationsChanged();
    void currentChanged(int number);
    // A French message for the user: a damaged project file (once per file), a failed write.
    void warning(const QString& text);

private:
    struct Cuts {
        double start = 0;
        double end = 0;
    };
    void list();
    // Takes what a write left in the file as the model; false when nothing was written.
    bool written(ProjectFile::WriteResult result, const ProjectFile::Contents& after);
    void setEntries(const QList<ProjectFile::Entry>& entries);
    void setCuts(int number, Cuts cuts);
    void removeListed(int number);
    void warnDamaged();
    // project.xml's bytes on disk now; none when missing.
    std::optional<QByteArray> currentBytes() const;

    QString m_dir;
    QList<SessionAnnotation> m_annotations;
    QList<ProjectFile::Entry> m_entries;
    ProjectFile::Contents::Status m_status = ProjectFile::Contents::Status::Missing;
    // This session's changes: entries added (number to position), cuts as they were before,
    // annotation files made.
    QHash<int, int> m_added;
    // project.xml as this session last wrote it (or found it), and at the opening or last save;
    // none when missing.
    std::optional<QByteArray> m_lastBytes;
    std::optional<QByteArray> m_savedBytes;
    std::optional<QByteArray> m_bytesBeforeLastAdd;
    QHash<int, Cuts> m_cutsBefore;
    QSet<QString> m_made;
    int m_deleted = 0;
    int m_lastAdded = 0;
    QHash<int, QString> m_titles;
    int m_current = 0;
    QSet<int> m_awaitingCompression;
    bool m_damagedTold = false;
};

} // namespace kel
