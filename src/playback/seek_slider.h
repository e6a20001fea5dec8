#pragma once

#include <QSlider>

namespace kel {

class VideoPlayer;

// Position slider bound to one player. Tracking is off: the player seeks when the handle is
// released, and the handle follows the player while it is not held.
class SeekSlider : public QSlider {
    Q_OBJECT
public:
    explicit SeekSlider(QWidget* parent = nullptr);
    void setPlayer(VideoPlayer* player);
    VideoPlayer* player() const { return m_player; }

private:
    VideoPlayer* m_player = nullptr;
};

} // namespace kel
