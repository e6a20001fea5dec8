#pragma once

#include <QList>
#include <QObject>
#include <QSet>

namespace kel {

// When the teacher's comments start by themselves as the student's video plays. Driven by the
// student player's reports (position, playing or not) and the teacher's own actions; it never
// owns a player: it asks, through its signals, that a comment start and that the student's video
// pause or resume.
class SynchronisedPlayback : public QObject {
    Q_OBJECT
public:
    struct Comment {
        int number = 0;
        int positionKey = 0; // whole second x 25
        bool pauses = false; // Type 1: the student's video waits while it plays
    };

    explicit SynchronisedPlayback(QObject* parent = nullptr);

    // The comments that can start, in the project's order: where two share a second, the first
    // listed plays first and the others follow it, one at each commentEnded().
    void setComments(const QList<Comment>& comments);
    // Every comment may start again (a project opened, the video restarted with "|<").
    void rearm();
    // A comment the teacher has just seen (or recorded) does not start again by itself.
    void markPlayed(int number);
    bool hasPlayed(int number) const { return m_played.contains(number); }
    // The comment that starts at `positionMs`, 0 for none: the first of that whole second (never
    // the first second) that has neither played nor waits its turn.
    int due(qint64 positionMs) const;
    // The comments of the current second still waiting for the one playing to end.
    QList<int> waiting() const { return m_queue; }
    // While held (a recording runs), nothing starts and the waiting ones are dropped.
    void setHeld(bool held);
    bool isHeld() const { return m_held; }

public slots:
    void studentPositionChanged(qint64 ms);
    void studentPlayingChanged(bool playing);
    // The teacher played or paused the student's video: a pause of ours is theirs from now on.
    void teacherTookStudent();
    // The comment in the player ended, or was closed: the next one waiting starts, else a
    // student's video paused by ours plays again.
    void commentEnded();
    // The teacher stopped the comments (none chosen in the list): the waiting ones stay due.
    void dropWaiting();

signals:
    void commentDue(int number);
    void pauseStudent();
    void resumeStudent();

private:
    void start(int number);
    bool pauses(int number) const;

    QList<Comment> m_comments;
    QSet<int> m_played;
    // Due in the same second as the one playing, in the project's order.
    QList<int> m_queue;
    int m_queueKey = -1;
    qint64 m_lastMs = -1;
    bool m_playing = false;
    bool m_held = false;
    // The student's video was paused by a comment: it plays again at the end of its second's
    // comments.
    bool m_resumeStudent = false;
    // The comments of this second already paused the student's video once.
    bool m_pausedThisSecond = false;
};

} // namespace kel
