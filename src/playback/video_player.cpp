#include "video_player.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace kel {

VideoPlayer::VideoPlayer(QWidget* parent)
    : QWidget(parent), m_player(new QMediaPlayer(this)), m_audio(new QAudioOutput(this)),
      m_video(new QVideoWidget(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
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

void VideoPlayer::load(const QString& path) {
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
