#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace kel {

class SeekSlider;
class VideoPlayer;

// The comment's player: its video, play and pause buttons, slider and time, created on a host
// window at their places (the window lays them out), with the rules of their buttons.
class CommentPlayer : public QObject {
    Q_OBJECT
public:
    explicit CommentPlayer(QWidget* host);

    VideoPlayer* player() const { return m_player; }
    QList<QWidget*> widgets() const;
    void setShown(bool shown);
    bool isShown() const;

    // Plays `path` from its start, replacing what played.
    void play(const QString& path);
    // Stops and lets go of the file.
    void unload();
    // The position where the player is paused, shown in the time as it will be stored; -1 when
    // it is not paused.
    int pausedPosition();

public slots:
    // ">": plays on from the pause, from the start once at the end.
    void resume();
    // "||"
    void pause();

signals:
    void finished();
    void failed(const QString& message);
    // The length of the file playing, once known.
    void lengthKnown(qint64 ms);

private:
    VideoPlayer* m_player;
    QPushButton* m_play;
    QPushButton* m_pause;
    SeekSlider* m_slider;
    QLabel* m_time;
};

} // namespace kel
