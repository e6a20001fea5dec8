#include "export_files.h"

#include "recording/annotation_transcoder.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace kel {

namespace {
// Names of the montage files whose hidden copies are ours.
const char* const kMontageBases[] = {"VideoFinale", "montage"};

QAtomicInt g_counter;

QString sizeText(qint64 bytes) {
    const QLocale french(QLocale::French);
    if (bytes >= 1000LL * 1000 * 1000 * 1000)
        return QStringLiteral("%1 To").arg(french.toString(double(bytes) / 1e12, 'f', 1));
    if (bytes >= 1000LL * 1000 * 1000)
        return QStringLiteral("%1 Go").arg(french.toString(double(bytes) / 1e9, 'f', 1));
    return QStringLiteral("%1 Mo").arg(french.toString(double(bytes) / 1e6, 'f', 1));
}
} // namespace

QString readOnlyRefusal(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || (info.isWritable() && (info.permissions() & QFileDevice::WriteOwner)))
        return QString();
    return QStringLiteral("Le montage « %1 » est en lecture seule : il n'est pas remplacé. "
                          "Rendez-le modifiable ou déplacez-le, puis relancez l'export.")
        .arg(QDir::toNativeSeparators(info.absoluteFilePath()));
}

qint64 rawMontageBytes(qint64 frames, int width, int height) {
    // Each frame: its rows padded to 4 bytes, a chunk header and two index entries.
    const qint64 frameBytes = qint64((width * 3 + 3) & ~3) * height + 8 + 16 + 8;
    return frames * frameBytes + 64 * 1024;
}

QString diskSpaceRefusal(const QString& dir, qint64 bytes) {
    const QStorageInfo storage(dir);
    const qint64 available = storage.isValid() ? storage.bytesAvailable() : -1;
    if (available < 0 || bytes <= available)
        return QString();
    return QStringLiteral("Le montage non compressé demande environ %1, mais le disque de « %2 » "
                          "n'a que %3 de libre. Choisissez une résolution plus faible ou la "
                          "compression, ou libérez de la place. L'export est annulé.")
        .arg(sizeText(bytes), QDir::toNativeSeparators(dir), sizeText(available));
}

void removeStaleExportFiles(const QString& projectDir) {
    if (projectDir.isEmpty())
        return;
    const QDir dir(projectDir);
    QStringList patterns;
    for (const char* base : kMontageBases)
        patterns << QStringLiteral(".%1.*tmp.avi").arg(QLatin1String(base))
                 << QStringLiteral(".%1.*tmp.mp4").arg(QLatin1String(base));
    for (const QString& name : dir.entryList(patterns, QDir::Files | QDir::Hidden)) {
        const QString path = dir.filePath(name);
#ifdef Q_OS_UNIX
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // The lock of a living export holds; a dead one's went with its process.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            QFile::remove(path);
        ::close(fd);
#else
        QFile::remove(path); // refused while another export has it open
#endif
    }
}

ExportTempFile::ExportTempFile(const QString& finalPath) : m_finalPath(finalPath) {
    const QFileInfo info(finalPath);
    m_path = info.dir().filePath(QStringLiteral(".%1.%2-%3.tmp.%4")
                                     .arg(info.completeBaseName())
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(g_counter.fetchAndAddRelaxed(1))
                                     .arg(info.suffix()));
}

ExportTempFile::~ExportTempFile() {
    remove();
}

bool ExportTempFile::create() {
    remove();
#ifdef Q_OS_UNIX
    m_fd =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return false;
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    return true;
#else
    QFile f(m_path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate);
#endif
}

bool ExportTempFile::commit() {
    if (!replaceFile(m_path, m_finalPath))
        return false;
#ifdef Q_OS_UNIX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
    m_fd = -1;
    m_path.clear();
    return true;
}

void ExportTempFile::remove() {
    if (m_path.isEmpty())
        return;
    QFile::remove(m_path);
#ifdef Q_OS_UNIX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
    m_fd = -1;
}

} // namespace kel
