#include "project_session.h"

#include "project/project_memory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

namespace kel {

namespace {
using Status = ProjectFile::Contents::Status;
} // namespace

ProjectSession::ProjectSession(QObject* parent) : QObject(parent) {}

void ProjectSession::open(const QString& dir) {
    m_dir = dir;
    m_current = 0;
    m_awaitingCompression.clear();
    m_added.clear();
    m_cutsBefore.clear();
    m_made.clear();
    m_deleted = 0;
    m_lastAdded = 0;
    m_damagedTold = false;
    m_entries.clear();
    m_status = Status::Missing;
    m_lastBytes.reset();
    if (!m_dir.isEmpty()) {
        const ProjectFile::Contents contents = ProjectFile(m_dir).read();
        m_status = contents.status;
        m_entries = contents.entries;
        if (m_status != Status::Missing)
            m_lastBytes = contents.bytes;
    }
    m_savedBytes = m_lastBytes;
    m_titles = ProjectMemory(m_dir).titles();
    list();
    emit opened(m_dir);
    emit currentChanged(0);
    emit annotationsChanged();
    if (m_status == Status::Damaged)
        warnDamaged();
}

QString ProjectSession::filePath(int number) const {
    return QDir(m_dir).filePath(ProjectFile::annotationFileName(number));
}

void ProjectSession::list() {
    m_annotations.clear();
    for (const QString& name : ProjectFile::listAnnotationFiles(m_dir)) {
        SessionAnnotation a;
        a.number = ProjectFile::annotationNumber(name);
        a.filePath = QDir(m_dir).filePath(name);
        a.title = m_titles.value(a.number);
        m_annotations.append(a);
    }
    setEntries(m_entries);
}

void ProjectSession::setEntries(const QList<ProjectFile::Entry>& entries) {
    m_entries = entries;
    for (SessionAnnotation& a : m_annotations) {
        const auto e =
            std::find_if(entries.cbegin(), entries.cend(),
                         [&a](const ProjectFile::Entry& x) { return x.number == a.number; });
        a.hasEntry = e != entries.cend();
        a.entry = a.hasEntry ? *e : ProjectFile::Entry{};
    }
}

bool ProjectSession::written(ProjectFile::WriteResult result, const ProjectFile::Contents& after) {
    switch (result) {
    case ProjectFile::WriteResult::Written:
        m_lastBytes = after.bytes;
        setEntries(after.entries);
        emit annotationsChanged();
        return true;
    case ProjectFile::WriteResult::NoChange:
        break;
    case ProjectFile::WriteResult::Damaged:
        warnDamaged();
        break;
    case ProjectFile::WriteResult::Failed:
        emit warning(QStringLiteral("Impossible d'enregistrer le fichier de projet « %1 ».\r\n"
                                    "La dernière modification n'a pas été enregistrée ; le fichier "
                                    "précédent est intact.")
                         .arg(QDir::toNativeSeparators(ProjectFile(m_dir).path())));
        break;
    }
    return false;
}

void ProjectSession::warnDamaged() {
    if (m_damagedTold)
        return;
    m_damagedTold = true;
    emit warning(
        QStringLiteral("Le fichier de projet « %1 » est endommagé et ne peut pas être lu.\r\n"
                       "Il est conservé tel quel : les annotations ne seront pas jouées "
                       "automatiquement et les modifications ne pourront pas y être "
                       "enregistrées.")
            .arg(QDir::toNativeSeparators(ProjectFile(m_dir).path())));
}

const SessionAnnotation* ProjectSession::annotation(int number) const {
    for (const SessionAnnotation& a : m_annotations)
        if (a.number == number)
            return &a;
    return nullptr;
}

bool ProjectSession::isPauseType(int number) const {
    const SessionAnnotation* a = annotation(number);
    return a && a->hasEntry && a->entry.type == 1;
}

void ProjectSession::setCurrent(int number) {
    if (number != 0 && !annotation(number))
        number = 0;
    if (number == m_current)
        return;
    m_current = number;
    emit currentChanged(number);
}

QString ProjectSession::makeProjectDir(const QString& location, const QString& name) {
    const bool plainName = !name.isEmpty() && name != QLatin1String(".") &&
                           name != QLatin1String("..") && !name.contains(QLatin1Char('/')) &&
                           !name.contains(QLatin1Char('\\'));
    const QString dir = QDir(location).filePath(name);
    return plainName && (QFileInfo(dir).isDir() || QDir(location).mkdir(name)) ? dir : QString();
}

int ProjectSession::addCopy(const QString& source, int type, int framePosition) {
    const int number = isOpen() ? numberForCopy() : 0;
    if (number == 0)
        return 0;
    if (!QFile::copy(source, filePath(number))) {
        QFile::remove(filePath(number));
        return 0;
    }
    addAnnotation(number, type, framePosition);
    return number;
}

int ProjectSession::numberForCopy() const {
    int highest = 0;
    for (const SessionAnnotation& a : m_annotations)
        highest = qMax(highest, a.number);
    // A file of ours may sit under a name the listing does not take (a number too large).
    for (qint64 n = qint64(highest) + 1; n < INT_MAX; ++n)
        if (!QFileInfo::exists(filePath(int(n))))
            return int(n);
    return 0;
}

int ProjectSession::numberForRecording() const {
    const int next = count() + 1;
    return QFileInfo::exists(filePath(next)) ? numberForCopy() : next;
}

void ProjectSession::addAnnotation(int number, int type, int framePosition) {
    if (!isOpen() || number <= 0)
        return;
    const QString path = filePath(number);
    m_made.insert(path);
    m_lastAdded = number;
    if (!annotation(number)) {
        const auto at =
            std::find_if(m_annotations.begin(), m_annotations.end(),
                         [&path](const SessionAnnotation& a) { return a.filePath > path; });
        m_annotations.insert(at, SessionAnnotation{number, path, false, {}, {}});
    }
    m_bytesBeforeLastAdd = m_lastBytes;
    ProjectFile::Contents after;
    if (written(ProjectFile(m_dir).writeAnnotationEntry(number, type, framePosition, &after),
                after))
        m_added.insert(number, framePosition);
    else
        emit annotationsChanged(); // the file is listed all the same
}

void ProjectSession::cancelAnnotation(int number) {
    if (!isOpen() || number != m_lastAdded)
        return;
    m_lastAdded = 0;
    const QString path = filePath(number);
    QFile::remove(path);
    if (!m_made.remove(path))
        ++m_deleted;
    m_awaitingCompression.remove(number);
    if (m_added.contains(number)) {
        const int position = m_added.take(number);
        ProjectFile file(m_dir);
        if (currentBytes() == m_lastBytes) {
            // Nobody else wrote since the entry: the file goes back as it was, byte for byte.
            if (!file.restore(m_bytesBeforeLastAdd))
                written(ProjectFile::WriteResult::Failed, {});
            m_lastBytes = m_bytesBeforeLastAdd;
            setEntries(file.read().entries);
        } else {
            ProjectFile::Contents after;
            written(file.removeEntry(number, position, &after), after);
        }
    }
    removeListed(number);
}

void ProjectSession::removeListed(int number) {
    if (m_titles.contains(number)) {
        ProjectMemory(m_dir).setTitle(number, QString());
        m_titles.remove(number);
    }
    m_annotations.removeIf([number](const SessionAnnotation& a) { return a.number == number; });
    if (m_current == number) {
        m_current = 0;
        emit currentChanged(0);
    }
    emit annotationsChanged();
}

void ProjectSession::setDuration(int number, double ms) {
    const SessionAnnotation* a = annotation(number);
    if (!a || !a->hasEntry || a->entry.duration == ms)
        return;
    // A length measured while watching is a fact about the file, not the teacher's change:
    // watching alone leaves nothing to save.
    const bool saved = m_savedBytes == m_lastBytes;
    ProjectFile::Contents after;
    written(ProjectFile(m_dir).updateAnnotationEntry(number, ms, 0, 0, &after), after);
    if (saved)
        m_savedBytes = m_lastBytes;
}

void ProjectSession::setCuts(int number, Cuts cuts) {
    const SessionAnnotation* a = annotation(number);
    if (!a)
        return;
    const Cuts before{a->entry.cutStart, a->entry.cutEnd};
    ProjectFile::Contents after;
    ProjectFile file(m_dir);
    const auto result = cuts.start > 0
                            ? file.updateAnnotationEntry(number, 0, cuts.start, 0, &after)
                            : file.updateAnnotationEntry(number, 0, 0, cuts.end, &after);
    if (written(result, after) && !m_cutsBefore.contains(number))
        m_cutsBefore.insert(number, before);
}

void ProjectSession::setCutStart(int number, double ms) {
    setCuts(number, {ms, 0});
}

void ProjectSession::setCutEnd(int number, double ms) {
    setCuts(number, {0, ms});
}

bool ProjectSession::removeAnnotation(int number, QString* error) {
    const SessionAnnotation* a = annotation(number);
    if (!a)
        return true;
    const QString path = a->filePath;
    QFile file(path);
    if (!file.remove() && QFileInfo::exists(path)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (!m_made.remove(path))
        ++m_deleted;
    m_awaitingCompression.remove(number);
    removeListed(number);
    return true;
}

QString ProjectSession::studentVideo() const {
    return ProjectMemory(m_dir).studentVideo();
}

void ProjectSession::setStudentVideo(const QString& path) {
    ProjectMemory(m_dir).setStudentVideo(path);
}

void ProjectSession::setTitle(int number, const QString& title) {
    if (!annotation(number) && !title.isEmpty())
        return;
    ProjectMemory(m_dir).setTitle(number, title);
    m_titles = ProjectMemory(m_dir).titles();
    for (SessionAnnotation& a : m_annotations)
        a.title = m_titles.value(a.number);
    emit annotationsChanged();
}

void ProjectSession::setAwaitingCompression(int number, bool awaiting) {
    if (awaiting)
        m_awaitingCompression.insert(number);
    else
        m_awaitingCompression.remove(number);
}

bool ProjectSession::hasChanges() const {
    return isOpen() && (!m_added.isEmpty() || !m_cutsBefore.isEmpty() || !m_made.isEmpty());
}

ProjectSession::Changes ProjectSession::changes() const {
    Changes c;
    c.made = int(m_made.size());
    for (auto it = m_cutsBefore.cbegin(); it != m_cutsBefore.cend(); ++it)
        if (!m_made.contains(filePath(it.key())))
            ++c.cut;
    c.deleted = m_deleted;
    return c;
}

void ProjectSession::markSaved() {
    m_deleted = 0;
    m_savedBytes = m_lastBytes;
    m_added.clear();
    m_cutsBefore.clear();
    m_made.clear();
    m_lastAdded = 0;
}

std::optional<QByteArray> ProjectSession::currentBytes() const {
    const ProjectFile::Contents now = ProjectFile(m_dir).read();
    return now.status == Status::Missing ? std::nullopt : std::optional(now.bytes);
}

bool ProjectSession::discardChanges() {
    if (!hasChanges())
        return true;
    ProjectFile file(m_dir);
    bool undone = true;
    if (currentBytes() == m_lastBytes) {
        // Nobody else wrote since this session: the file goes back as it was, byte for byte.
        undone = file.restore(m_savedBytes);
    } else {
        const auto undo = [&](ProjectFile::WriteResult result) {
            undone = result != ProjectFile::WriteResult::Failed &&
                     result != ProjectFile::WriteResult::Damaged && undone;
        };
        for (auto c = m_cutsBefore.cbegin(); c != m_cutsBefore.cend(); ++c)
            if (!m_added.contains(c.key()))
                undo(file.setCuts(c.key(), c->start, c->end));
        for (auto a = m_added.cbegin(); a != m_added.cend(); ++a)
            undo(file.removeEntry(a.key(), a.value()));
    }
    for (const QString& path : std::as_const(m_made)) {
        undone = (QFile::remove(path) || !QFileInfo::exists(path)) && undone;
        ProjectMemory(m_dir).setTitle(ProjectFile::annotationNumber(path), QString());
    }
    m_titles = ProjectMemory(m_dir).titles();
    const ProjectFile::Contents after = file.read();
    m_entries = after.entries;
    m_lastBytes = after.status == Status::Missing ? std::nullopt : std::optional(after.bytes);
    markSaved();
    list();
    emit annotationsChanged();
    if (!undone)
        emit warning(QStringLiteral("Les modifications du projet « %1 » n'ont pas pu être toutes "
                                    "annulées.")
                         .arg(QDir::toNativeSeparators(m_dir)));
    return undone;
}

} // namespace kel
