#include "montage_plan.h"

#include "project/project_file.h"

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

QList<AnnotationInsertion> planInsertions(const QString& projectDir,
                                          const QStringList& annotationFiles,
                                          const QList<int>& schedule) {
    // The file of each number, by the one rule that names annotation files.
    QHash<int, QString> fileOfNumber;
    for (const QString& name : annotationFiles)
        if (const int number = ProjectFile::annotationNumber(name); number > 0)
            fileOfNumber.insert(number, name);

    // A number given again after a deletion counts as its last entry.
    QHash<int, int> lastPosition;
    QList<int> order;
    for (int i = 0; i + 1 < schedule.size(); i += 2) {
        if (!lastPosition.contains(schedule[i]))
            order << schedule[i];
        lastPosition[schedule[i]] = schedule[i + 1];
    }

    // One read of the project file for every annotation's cuts.
    QHash<int, ProjectFile::Entry> entries;
    for (const ProjectFile::Entry& e : ProjectFile(projectDir).read().entries)
        entries.insert(e.number, e);
    QList<AnnotationInsertion> plan;
    for (int number : order) {
        const int position = lastPosition.value(number);
        const auto file = fileOfNumber.constFind(number);
        if (position < 0 || file == fileOfNumber.constEnd())
            continue;
        AnnotationInsertion a;
        a.number = number;
        a.framePosition = position;
        a.filePath = QDir(projectDir).filePath(*file);
        a.cutStart = entries.value(number).cutStart;
        a.cutEnd = entries.value(number).cutEnd;
        plan << a;
    }
    std::stable_sort(plan.begin(), plan.end(),
                     [](const AnnotationInsertion& x, const AnnotationInsertion& y) {
                         return x.startMs() < y.startMs();
                     });
    return plan;
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
