#pragma once

#include <QSlider>

namespace kel {

class VideoPlayer;

// Position slider bound to one player. Tracking is off: the player seeks when the handle is
// released, and the handle follows the player while it is not held.
class SeekSlider : public QSlider {
    Q_OBJECT
public:
    // An annotation on the timeline: its start in ms, and whether it pauses the video.
    struct Mark {
        qint64 ms = 0;
        bool pauses = false;
        bool operator==(const Mark& o) const { return ms == o.ms && pauses == o.pauses; }
    };

    explicit SeekSlider(QWidget* parent = nullptr);
    void setPlayer(VideoPlayer* player);
    VideoPlayer* player() const { return m_player; }

    void setMarks(const QList<Mark>& marks);
    const QList<Mark>& marks() const { return m_marks; }
    // Horizontal pixel of a position on the groove (the centre of the handle standing there).
    int pixelOf(qint64 ms) const;
    // The mark after (or before) `ms`, or -1. Going back skips a mark less than a second behind,
    // so that repeated presses keep moving.
    qint64 nextMark(qint64 ms) const;
    qint64 previousMark(qint64 ms) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    VideoPlayer* m_player = nullptr;
    QList<Mark> m_marks;
};

} // namespace kel
