#include "montage_subtitles.h"

#include <cmath>

namespace kel {

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
    const double frameMs = 1000.0 / fps;
    for (const SubtitleCue& c : cues) {
        const qint64 start = qint64(std::ceil(c.firstFrame * frameMs));
        const qint64 end = qint64(std::floor((c.lastFrame + 1) * frameMs));
        text += QStringLiteral("%1\n%2 --> %3\nAnnotation n°%4\n\n")
                    .arg(++index)
                    .arg(srtTime(start), srtTime(end))
                    .arg(c.number);
    }
    return text.toUtf8();
}

} // namespace kel
