#include "recording_window.h"

#include "common/timecode.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include <opencv2/imgproc.hpp>

namespace kel {

RecordingWindow::RecordingWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("recordingWindow"));
    setWindowTitle(QStringLiteral("Enregistrement en cours..."));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_countdownTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_countdownTimer, &QTimer::timeout, this, &RecordingWindow::step);
    // Repaints only when the time shown changes; a new frame repaints anyway.
    m_clockTimer.setInterval(200);
    connect(&m_clockTimer, &QTimer::timeout, this, [this] {
        if (elapsedText() != m_shownElapsed)
            update();
    });
}

RecordingWindow::~RecordingWindow() = default;

void RecordingWindow::showFrame(const cv::Mat& frame) {
    if (frame.empty() || frame.type() != CV_8UC3)
        return;
    const bool resized = m_image.width() != frame.cols || m_image.height() != frame.rows;
    if (resized)
        m_image = QImage(frame.cols, frame.rows, QImage::Format_RGB32);
    cv::Mat target(m_image.height(), m_image.width(), CV_8UC4, m_image.bits(),
                   size_t(m_image.bytesPerLine()));
    cv::cvtColor(frame, target, cv::COLOR_BGR2BGRA);
    cv::flip(target, target, 1);
    // Only a new size moves the window: the teacher may have moved it meanwhile.
    if (resized)
        reposition();
    update();
}

void RecordingWindow::placeOver(const QRect& globalArea) {
    m_area = globalArea;
    reposition();
}

void RecordingWindow::reposition() {
    QSize size = m_image.isNull() ? QSize(640, 480) : m_image.size();
    if (m_area.isEmpty()) {
        if (!m_image.isNull() && this->size() != size)
            setFixedSize(size);
        return;
    }
    // The frame's decorations stay inside the area too; they are known once the window shows.
    const QRect frame = frameGeometry(), inner = geometry();
    const QMargins decorations(inner.left() - frame.left(), inner.top() - frame.top(),
                               frame.right() - inner.right(), frame.bottom() - inner.bottom());
    const QRect room = m_area.marginsRemoved(decorations);
    if (size.width() > room.width() || size.height() > room.height())
        size = size.scaled(room.size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(room.center());
    setFixedSize(size);
    setGeometry(target);
}

void RecordingWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reposition();
}

void RecordingWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // The window manager tells the size of its decorations once the window is up: placed again
    // then, they stay inside the area too.
    if (!m_decorationsKnown && frameGeometry() != geometry()) {
        m_decorationsKnown = true;
        reposition();
    }
}

void RecordingWindow::startRecordingClock() {
    m_recordingClock.start();
    m_clockTimer.start();
    update();
}

QString RecordingWindow::elapsedText() const {
    if (!isRecording())
        return QString();
    return minutesText(m_recordingClock.elapsed());
}

void RecordingWindow::startCountdown(int from, int stepMs) {
    m_countdown = qMax(0, from);
    update();
    if (m_countdown == 0) {
        startRecordingClock();
        emit countdownFinished();
        return;
    }
    emit countdownChanged(m_countdown);
    m_countdownTimer.start(qMax(1, stepMs));
}

void RecordingWindow::step() {
    if (m_countdown <= 0)
        return;
    --m_countdown;
    update();
    emit countdownChanged(m_countdown);
    if (m_countdown == 0) {
        m_countdownTimer.stop();
        startRecordingClock();
        emit countdownFinished();
    }
}

void RecordingWindow::cancelCountdown() {
    m_countdownTimer.stop();
    m_countdown = 0;
    update();
    emit cancelRequested();
}

void RecordingWindow::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (event->isAutoRepeat())
        return;
    // Space while counting down is ignored: it may be the key that closed the message before.
    if (isCountingDown()) {
        if (event->key() == Qt::Key_Escape)
            cancelCountdown();
    } else if (event->key() == Qt::Key_Space) {
        emit stopRequested();
    }
}

void RecordingWindow::closeEvent(QCloseEvent* event) {
    // Closed by its frame: the recording must not go on, or start, in a window that is gone.
    if (isCountingDown())
        cancelCountdown();
    else
        emit stopRequested();
    event->accept();
}

void RecordingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_image.isNull())
        painter.fillRect(rect(), Qt::black);
    else if (m_image.size() == size())
        painter.drawImage(0, 0, m_image);
    else
        painter.drawImage(rect(), m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isCountingDown())
        paintCountdown(painter);
    else if (isRecording())
        paintRecordingMark(painter);
}

namespace {
// White text with a dark outline, readable on any picture.
void drawOutlined(QPainter& painter, const QRect& box, int flags, const QString& text) {
    painter.setPen(Qt::black);
    for (const QPoint& d : {QPoint(1, 1), QPoint(-1, -1), QPoint(1, -1), QPoint(-1, 1)})
        painter.drawText(box.translated(d), flags, text);
    painter.setPen(Qt::white);
    painter.drawText(box, flags, text);
}
} // namespace

void RecordingWindow::paintRecordingMark(QPainter& painter) {
    const int side = qMin(width(), height());
    const int margin = qMax(6, side / 30);
    const int dot = qMax(10, side / 18);
    m_shownElapsed = elapsedText();

    QFont font = this->font();
    font.setBold(true);
    font.setPixelSize(qMax(12, side / 16));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int textWidth = metrics.horizontalAdvance(m_shownElapsed);
    // A dark band under the mark and the time, the picture still visible through it.
    const QRect band(margin, margin, dot + textWidth + 3 * margin,
                     qMax(dot, metrics.height()) + margin);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 120));
    painter.drawRoundedRect(band, margin / 2.0, margin / 2.0);
    painter.setBrush(QColor(220, 0, 0));
    painter.drawEllipse(QRect(band.left() + margin, band.center().y() - dot / 2, dot, dot));
    const QRect timeBox(band.left() + 2 * margin + dot, band.top(), textWidth + margin,
                        band.height());
    drawOutlined(painter, timeBox, Qt::AlignLeft | Qt::AlignVCenter, m_shownElapsed);

    QFont small = this->font();
    small.setPixelSize(qMax(10, side / 20));
    painter.setFont(small);
    drawOutlined(painter, rect().adjusted(0, 0, 0, -side / 30), Qt::AlignHCenter | Qt::AlignBottom,
                 QStringLiteral("Espace : terminer"));
}

void RecordingWindow::paintCountdown(QPainter& painter) {
    const int side = qMin(width(), height());
    // A dark disc keeps the white figure readable on any picture; the picture stays visible.
    const int radius = side * 3 / 10;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 110));
    painter.drawEllipse(rect().center(), radius, radius);

    QFont font = this->font();
    font.setBold(true);
    font.setPixelSize(qMax(12, side * 2 / 5));
    QPainterPath figure;
    figure.addText(0, 0, font, QString::number(m_countdown));
    const QRectF box = figure.boundingRect();
    figure.translate(QPointF(rect().center()) - box.center());
    painter.strokePath(
        figure, QPen(Qt::black, qMax(2, side / 80), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(figure, Qt::white);

    QFont small = this->font();
    small.setPixelSize(qMax(10, side / 20));
    painter.setFont(small);
    drawOutlined(painter, rect().adjusted(0, 0, 0, -side / 30), Qt::AlignHCenter | Qt::AlignBottom,
                 QStringLiteral("Échap : annuler"));
}

} // namespace kel
