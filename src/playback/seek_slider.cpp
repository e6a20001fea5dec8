#include "seek_slider.h"

#include "video_player.h"

namespace kel {

SeekSlider::SeekSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTracking(false);
    setRange(0, 0);
    connect(this, &QSlider::sliderReleased, this, [this] {
        if (m_player)
            m_player->seek(sliderPosition());
    });
    // A click on the groove moves the value without a press-and-release of the handle.
    connect(this, &QSlider::actionTriggered, this, [this](int action) {
        if (m_player && action != QAbstractSlider::SliderMove && !isSliderDown())
            m_player->seek(sliderPosition());
    });
}

void SeekSlider::setPlayer(VideoPlayer* player) {
    if (m_player)
        disconnect(m_player, nullptr, this, nullptr);
    m_player = player;
    if (!player)
        return;
    connect(player, &VideoPlayer::durationChanged, this,
            [this](qint64 d) { setRange(0, int(qMax<qint64>(0, d))); });
    connect(player, &VideoPlayer::positionChanged, this, [this](qint64 p) {
        if (!isSliderDown()) {
            const QSignalBlocker block(this);
            setValue(int(p));
        }
    });
}

} // namespace kel
