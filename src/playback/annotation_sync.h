#pragma once

#include <QList>
#include <functional>

namespace kel {

// The rule that starts annotations while the student's video plays. The schedule is a flat list
// of (annotation number, position key) pairs; the key is the whole second × 25.
struct SyncState {
    bool studentPlaying = false;
    qint64 positionMs = 0;
    int annotationCount = 0;
    bool projectOpen = false;
    bool syncEnabled = false;
    int played = 0; // annotations started since playback last began from the start
};

// Position key of a student position: whole seconds counted at 25 frames per second.
constexpr int positionKey(qint64 positionMs) {
    return int(positionMs / 1000 * 25);
}

// Index in `schedule` of the first element of the pair due now, or -1. An annotation made in the
// first second (key 0) never starts by itself; a pair whose file is missing is passed over.
int dueAnnotationPair(const QList<int>& schedule, const SyncState& state,
                      const std::function<bool(int number)>& fileExists);

} // namespace kel
