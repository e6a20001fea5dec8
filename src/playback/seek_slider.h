#pragma once

#include <QSlider>

namespace kel {

class VideoPlayer;

// Position slider bound to one player. Tracking is off: the player seeks when the handle is
// released, and the handle follows the player while it is not held.
class SeekSlider : public QSlider {
    Q_OBJECT
public:
    // An annotation on the timeline: its start in ms, whether it pauses the video, its number.
    struct Mark {
        qint64 ms = 0;
        bool pauses = false;
        int number = 0;
        bool operator==(const Mark& o) const {
            return ms == o.ms && pauses == o.pauses && number == o.number;
        }
    };
    // A mark's width on screen, its outline included.
    static constexpr int kMarkWidth = 7;

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
    // "Annotation n°2 · 00:37" for each mark under pixel `x`, one a line; empty if none.
    QString markToolTip(int x) const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Indexes of the marks drawn under pixel `x`, nearest first.
    QList<int> marksAt(int x) const;
    QRect handleRect() const;

    VideoPlayer* m_player = nullptr;
    QList<Mark> m_marks;
    // A press on the handle where it covers a mark: without a drag, the release goes to the mark.
    qint64 m_pressedMarkMs = -1;
    int m_pressedX = 0;
};

} // namespace kel
