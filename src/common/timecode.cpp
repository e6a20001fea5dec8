#include "timecode.h"

namespace kel {

namespace {
QString twoDigits(qint64 v) {
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}
} // namespace

QString clockText(qint64 ms) {
    ms = qMax<qint64>(0, ms);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(twoDigits(ms / 3600000), twoDigits(ms / 60000 % 60), twoDigits(ms / 1000 % 60))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString minutesText(qint64 ms) {
    const qint64 s = qMax<qint64>(0, ms) / 1000;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(twoDigits(s / 60 % 60), twoDigits(s % 60));
    return QStringLiteral("%1:%2").arg(twoDigits(s / 60), twoDigits(s % 60));
}

} // namespace kel
