#include "recording_window.h"

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
}

RecordingWindow::~RecordingWindow() = default;

void RecordingWindow::showFrame(const cv::Mat& frame) {
    if (frame.empty() || frame.type() != CV_8UC3)
        return;
    if (m_image.width() != frame.cols || m_image.height() != frame.rows)
        m_image = QImage(frame.cols, frame.rows, QImage::Format_RGB32);
    cv::Mat target(m_image.height(), m_image.width(), CV_8UC4, m_image.bits(),
                   size_t(m_image.bytesPerLine()));
    cv::cvtColor(frame, target, cv::COLOR_BGR2BGRA);
    if (size() != m_image.size())
        setFixedSize(m_image.size());
    update();
}

void RecordingWindow::startCountdown(int from, int stepMs) {
    m_countdown = qMax(0, from);
    update();
    if (m_countdown == 0) {
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
    else
        painter.drawImage(0, 0, m_image);
    if (!isCountingDown())
        return;

    painter.setRenderHint(QPainter::Antialiasing);
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
    const QRect hint = rect().adjusted(0, 0, 0, -side / 30);
    const QString text = QStringLiteral("Échap : annuler");
    painter.setPen(Qt::black);
    painter.drawText(hint.translated(1, 1), Qt::AlignHCenter | Qt::AlignBottom, text);
    painter.setPen(Qt::white);
    painter.drawText(hint, Qt::AlignHCenter | Qt::AlignBottom, text);
}

} // namespace kel
