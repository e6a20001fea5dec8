#include "recording_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>

#include <opencv2/imgproc.hpp>

namespace kel {

RecordingWindow::RecordingWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("recordingWindow"));
    setWindowTitle(QStringLiteral("Enregistrement en cours..."));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
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

void RecordingWindow::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat())
        emit stopRequested();
}

void RecordingWindow::closeEvent(QCloseEvent* event) {
    // Closed by its frame: the recording must not go on in a window that is gone.
    emit stopRequested();
    event->accept();
}

void RecordingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_image.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(0, 0, m_image);
}

} // namespace kel
