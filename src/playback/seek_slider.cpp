#include "seek_slider.h"

#include "video_player.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

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

void SeekSlider::setMarks(const QList<Mark>& marks) {
    if (marks == m_marks)
        return;
    m_marks = marks;
    update();
}

int SeekSlider::pixelOf(qint64 ms) const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const int span = width() - handle.width();
    const int value = int(qBound(qint64(minimum()), ms, qint64(maximum())));
    return QStyle::sliderPositionFromValue(minimum(), maximum(), value, span) + handle.width() / 2;
}

qint64 SeekSlider::nextMark(qint64 ms) const {
    qint64 best = -1;
    for (const Mark& m : m_marks)
        if (m.ms > ms && (best < 0 || m.ms < best))
            best = m.ms;
    return best;
}

qint64 SeekSlider::previousMark(qint64 ms) const {
    constexpr qint64 kGraceMs = 1000;
    qint64 best = -1;
    for (const Mark& m : m_marks)
        if (m.ms < ms - kGraceMs && m.ms > best)
            best = m.ms;
    return best;
}

void SeekSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (m_marks.isEmpty() || maximum() <= minimum())
        return;
    QPainter painter(this);
    for (const Mark& m : m_marks) {
        const int x = pixelOf(m.ms);
        // Annotations that pause the video stand out in red and full height.
        if (m.pauses)
            painter.fillRect(x - 1, 0, 3, height(), QColor(0xe5, 0x39, 0x35));
        else
            painter.fillRect(x - 1, height() / 4, 3, height() / 2, QColor(0x1e, 0x5a, 0xa8));
    }
}

void SeekSlider::mousePressEvent(QMouseEvent* event) {
    constexpr int kGrabPx = 4;
    if (m_player && event->button() == Qt::LeftButton) {
        for (const Mark& m : m_marks) {
            if (qAbs(pixelOf(m.ms) - event->position().toPoint().x()) <= kGrabPx) {
                m_player->seek(m.ms);
                event->accept();
                return;
            }
        }
    }
    QSlider::mousePressEvent(event);
}

} // namespace kel
