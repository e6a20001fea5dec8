#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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

    explicit ProjectFile(const QString& projectDir);

    QString projectDir() const { return m_dir; }
    QString path() const; // <projectDir>/project.xml

    WriteResult writeAnnotationEntry(int number, int type, int framePosition);
    WriteResult updateAnnotationEntry(int number, double duration, double cutStart, double cutEnd);

    // Flat (number, frame position) pairs in file order, one pair per number: a number that
    // appears in several entries counts as its last entry, the newest.
    QList<int> loadAnnotationSchedule() const;
    bool isPauseType(const QString& numberText) const;
    double readCutStart(int number) const;
    double readCutEnd(int number) const;
    // The file exists, has content, and that content does not parse.
    bool isDamaged() const;

    // "annotation*" regular files of `dir`, sorted by name.
    static QStringList listAnnotationFiles(const QString& dir);
    // The number of an annotation file name: the leading digits after "annotation", 0 when none.
    static int annotationNumber(const QString& fileName);
    // The name without "annotation" and its 4-character extension: "12" for annotation12.avi.
    static QString annotationNumberText(const QString& fileName);
    static int highestAnnotationNumber(const QString& dir);
    // "annotation" + number + ".avi"
    static QString annotationFileName(int number);

private:
    QString m_dir;
};

} // namespace kel
