#pragma once

#include "project/project_file.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

namespace kel {

// Position key of a student position: whole seconds counted at 25 frames per second.
constexpr int positionKey(qint64 positionMs) {
    return int(positionMs / 1000 * 25);
}

// One annotation file of the open project, with what project.xml says of it.
struct SessionAnnotation {
    int number = 0;
    QString filePath;
    bool hasEntry = false;
    ProjectFile::Entry entry; // meaningful when hasEntry
};

// The state of the open project, and its one owner: the folder, its annotations, which one is
// current, which have played, which recordings wait for their compression, and what the project
// was when it was opened. It is the only writer of project.xml; it reads the folder and the file
// once per change. No widget: failures are told through warning().
class ProjectSession : public QObject {
    Q_OBJECT
public:
    explicit ProjectSession(QObject* parent = nullptr);

    // Leaves the open project, its state dropped, for `dir` (empty: no project).
    void open(const QString& dir);
    bool isOpen() const { return !m_dir.isEmpty(); }
    QString dir() const { return m_dir; }
    // <dir>/annotationN.avi
    QString filePath(int number) const;

    // The annotation files, in name order.
    const QList<SessionAnnotation>& annotations() const { return m_annotations; }
    int count() const { return int(m_annotations.size()); }
    const SessionAnnotation* annotation(int number) const;
    bool isPauseType(int number) const;

    // The annotation in the annotation player, 0 for none.
    int current() const { return m_current; }
    void setCurrent(int number);

    // The annotation that starts by itself at `positionMs` of the student's video, 0 for none: the
    // first entry of that whole second (never the first second) whose file exists and that has not
    // played since the project was opened or rearm().
    int dueAnnotation(qint64 positionMs) const;
    void markPlayed(int number);
    void rearm();

    // A number whose file name is free: for a copy, the highest number + 1; for a recording, the
    // count + 1 unless that file exists. 0 when no number is left.
    int numberForCopy() const;
    int numberForRecording() const;

    // `number`'s file was just recorded or copied into the folder: it is entered at
    // `framePosition` with `type`, and belongs to this session's changes.
    void addAnnotation(int number, int type, int framePosition);
    // The annotation last entered by addAnnotation(), a recording cancelled or lost: project.xml
    // goes back to what it was before, and whatever file it left is removed.
    void cancelAnnotation(int number);
    // Reads the folder again: a recording's file now exists.
    void refresh();
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

    // Recordings whose compression waits for the end of their first playback.
    void setAwaitingCompression(int number, bool awaiting);
    bool isAwaitingCompression(int number) const { return m_awaitingCompression.contains(number); }
    bool hasAwaitingCompression() const { return !m_awaitingCompression.isEmpty(); }

    // Changes since the project was opened or last saved: project.xml's bytes, files made.
    bool hasChanges() const;
    void markSaved();
    // Puts project.xml back byte for byte as it was at the opening or last save (removed if there
    // was none) and removes the annotation files made since. False when something could not be
    // undone (told through warning()).
    bool discardChanges();

signals:
    void opened(const QString& dir);
    // The annotation files, their entries or the current annotation changed.
    void annotationsChanged();
    void currentChanged(int number);
    // A French message for the user: a damaged project file (once per file), a failed write.
    void warning(const QString& text);

private:
    void reload();
    void written(ProjectFile::WriteResult result);
    void warnDamaged();

    QString m_dir;
    QList<SessionAnnotation> m_annotations;
    QList<ProjectFile::Entry> m_entries;
    ProjectFile::Contents::Status m_status = ProjectFile::Contents::Status::Missing;
    std::optional<QByteArray> m_xml;      // project.xml now; none when missing
    std::optional<QByteArray> m_savedXml; // at the opening or last save
    QSet<QString> m_made;                 // annotation files made since then
    int m_lastAdded = 0;
    std::optional<QByteArray> m_xmlBeforeLastAdd;
    int m_current = 0;
    QSet<int> m_played;
    QSet<int> m_awaitingCompression;
    bool m_damagedTold = false;
};

} // namespace kel
