// The project's annotations marked on the student player's timeline.
#include "app/globals.h"
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "project/project_file.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

namespace kel {

void PrincipalW::refreshTimelineMarks() {
    if (!m_projectWatcher) {
        m_projectWatcher = new QFileSystemWatcher(this);
        // project.xml is replaced by a rename and annotation files come and go: the directory
        // itself tells of every change.
        connect(m_projectWatcher, &QFileSystemWatcher::directoryChanged, this,
                &PrincipalW::refreshTimelineMarks);
    }
    if (m_marksDir != projectDir) {
        if (!m_projectWatcher->directories().isEmpty())
            m_projectWatcher->removePaths(m_projectWatcher->directories());
        m_marksDir = projectDir;
        if (!projectDir.isEmpty())
            m_projectWatcher->addPath(projectDir);
    }

    QList<SeekSlider::Mark> marks;
    if (!projectDir.isEmpty()) {
        const ProjectFile file(projectDir);
        const QDir dir(projectDir);
        const QList<int> schedule = file.loadAnnotationSchedule();
        for (int i = 0; i + 1 < schedule.size(); i += 2) {
            if (!QFileInfo::exists(dir.filePath(ProjectFile::annotationFileName(schedule[i]))))
                continue;
            marks.append({qint64(schedule[i + 1]) / 25 * 1000,
                          file.isPauseType(QString::number(schedule[i]))});
        }
    }
    studentPlayer->seekSlider->setMarks(marks);
}

} // namespace kel
