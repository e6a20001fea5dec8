#pragma once

#include <QHash>
#include <QString>

namespace kel {

// What this program remembers of a project beside project.xml, whose format others read and
// which never carries it: the student's video last opened, and the comments' titles. Kept in
// "kel.ini" in the project folder.
class ProjectMemory {
public:
    explicit ProjectMemory(const QString& projectDir);

    // The student's video last opened with this project: empty when none is, or when its file is
    // gone.
    QString studentVideo() const;
    // Stored relative to the project when it is inside it or beside it, so that the two can move
    // together.
    void setStudentVideo(const QString& path);

    // A comment's title, by annotation number; none for a number without one.
    QHash<int, QString> titles() const;
    // An empty title removes it. The title is kept to one short line.
    void setTitle(int number, const QString& title);

    static constexpr int kMaxTitleLength = 80;

private:
    QString m_dir;
};

} // namespace kel
