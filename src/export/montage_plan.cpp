#include "montage_plan.h"

#include "project/project_file.h"
#include "project/project_memory.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace kel {

bool isInsideCut(double t, double cutStart, double cutEnd) {
    const bool startSet = cutStart > 0;
    const bool endSet = cutEnd > 0;
    if (startSet && cutEnd == 0)
        return t >= cutStart;
    if (endSet && cutStart == 0)
        return t <= cutEnd;
    if (startSet && endSet)
        return cutStart <= t && t <= cutEnd;
    return true;
}

double keptLength(double duration, double cutStart, double cutEnd) {
    const double end = cutEnd > 0 ? qMin(cutEnd, duration) : duration;
    return qMax(0.0, end - qMax(cutStart, 0.0));
}

QList<AnnotationInsertion> planInsertions(const QString& projectDir,
                                          const QList<ProjectFile::Entry>& entries,
                                          const QStringList& annotationFiles) {
    // The file of each number, by the one rule that names annotation files.
    QHash<int, QString> fileOfNumber;
    for (const QString& name : annotationFiles)
        if (const int number = ProjectFile::annotationNumber(name); number > 0)
            fileOfNumber.insert(number, name);
    const QHash<int, QString> titles = ProjectMemory(projectDir).titles();
    QList<AnnotationInsertion> plan;
    for (const ProjectFile::Entry& e : entries) {
        const auto file = fileOfNumber.constFind(e.number);
        if (e.framePosition < 0 || file == fileOfNumber.constEnd())
            continue;
        AnnotationInsertion a;
        a.number = e.number;
        a.framePosition = e.framePosition;
        a.filePath = QDir(projectDir).filePath(*file);
        a.cutStart = e.cutStart;
        a.cutEnd = e.cutEnd;
        a.title = titles.value(e.number);
        plan << a;
    }
    std::stable_sort(plan.begin(), plan.end(),
                     [](const AnnotationInsertion& x, const AnnotationInsertion& y) {
                         return x.startMs() < y.startMs();
                     });
    return plan;
}

QList<AnnotationInsertion> planInsertions(const QString& projectDir,
                                          const QStringList& annotationFiles,
                                          const QList<int>& schedule) {
    QHash<int, ProjectFile::Entry> stored;
    for (const ProjectFile::Entry& e : ProjectFile(projectDir).read().entries)
        stored.insert(e.number, e);
    QList<ProjectFile::Entry> entries;
    for (int i = 0; i + 1 < schedule.size(); i += 2) {
        ProjectFile::Entry e = stored.value(schedule[i]);
        e.number = schedule[i];
        e.framePosition = schedule[i + 1];
        entries.removeIf([&e](const ProjectFile::Entry& x) { return x.number == e.number; });
        entries << e;
    }
    return planInsertions(projectDir, entries, annotationFiles);
}

QString montageRefusal(const QString& projectDir, const QStringList& annotationFiles,
                       const QList<AnnotationInsertion>& plan) {
    if (!plan.isEmpty() || annotationFiles.isEmpty())
        return QString();
    const ProjectFile project(projectDir);
    const QString file = QDir::toNativeSeparators(project.path());
    const QFileInfo info(project.path());
    QString why;
    if (!info.exists())
        why = QStringLiteral("Le fichier « %1 » est absent").arg(file);
    else if (project.isDamaged())
        why = QStringLiteral("Le fichier « %1 » est endommagé").arg(file);
    else if (project.loadAnnotationSchedule().isEmpty())
        why = QStringLiteral("Le fichier « %1 » ne contient aucune annotation").arg(file);
    else
        why = QStringLiteral("Aucune annotation de « %1 » n'a de fichier dans le projet").arg(file);
    return why + QStringLiteral(" : le montage ne contiendrait aucune annotation. L'export est "
                                "annulé et le montage précédent est conservé.");
}

} // namespace kel
