#include "video_player.h"

#include <QAudioOutput>
#include <QFile>
#include <QMediaPlayer>
#include <QStringList>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <opencv2/videoio.hpp>

#include <cmath>

namespace kel {

QString videoFileFilter() {
    static const char* const kExtensions[] = {"avi", "wmv", "mp4",  "m4v", "mov", "3gp", "webm",
                                              "mkv", "mpg", "mpeg", "vob", "dv",  "mts", "m2ts"};
    QStringList patterns;
    for (const char* e : kExtensions)
        patterns << QStringLiteral("*.%1").arg(QLatin1String(e))
                 << QStringLiteral("*.%1").arg(QLatin1String(e).toString().toUpper());
    return QStringLiteral("Fichiers vidéo (%1);;Tous les fichiers (*)").arg(patterns.join(' '));
}

VideoPlayer::VideoPlayer(QWidget* parent)
    : QWidget(parent), m_player(new QMediaPlayer(this)), m_audio(new QAudioOutput(this)),
      m_video(new QVideoWidget(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The bars of a picture whose pixels are not square.
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    layout->addWidget(m_video);
    m_player->setAudioOutput(m_audio);
    m_player->setVideoOutput(m_video);

    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus s) {
        if (s == QMediaPlayer::LoadedMedia || s == QMediaPlayer::BufferedMedia)
            applyPendingSeek();
        if (s == QMediaPlayer::EndOfMedia)
            emit finished();
        else if (s == QMediaPlayer::InvalidMedia)
            emit failed(m_player->errorString());
    });
    connect(m_player, &QMediaPlayer::seekableChanged, this, &VideoPlayer::applyPendingSeek);
    connect(m_player, &QMediaPlayer::positionChanged, this, &VideoPlayer::positionChanged);
    connect(m_player, &QMediaPlayer::durationChanged, this, &VideoPlayer::durationChanged);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, &VideoPlayer::stateChanged);
}

VideoPlayer::~VideoPlayer() {
    m_player->stop();
}

double VideoPlayer::nonSquareDisplayAspect(const QString& path) {
    if (path.isEmpty())
        return 0;
    cv::VideoCapture capture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    if (!capture.isOpened())
        return 0;
    const double num = capture.get(cv::CAP_PROP_SAR_NUM);
    const double den = capture.get(cv::CAP_PROP_SAR_DEN);
    const double w = capture.get(cv::CAP_PROP_FRAME_WIDTH);
    const double h = capture.get(cv::CAP_PROP_FRAME_HEIGHT);
    // A turned picture is left to the back end (phones film in square pixels).
    if (num <= 0 || den <= 0 || w <= 0 || h <= 0 || std::abs(num / den - 1) < 0.01 ||
        int(capture.get(cv::CAP_PROP_ORIENTATION_META)) % 360 != 0)
        return 0;
    return w * num / den / h;
}

void VideoPlayer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeVideo();
}

void VideoPlayer::placeVideo() {
    auto* box = static_cast<QVBoxLayout*>(layout());
    if (m_displayAspect <= 0) {
        m_video->setAspectRatioMode(Qt::KeepAspectRatio);
        box->setContentsMargins(0, 0, 0, 0);
        return;
    }
    // Bars around a surface of the picture's shape, which the picture then fills.
    m_video->setAspectRatioMode(Qt::IgnoreAspectRatio);
    const int w = qMin(width(), int(std::lround(height() * m_displayAspect)));
    const int h = qMin(height(), int(std::lround(width() / m_displayAspect)));
    const int x = (width() - w) / 2;
    const int y = (height() - h) / 2;
    box->setContentsMargins(x, y, width() - w - x, height() - h - y);
}

void VideoPlayer::load(const QString& path) {
    m_displayAspect = nonSquareDisplayAspect(path);
    placeVideo();
    m_source = path;
    m_pendingSeek = -1;
    m_player->stop();
    // An unchanged URL would keep the media already loaded, an earlier take of the same name.
    m_player->setSource(QUrl());
    if (!path.isEmpty())
        m_player->setSource(QUrl::fromLocalFile(path));
    m_player->setPlaybackRate(m_rate);
}

void VideoPlayer::play() {
    m_player->play();
}
void VideoPlayer::pause() {
    m_player->pause();
}
void VideoPlayer::stop() {
    m_player->stop();
}
void VideoPlayer::seek(qint64 ms) {
    // A seek made before the media can seek would be lost: it waits until it can.
    m_pendingSeek = ms;
    applyPendingSeek();
}

void VideoPlayer::applyPendingSeek() {
    if (m_pendingSeek < 0 || !m_player->isSeekable() ||
        m_player->mediaStatus() == QMediaPlayer::LoadingMedia)
        return;
    const qint64 target = m_pendingSeek;
    m_pendingSeek = -1;
    m_player->setPosition(target);
}

bool VideoPlayer::isPlaying() const {
    return m_player->playbackState() == QMediaPlayer::PlayingState;
}

bool VideoPlayer::isPaused() const {
    return m_player->playbackState() == QMediaPlayer::PausedState;
}

int VideoPlayer::currentTime() const {
    return int(m_pendingSeek >= 0 ? m_pendingSeek : m_player->position());
}
int VideoPlayer::totalTime() const {
    return int(m_player->duration());
}

void VideoPlayer::setMuted(bool muted) {
    m_audio->setMuted(muted);
}
void VideoPlayer::setPlaybackRate(double rate) {
    m_rate = rate;
    m_player->setPlaybackRate(rate);
}

} // namespace kel
