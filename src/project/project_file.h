#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kel {

// Every read and write of a project directory's "project.xml", and the numbering of its
// annotation files. A unit without widgets: failures are returned, never shown.
class ProjectFile {
public:
    enum class WriteResult {
        Written,  // the file now holds the change
        NoChange, // nothing to write (a value not greater than 0, no matching entry)
        Damaged,  // the file has content that does not parse: it was left untouched
        Failed,   // the file could not be written: the previous file is intact
    };

    // What the file says of one annotation number: its last entry, the newest.
    struct Entry {
        int number = 0;
        int framePosition = 0; // whole second x 25
        int type = 0;          // 1: the student's video pauses while it plays
        double duration = 0;   // ms; 0 when not stored
        double cutStart = 0;   // ms; 0 when not set
        double cutEnd = 0;
    };
    // The whole file, read once.
    struct Contents {
        enum class Status { Missing, Unreadable, Damaged, Parsed };
        Status status = Status::Missing;
        QByteArray bytes;     // as on disk; empty when it was not read
        QList<Entry> entries; // one per number, in the order of their last entries
    };

    explicit ProjectFile(const QString& projectDir);

    QString projectDir() const { return m_dir; }
    QString path() const; // <projectDir>/project.xml

    // Each write changes the file as it is now, never through a link, and hands back in `after`
    // what the file holds once written.
    WriteResult writeAnnotationEntry(int number, int type, int framePosition,
                                     Contents* after = nullptr);
    WriteResult updateAnnotationEntry(int number, double duration, double cutStart, double cutEnd,
                                      Contents* after = nullptr);
    // Removes the last entry of `number` if it is still the one at `framePosition`.
    WriteResult removeEntry(int number, int framePosition, Contents* after = nullptr);
    // The cuts of `number`'s last entry become these (0: none).
    WriteResult setCuts(int number, double cutStart, double cutEnd, Contents* after = nullptr);
    // Puts these exact bytes back as the file, atomically; removes it when given none. Refused
    // (false) when the file is a link.
    bool restore(const std::optional<QByteArray>& bytes);

    // Flat (number, frame position) pairs in file order, one pair per number: a number that
    // appears in several entries counts as its last entry, the newest.
    QList<int> loadAnnotationSchedule() const;
    double readCutStart(int number) const;
    double readCutEnd(int number) const;
    // The file exists and has content that is not a project file: it does not parse, is not a
    // regular file, is larger than a few MB or nested deeper than the format.
    bool isDamaged() const;
    Contents read() const;

    // The annotation files of `dir`, sorted by name: regular files named "annotation", a number
    // without leading zero and ".avi", case included, as annotationFileName() names them.
    static QStringList listAnnotationFiles(const QString& dir);
    // The number of an annotation file name (a path's directory is ignored), 0 when the name is not
    // one of an annotation file.
    static int annotationNumber(const QString& fileName);
    // "annotation" + number + ".avi"
    static QString annotationFileName(int number);

private:
    QString m_dir;
};

} // namespace kel
