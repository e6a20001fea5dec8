#include "annotation_sync.h"

namespace kel {

int dueAnnotationPair(const QList<int>& schedule, const SyncState& state,
                      const std::function<bool(int)>& fileExists) {
    if (!state.studentPlaying || state.annotationCount <= 0 || !state.projectOpen)
        return -1;
    if (!state.syncEnabled || state.played >= state.annotationCount)
        return -1;
    const int key = positionKey(state.positionMs);
    for (int i = 0; i + 1 < schedule.size(); i += 2) {
        const int number = schedule[i];
        const int p = schedule[i + 1];
        if (p > 0 && p == key && fileExists(number))
            return i;
    }
    return -1;
}

} // namespace kel
