#pragma once

#include <QString>
#include <QtGlobal>

namespace kel {

// Position key of a student position, as project.xml stores it: whole seconds counted at 25
// frames per second.
constexpr int positionKey(qint64 positionMs) {
    return int(positionMs / 1000 * 25);
}
// The start (ms) of the second a position key names.
constexpr qint64 positionKeyMs(int key) {
    return qint64(key / 25) * 1000;
}

// "00:01:02.345", as the players' counters show a position.
QString clockText(qint64 ms);
// "01:02", or "1:01:02" past an hour: a mark or an elapsed time.
QString minutesText(qint64 ms);

} // namespace kel
