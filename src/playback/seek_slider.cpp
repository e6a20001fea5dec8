#include "seek_slider.h"

#include "common/timecode.h"

#include "video_player.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <algorithm>

namespace kel {

namespace {
// Far enough from the handle's colours and from the groove's, filled or not, and outlined so that
// they stand out on either.
const QColor kPauseColour(0xe5, 0x39, 0x35);
const QColor kPlayColour(0xff, 0xb3, 0x00);
const QColor kOutline(0x20, 0x20, 0x20);
constexpr double kHandleOpacityOverMark = 0.45;

} // namespace

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

QRect SeekSlider::handleRect() const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    return style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
}

int SeekSlider::pixelOf(qint64 ms) const {
    const QRect handle = handleRect();
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

QList<int> SeekSlider::marksAt(int x) const {
    // A pixel of slack on each side: a mark is narrow for a pointer.
    constexpr int kReach = kMarkWidth / 2 + 1;
    QList<int> found;
    if (maximum() <= minimum())
        return found;
    for (int i = 0; i < m_marks.size(); ++i)
        if (qAbs(pixelOf(m_marks[i].ms) - x) <= kReach)
            found.append(i);
    std::stable_sort(found.begin(), found.end(), [this, x](int a, int b) {
        return qAbs(pixelOf(m_marks[a].ms) - x) < qAbs(pixelOf(m_marks[b].ms) - x);
    });
    return found;
}

QString SeekSlider::markToolTip(int x) const {
    QStringList lines;
    for (int i : marksAt(x))
        lines << QStringLiteral("Annotation n°%1 · %2")
                     .arg(m_marks[i].number)
                     .arg(minutesText(m_marks[i].ms));
    return lines.join(QLatin1Char('\n'));
}

bool SeekSlider::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = markToolTip(help->pos().x());
        if (!text.isEmpty()) {
            // Leaving the mark hides it, so that the slider's own tip shows again further on.
            const QRect area(help->pos().x() - kMarkWidth, 0, 2 * kMarkWidth, height());
            QToolTip::showText(help->globalPos(), text, this, area);
            return true;
        }
    }
    return QSlider::event(event);
}

void SeekSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const bool marked = !m_marks.isEmpty() && maximum() > minimum();

    opt.subControls = QStyle::SC_SliderGroove;
    style()->drawComplexControl(QStyle::CC_Slider, &opt, &painter, this);

    bool underHandle = false;
    const QRect handle = handleRect();
    if (marked) {
        for (const Mark& m : m_marks) {
            const QRect r(pixelOf(m.ms) - kMarkWidth / 2, 0, kMarkWidth, height());
            // Annotations that pause the video are red, the others amber.
            painter.fillRect(r, kOutline);
            painter.fillRect(r.adjusted(1, 1, -1, -1), m.pauses ? kPauseColour : kPlayColour);
            underHandle = underHandle || r.intersects(handle);
        }
    }

    // The handle lets the marks it stands on show through.
    if (underHandle)
        painter.setOpacity(kHandleOpacityOverMark);
    opt.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &opt, &painter, this);
}

void SeekSlider::mousePressEvent(QMouseEvent* event) {
    m_pressedMarkMs = -1;
    if (event->button() == Qt::LeftButton) {
        const QPoint at = event->position().toPoint();
        const QList<int> under = marksAt(at.x());
        if (!under.isEmpty()) {
            const qint64 ms = m_marks[under.first()].ms;
            if (!handleRect().contains(at)) {
                if (m_player)
                    m_player->seek(ms);
                event->accept();
                return;
            }
            // The handle stays draggable where it covers a mark.
            m_pressedMarkMs = ms;
            m_pressedX = at.x();
        }
        // A click on the groove goes where it points, not one page step towards it.
        if (under.isEmpty() && !handleRect().contains(at) && maximum() > minimum()) {
            const int half = handleRect().width() / 2;
            const int value = QStyle::sliderValueFromPosition(minimum(), maximum(), at.x() - half,
                                                              width() - 2 * half);
            setSliderPosition(value);
            if (m_player)
                m_player->seek(value);
            event->accept();
            return;
        }
    }
    QSlider::mousePressEvent(event);
}

void SeekSlider::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    const int moved = qAbs(event->position().toPoint().x() - m_pressedX);
    if (m_pressedMarkMs >= 0 && moved < QApplication::startDragDistance() && m_player)
        m_player->seek(m_pressedMarkMs);
    m_pressedMarkMs = -1;
}

} // namespace kel
