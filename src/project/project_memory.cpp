#include "project_memory.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace kel {

namespace {
const QString kFileName = QStringLiteral("kel.ini");
const QString kStudentVideoKey = QStringLiteral("video/eleve");
const QString kTitlesGroup = QStringLiteral("titres");
} // namespace

ProjectMemory::ProjectMemory(const QString& projectDir) : m_dir(projectDir) {}

QString ProjectMemory::studentVideo() const {
    if (m_dir.isEmpty() || !QFileInfo::exists(QDir(m_dir).filePath(kFileName)))
        return {};
    const QSettings memory(QDir(m_dir).filePath(kFileName), QSettings::IniFormat);
    const QString stored = memory.value(kStudentVideoKey).toString();
    if (stored.isEmpty())
        return {};
    const QString path = QDir::cleanPath(QDir(m_dir).absoluteFilePath(stored));
    return QFileInfo(path).isFile() ? path : QString();
}

void ProjectMemory::setStudentVideo(const QString& path) {
    if (m_dir.isEmpty() || path.isEmpty())
        return;
    QString stored = QDir(m_dir).relativeFilePath(QFileInfo(path).absoluteFilePath());
    if (stored.startsWith(QLatin1String("../../")) || QDir::isAbsolutePath(stored))
        stored = QFileInfo(path).absoluteFilePath();
    QSettings memory(QDir(m_dir).filePath(kFileName), QSettings::IniFormat);
    memory.setValue(kStudentVideoKey, stored);
}

QHash<int, QString> ProjectMemory::titles() const {
    QHash<int, QString> titles;
    if (m_dir.isEmpty() || !QFileInfo::exists(QDir(m_dir).filePath(kFileName)))
        return titles;
    QSettings memory(QDir(m_dir).filePath(kFileName), QSettings::IniFormat);
    memory.beginGroup(kTitlesGroup);
    for (const QString& key : memory.childKeys()) {
        const int number = key.toInt();
        const QString title = memory.value(key).toString().simplified();
        if (number > 0 && !title.isEmpty())
            titles.insert(number, title.left(kMaxTitleLength));
    }
    return titles;
}

void ProjectMemory::setTitle(int number, const QString& title) {
    if (m_dir.isEmpty() || number <= 0)
        return;
    const QString line = title.simplified().left(kMaxTitleLength);
    QSettings memory(QDir(m_dir).filePath(kFileName), QSettings::IniFormat);
    memory.beginGroup(kTitlesGroup);
    if (line.isEmpty())
        memory.remove(QString::number(number));
    else
        memory.setValue(QString::number(number), line);
}

} // namespace kel
