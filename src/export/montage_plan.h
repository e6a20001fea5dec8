#pragma once

#include "common/timecode.h"
#include "project/project_file.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kel {

// One annotation to insert into the montage.
struct AnnotationInsertion {
    int number = 0;
    int framePosition = 0; // whole second of the student's video x 25
    QString filePath;
    double cutStart = 0; // ms of the annotation's own playback; 0 when not set
    double cutEnd = 0;
    QString title; // shown instead of "Annotation n°N" in the MP4's caption, subtitles, chapters

    // Where it goes in the student's video: the start of its second.
    qint64 startMs() const { return positionKeyMs(framePosition); }
    // The annotation's frames after this time (ms) are never shown.
    bool endsAtCut() const { return cutEnd > 0 && cutStart >= 0; }
};

// A frame at time `t` (ms) of an annotation is kept only inside its cut range. A cut value counts
// as set when it is greater than 0.
bool isInsideCut(double t, double cutStart, double cutEnd);
// How long an annotation of `duration` ms plays once cut.
double keptLength(double duration, double cutStart, double cutEnd);

// The annotations to insert, in the order they go into the montage: by position, and in the
// order of `entries` within one second. Only numbers whose file is among `annotationFiles` (names
// without directory) are kept.
QList<AnnotationInsertion> planInsertions(const QString& projectDir,
                                          const QList<ProjectFile::Entry>& entries,
                                          const QStringList& annotationFiles);
// The same from (number, position) pairs of the schedule, a number given twice counting as its
// last pair; cuts come from the project file.
QList<AnnotationInsertion> planInsertions(const QString& projectDir,
                                          const QStringList& annotationFiles,
                                          const QList<int>& schedule);

// Why a montage of these annotations must not be made (French, naming the file at fault), or
// empty: a project file missing, empty or damaged while annotation files exist, or a plan that
// would insert no annotation at all. Such a montage would replace a good one with the student's
// video alone.
QString montageRefusal(const QString& projectDir, const QStringList& annotationFiles,
                       const QList<AnnotationInsertion>& plan);

} // namespace kel
