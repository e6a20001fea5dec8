#include "comment_player.h"

#include "common/buttons.h"
#include "common/timecode.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"

#include <QLabel>
#include <QPushButton>

namespace kel {

CommentPlayer::CommentPlayer(QWidget* host) : QObject(host) {
    m_player = new VideoPlayer(host);
    m_player->setObjectName(QStringLiteral("annotationPlayer"));
    m_player->setGeometry(507, 65, 443, 365);
    const QFont courier(QStringLiteral("Courier"), 10, QFont::Bold);
    m_play = textButton(host, "bPlayAnnotation", {506, 431, 31, 18}, QStringLiteral(">"), courier);
    m_pause =
        textButton(host, "bPauseAnnotation", {539, 431, 31, 18}, QStringLiteral("||"), courier);
    m_slider = new SeekSlider(host);
    m_slider->setObjectName(QStringLiteral("annotationSlider"));
    m_slider->setPlayer(m_player);
    m_slider->setGeometry(507, 450, 442, 15);
    m_time = new QLabel(QStringLiteral("00:00:00.000"), host);
    m_time->setObjectName(QStringLiteral("annotationTimeLabel"));
    m_time->setGeometry(580, 431, 141, 25);
    m_time->setFont(QFont(QStringLiteral("Courier"), 11, QFont::Bold));
    setShown(false);

    connect(m_play, &QPushButton::clicked, this, &CommentPlayer::resume);
    connect(m_pause, &QPushButton::clicked, this, &CommentPlayer::pause);
    connect(m_player, &VideoPlayer::finished, this, &CommentPlayer::finished);
    connect(m_player, &VideoPlayer::failed, this, &CommentPlayer::failed);
    connect(m_player, &VideoPlayer::positionChanged, m_time,
            [label = m_time](qint64 ms) { label->setText(clockText(ms)); });
    connect(m_player, &VideoPlayer::durationChanged, this, [this](qint64 ms) {
        if (ms > 0)
            emit lengthKnown(ms);
    });
}

QList<QWidget*> CommentPlayer::widgets() const {
    return {m_player, m_play, m_pause, m_slider, m_time};
}

void CommentPlayer::setShown(bool shown) {
    for (QWidget* w : widgets())
        w->setVisible(shown);
}

bool CommentPlayer::isShown() const {
    return !m_player->isHidden();
}

void CommentPlayer::play(const QString& path) {
    m_player->stop();
    m_player->load(path);
    m_player->play();
}

void CommentPlayer::unload() {
    m_player->stop();
    m_player->load(QString());
}

int CommentPlayer::pausedPosition() {
    if (!m_player->isPaused())
        return -1;
    const int position = m_player->currentTime();
    // The label may lag behind the player by one refresh; it must show what is stored.
    m_time->setText(clockText(position));
    return position;
}

void CommentPlayer::resume() {
    if (m_player->isPaused()) {
        const int p = m_player->currentTime();
        m_player->seek(p == m_player->totalTime() ? 0 : p);
    }
    m_player->play();
}

void CommentPlayer::pause() {
    if (!m_player->isPlaying())
        return;
    m_player->seek(m_player->currentTime());
    m_player->pause();
}

} // namespace kel
