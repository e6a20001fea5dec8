#include "synchronised_playback.h"

#include "common/timecode.h"

#include <algorithm>
#include <utility>

namespace kel {

namespace {
// The player reports its position every tenth of a second or so while it plays: a longer step,
// or a step back, is the teacher moving the video.
constexpr qint64 kJumpMs = 1500;
} // namespace

SynchronisedPlayback::SynchronisedPlayback(QObject* parent) : QObject(parent) {}

void SynchronisedPlayback::setComments(const QList<Comment>& comments) {
    m_comments = comments;
    m_queue.clear();
}

void SynchronisedPlayback::rearm() {
    m_played.clear();
    m_queue.clear();
}

void SynchronisedPlayback::markPlayed(int number) {
    m_played.insert(number);
}

void SynchronisedPlayback::setHeld(bool held) {
    m_held = held;
    if (held)
        m_queue.clear();
}

int SynchronisedPlayback::due(qint64 positionMs) const {
    const int key = positionKey(positionMs);
    if (key <= 0)
        return 0;
    for (const Comment& c : m_comments)
        if (c.positionKey == key && !m_played.contains(c.number) && !m_queue.contains(c.number))
            return c.number;
    return 0;
}

bool SynchronisedPlayback::pauses(int number) const {
    return std::any_of(m_comments.cbegin(), m_comments.cend(),
                       [number](const Comment& c) { return c.number == number && c.pauses; });
}

void SynchronisedPlayback::start(int number) {
    m_played.insert(number);
    // One pause for the whole second: the student's video stands still until its last comment.
    if (pauses(number) && m_playing && !m_pausedThisSecond) {
        m_pausedThisSecond = true;
        m_resumeStudent = true;
        emit pauseStudent();
    }
    emit commentDue(number);
}

void SynchronisedPlayback::studentPositionChanged(qint64 ms) {
    const qint64 last = std::exchange(m_lastMs, ms);
    const int key = positionKey(ms);
    // A video playing on past the second keeps its comments; one moved away drops them.
    if (!m_queue.isEmpty() && key != m_queueKey && last >= 0 && (ms < last || ms - last > kJumpMs))
        m_queue.clear();
    if (!m_playing || m_held)
        return;
    const int number = due(ms);
    if (number == 0)
        return;
    // A new second replaces what waits from an earlier one.
    m_queue.clear();
    m_queueKey = key;
    m_pausedThisSecond = false;
    for (const Comment& c : m_comments)
        if (c.positionKey == key && c.number != number && !m_played.contains(c.number) &&
            !m_queue.contains(c.number))
            m_queue << c.number;
    start(number);
}

void SynchronisedPlayback::studentPlayingChanged(bool playing) {
    m_playing = playing;
}

void SynchronisedPlayback::teacherTookStudent() {
    m_resumeStudent = false;
    m_pausedThisSecond = true;
}

void SynchronisedPlayback::commentEnded() {
    if (!m_queue.isEmpty()) {
        start(m_queue.takeFirst());
        return;
    }
    if (!std::exchange(m_resumeStudent, false))
        return;
    emit resumeStudent();
}

void SynchronisedPlayback::dropWaiting() {
    m_queue.clear();
}

} // namespace kel
