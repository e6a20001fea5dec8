#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kel {

// Where an annotation's inset shows in the montage, in frames of the file.
struct SubtitleCue {
    int number = 0;
    int firstFrame = -1;
    int lastFrame = -1;
    QString title; // empty: "Annotation n°N"

    QString text() const;
};

// SRT time stamp: hh:mm:ss,mmm.
QString srtTime(qint64 ms);

// The subtitles of a montage of `fps` frames per second, one cue per shown annotation, its title
// or "Annotation n°N". A cue starts inside its first frame and ends inside its last one (rounded
// towards them), so that a player's jump never lands on a frame without the inset.
QByteArray srtText(const QList<SubtitleCue>& cues, double fps);
// The same cues in WebVTT, which browsers and learning platforms show beside an MP4.
QByteArray vttText(const QList<SubtitleCue>& cues, double fps);
// The same again as chapters, in ffmpeg's metadata format (ms): one chapter per annotation, after
// one for the student's video before the first.
QByteArray chapterMetadata(const QList<SubtitleCue>& cues, double fps);

} // namespace kel
