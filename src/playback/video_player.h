#pragma once

#include <QWidget>

class QMediaPlayer;
class QAudioOutput;
class QVideoWidget;

namespace kel {

// The file dialog's filter for a student's video: what phones, tablets, camcorders and DVDs give,
// in either case, then every file.
QString videoFileFilter();

// A video surface with its media player: the one wrapper through which the windows drive
// Qt Multimedia. States and times follow the player's own reports; `finished()` is emitted once
// when the media reaches its end.
class VideoPlayer : public QWidget {
    Q_OBJECT
public:
    explicit VideoPlayer(QWidget* parent = nullptr);
    ~VideoPlayer() override;

    void load(const QString& path);
    void play();
    void pause();
    void stop();
    void seek(qint64 ms);

    bool isPlaying() const;
    bool isPaused() const;
    // Milliseconds, truncated to 32 bits as every caller computes with them.
    int currentTime() const;
    int totalTime() const;
    QString source() const { return m_source; }
    void setMuted(bool muted);
    // Kept for every media loaded afterwards.
    void setPlaybackRate(double rate);
    double playbackRate() const { return m_rate; }

    QMediaPlayer* mediaPlayer() const { return m_player; }
    // Width / height of the picture as shown when its pixels are not square (PAL DV, for one),
    // 0 otherwise: the media back end would show such a video squeezed, so the player fits the
    // picture to this shape itself.
    double displayAspect() const { return m_displayAspect; }
    static double nonSquareDisplayAspect(const QString& path);

signals:
    void finished();
    void positionChanged(qint64 ms);
    void durationChanged(qint64 ms);
    void stateChanged();
    // A media that could not be loaded or decoded.
    void failed(const QString& message);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyPendingSeek();
    void placeVideo();

    QMediaPlayer* m_player;
    QAudioOutput* m_audio;
    QVideoWidget* m_video;
    QString m_source;
    qint64 m_pendingSeek = -1;
    double m_rate = 1.0;
    double m_displayAspect = 0;
};

} // namespace kel
