#include "project_session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <climits>

namespace kel {

namespace {
using Status = ProjectFile::Contents::Status;

// What this program remembers of a project, beside project.xml, whose format others read.
const QString kMemoryFile = QStringLiteral("kel.ini");
const QString kStudentVideoKey = QStringLiteral("video/eleve");

} // namespace

ProjectSession::ProjectSession(QObject* parent) : QObject(parent) {}

void ProjectSession::open(const QString& dir) {
    m_dir = dir;
    m_current = 0;
    m_played.clear();
    m_awaitingCompression.clear();
    m_made.clear();
    m_damagedTold = false;
    reload();
    m_savedXml = m_xml;
    emit opened(m_dir);
    emit currentChanged(0);
    emit annotationsChanged();
    if (m_status == Status::Damaged)
        warnDamaged();
}

QString ProjectSession::filePath(int number) const {
    return QDir(m_dir).filePath(ProjectFile::annotationFileName(number));
}

void ProjectSession::reload() {
    m_annotations.clear();
    m_entries.clear();
    m_xml.reset();
    m_status = Status::Missing;
    if (m_dir.isEmpty())
        return;
    const ProjectFile::Contents contents = ProjectFile(m_dir).read();
    m_status = contents.status;
    m_entries = contents.entries;
    if (m_status != Status::Missing)
        m_xml = contents.bytes;
    for (const QString& name : ProjectFile::listAnnotationFiles(m_dir)) {
        SessionAnnotation a;
        a.number = ProjectFile::annotationNumber(name);
        a.filePath = QDir(m_dir).filePath(name);
        for (const ProjectFile::Entry& e : m_entries) {
            if (e.number == a.number) {
                a.hasEntry = true;
                a.entry = e;
            }
        }
        m_annotations.append(a);
    }
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

int ProjectSession::dueAnnotation(qint64 positionMs) const {
    const int key = positionKey(positionMs);
    if (key <= 0)
        return 0;
    for (const ProjectFile::Entry& e : m_entries) {
        if (e.framePosition == key && !m_played.contains(e.number) && annotation(e.number))
            return e.number;
    }
    return 0;
}

void ProjectSession::markPlayed(int number) {
    m_played.insert(number);
}

void ProjectSession::rearm() {
    m_played.clear();
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

void ProjectSession::written(ProjectFile::WriteResult result) {
    switch (result) {
    case ProjectFile::WriteResult::Written:
        refresh();
        break;
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

void ProjectSession::addAnnotation(int number, int type, int framePosition) {
    if (!isOpen())
        return;
    m_made.insert(filePath(number));
    m_lastAdded = number;
    m_xmlBeforeLastAdd = m_xml;
    const ProjectFile::WriteResult result =
        ProjectFile(m_dir).writeAnnotationEntry(number, type, framePosition);
    if (result != ProjectFile::WriteResult::Written)
        refresh(); // the file is listed all the same
    written(result);
}

void ProjectSession::cancelAnnotation(int number) {
    if (!isOpen() || number != m_lastAdded)
        return;
    const QString path = filePath(number);
    QFile::remove(path);
    m_made.remove(path);
    m_played.remove(number);
    m_awaitingCompression.remove(number);
    if (m_xml != m_xmlBeforeLastAdd && !ProjectFile(m_dir).restore(m_xmlBeforeLastAdd))
        written(ProjectFile::WriteResult::Failed);
    m_lastAdded = 0;
    refresh();
}

void ProjectSession::refresh() {
    reload();
    if (!annotation(m_current))
        m_current = 0;
    emit annotationsChanged();
}

void ProjectSession::setDuration(int number, double ms) {
    const SessionAnnotation* a = annotation(number);
    if (!a || !a->hasEntry || a->entry.duration == ms)
        return;
    // A length measured while watching is a fact about the file, not the teacher's change:
    // watching alone leaves nothing to save.
    const bool saved = m_xml == m_savedXml;
    written(ProjectFile(m_dir).updateAnnotationEntry(number, ms, 0, 0));
    if (saved)
        m_savedXml = m_xml;
}

void ProjectSession::setCutStart(int number, double ms) {
    if (annotation(number))
        written(ProjectFile(m_dir).updateAnnotationEntry(number, 0, ms, 0));
}

void ProjectSession::setCutEnd(int number, double ms) {
    if (annotation(number))
        written(ProjectFile(m_dir).updateAnnotationEntry(number, 0, 0, ms));
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
    m_made.remove(path);
    m_awaitingCompression.remove(number);
    m_played.remove(number);
    reload();
    if (m_current == number) {
        m_current = 0;
        emit currentChanged(0);
    }
    emit annotationsChanged();
    return true;
}

QString ProjectSession::studentVideo() const {
    if (!isOpen() || !QFileInfo::exists(QDir(m_dir).filePath(kMemoryFile)))
        return {};
    const QSettings memory(QDir(m_dir).filePath(kMemoryFile), QSettings::IniFormat);
    const QString stored = memory.value(kStudentVideoKey).toString();
    if (stored.isEmpty())
        return {};
    const QString path = QDir::cleanPath(QDir(m_dir).absoluteFilePath(stored));
    return QFileInfo(path).isFile() ? path : QString();
}

void ProjectSession::setStudentVideo(const QString& path) {
    if (!isOpen() || path.isEmpty())
        return;
    // Relative inside the project or beside it, so that the two can move together.
    QString stored = QDir(m_dir).relativeFilePath(QFileInfo(path).absoluteFilePath());
    if (stored.startsWith(QLatin1String("../../")) || QDir::isAbsolutePath(stored))
        stored = QFileInfo(path).absoluteFilePath();
    QSettings memory(QDir(m_dir).filePath(kMemoryFile), QSettings::IniFormat);
    memory.setValue(kStudentVideoKey, stored);
}

void ProjectSession::setAwaitingCompression(int number, bool awaiting) {
    if (awaiting)
        m_awaitingCompression.insert(number);
    else
        m_awaitingCompression.remove(number);
}

bool ProjectSession::hasChanges() const {
    return isOpen() && (m_xml != m_savedXml || !m_made.isEmpty());
}

void ProjectSession::markSaved() {
    m_savedXml = m_xml;
    m_made.clear();
}

bool ProjectSession::discardChanges() {
    if (!hasChanges())
        return true;
    bool undone = true;
    if (m_xml != m_savedXml)
        undone = ProjectFile(m_dir).restore(m_savedXml);
    for (const QString& path : std::as_const(m_made))
        undone = (QFile::remove(path) || !QFileInfo::exists(path)) && undone;
    m_made.clear();
    refresh();
    if (!undone)
        emit warning(QStringLiteral("Les modifications du projet « %1 » n'ont pas pu être toutes "
                                    "annulées.")
                         .arg(QDir::toNativeSeparators(m_dir)));
    return undone;
}

} // namespace kel
