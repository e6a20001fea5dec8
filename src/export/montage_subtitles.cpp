#include "montage_subtitles.h"

#include <cmath>

namespace kel {

namespace {

struct Span {
    qint64 start, end;
};

Span spanOf(const SubtitleCue& c, double fps) {
    const double frameMs = 1000.0 / fps;
    return {qint64(std::ceil(c.firstFrame * frameMs)),
            qint64(std::floor((c.lastFrame + 1) * frameMs))};
}

// One line: a cue's end is its blank line.
QString oneLine(const QString& text) {
    return text.simplified();
}

// ffmpeg's metadata escapes these with a backslash.
QString metadataEscaped(const QString& text) {
    QString out;
    for (const QChar c : oneLine(text)) {
        if (c == QLatin1Char('=') || c == QLatin1Char(';') || c == QLatin1Char('#') ||
            c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

} // namespace

QString SubtitleCue::text() const {
    return title.trimmed().isEmpty() ? QStringLiteral("Annotation n°%1").arg(number)
                                     : oneLine(title);
}

QString srtTime(qint64 ms) {
    return QStringLiteral("%1:%2:%3,%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QByteArray srtText(const QList<SubtitleCue>& cues, double fps) {
    QString text;
    int index = 0;
    for (const SubtitleCue& c : cues) {
        const Span s = spanOf(c, fps);
        text += QStringLiteral("%1\n%2 --> %3\n%4\n\n")
                    .arg(++index)
                    .arg(srtTime(s.start), srtTime(s.end), c.text());
    }
    return text.toUtf8();
}

QByteArray vttText(const QList<SubtitleCue>& cues, double fps) {
    QString text = QStringLiteral("WEBVTT\n\n");
    int index = 0;
    for (const SubtitleCue& c : cues) {
        const Span s = spanOf(c, fps);
        // "-->" would end a cue's text early.
        const QString line = c.text().replace(QLatin1String("-->"), QLatin1String("->"));
        text += QStringLiteral("%1\n%2 --> %3\n%4\n\n")
                    .arg(++index)
                    .arg(srtTime(s.start).replace(QLatin1Char(','), QLatin1Char('.')),
                         srtTime(s.end).replace(QLatin1Char(','), QLatin1Char('.')),
                         line.toHtmlEscaped());
    }
    return text.toUtf8();
}

QByteArray chapterMetadata(const QList<SubtitleCue>& cues, double fps) {
    QString text = QStringLiteral(";FFMETADATA1\n");
    const auto chapter = [&text](qint64 start, qint64 end, const QString& title) {
        text += QStringLiteral("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=%3\n")
                    .arg(start)
                    .arg(end)
                    .arg(metadataEscaped(title));
    };
    const auto at = [fps](int frame) { return qint64(std::llround(frame * 1000.0 / fps)); };
    // MP4's chapter track starts at 0 whatever its first chapter says: the student's opening
    // has its own, so that the first comment's starts where it does.
    if (!cues.isEmpty() && cues.first().firstFrame > 0)
        chapter(0, at(cues.first().firstFrame), QStringLiteral("Vidéo de l'élève"));
    // A chapter starts at the comment's first frame exactly, where a player's jump lands.
    for (const SubtitleCue& c : cues)
        chapter(at(c.firstFrame), at(c.lastFrame + 1), c.text());
    return text.toUtf8();
}

} // namespace kel
