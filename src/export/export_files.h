#pragma once

#include <QString>

namespace kel {

// Removes the hidden files that an export killed on its way (a crash, a power cut, kill -9) left
// in a project folder. A file that a running export still writes is kept: each export holds a
// lock on its own.
void removeStaleExportFiles(const QString& projectDir);

// Why the montage at `path` must not be replaced: its owner made it read-only (a rename would
// replace it all the same). Empty when it may be, or does not exist.
QString readOnlyRefusal(const QString& path);

// Bytes that an uncompressed montage of `frames` frames of `width` x `height` takes, about.
qint64 rawMontageBytes(qint64 frames, int width, int height);
// Why a montage of `bytes` cannot be written into `dir`: its disk has not that much room left.
// Empty when it fits, or when the room left is unknown.
QString diskSpaceRefusal(const QString& dir, qint64 bytes);

// The hidden file one export writes before it takes the montage's name: ".VideoFinale.<id>.tmp.avi"
// beside "VideoFinale.avi", a name of its own for every export, locked while it lives. Removed on
// destruction unless it was committed.
class ExportTempFile {
public:
    explicit ExportTempFile(const QString& finalPath);
    ~ExportTempFile();
    ExportTempFile(const ExportTempFile&) = delete;
    ExportTempFile& operator=(const ExportTempFile&) = delete;

    // Creates the file, empty, and locks it. False when it cannot be created.
    bool create();
    QString path() const { return m_path; }
    // Gives the file its final name, replacing the file there in one step.
    bool commit();
    void remove();

private:
    QString m_path;
    QString m_finalPath;
    int m_fd = -1;
};

} // namespace kel
