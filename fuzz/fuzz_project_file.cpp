// Arbitrary bytes as a project's "project.xml": the readers must not crash, the schedule must stay
// one pair per number, a damaged file must survive a write untouched, and a written file must
// read back.
#include "project/project_file.h"

#include <QByteArray>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdlib>

using kel::ProjectFile;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkReaders(const ProjectFile& file) {
    const QList<int> schedule = file.loadAnnotationSchedule();
    check(schedule.size() % 2 == 0);
    QSet<int> numbers;
    for (int i = 0; i < schedule.size(); i += 2) {
        check(!numbers.contains(schedule[i]));
        numbers.insert(schedule[i]);
    }
    for (const ProjectFile::Entry& e : file.read().entries)
        check(std::isfinite(e.duration + e.cutStart + e.cutEnd) && (e.type == 0 || e.type == 1));
    for (int n : {0, 1, 2}) {
        check(std::isfinite(file.readCutStart(n)));
        check(std::isfinite(file.readCutEnd(n)));
    }
}

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    ProjectFile file(dir.path());
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile f(file.path());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(input) != input.size())
            std::abort();
    }

    checkReaders(file);
    const bool damaged = file.isDamaged();
    if (damaged)
        check(file.loadAnnotationSchedule().isEmpty());

    const ProjectFile::WriteResult written = file.writeAnnotationEntry(7, 1, 175);
    if (damaged) {
        check(written == ProjectFile::WriteResult::Damaged);
        check(contentOf(file.path()) == input);
        return 0;
    }
    check(written == ProjectFile::WriteResult::Written);
    check(!file.isDamaged());
    check(file.read().entries.last().type == 1);
    const QList<int> schedule = file.loadAnnotationSchedule();
    check(schedule.size() >= 2 && schedule[schedule.size() - 2] == 7 && schedule.last() == 175);

    check(file.updateAnnotationEntry(7, 0, 0, 900) == ProjectFile::WriteResult::Written);
    check(file.readCutEnd(7) == 900);
    checkReaders(file);
    return 0;
}
