#include "synchronised_playback.h"

#include "common/timecode.h"

#include <algorithm>

namespace kel {

SynchronisedPlayback::SynchronisedPlayback(QObject* parent) : QObject(parent) {}

void SynchronisedPlayback::setComments(const QList<Comment>& comments) {
    m_comments = comments;
}

void SynchronisedPlayback::rearm() {
    m_played.clear();
}

void SynchronisedPlayback::markPlayed(int number) {
    m_played.insert(number);
}

int SynchronisedPlayback::due(qint64 positionMs) const {
    const int key = positionKey(positionMs);
    if (key <= 0)
        return 0;
    for (const Comment& c : m_comments)
        if (c.positionKey == key && !m_played.contains(c.number))
            return c.number;
    return 0;
}

void SynchronisedPlayback::studentPositionChanged(qint64 ms) {
    if (!m_playing || m_held)
        return;
    const int number = due(ms);
    if (number == 0)
        return;
    m_played.insert(number);
    const bool pauses =
        std::any_of(m_comments.cbegin(), m_comments.cend(),
                    [number](const Comment& c) { return c.number == number && c.pauses; });
    if (pauses) {
        m_resumeStudent = true;
        emit pauseStudent();
    }
    emit commentDue(number);
}

void SynchronisedPlayback::studentPlayingChanged(bool playing) {
    m_playing = playing;
}

void SynchronisedPlayback::teacherTookStudent() {
    m_resumeStudent = false;
}

void SynchronisedPlayback::commentEnded() {
    if (!std::exchange(m_resumeStudent, false))
        return;
    emit resumeStudent();
}

} // namespace kel
