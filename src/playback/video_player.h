#pragma once

#include <QImage>
#include <QWidget>

#include <vector>

class QMediaPlayer;
class QAudioOutput;
class QProcess;
class QVideoFrame;
class QVideoWidget;

namespace kel {

class StillPictures;
class StillView;

// The file dialog's filter for a student's video: what phones, tablets, camcorders and DVDs give,
// in either case, then every file.
QString videoFileFilter();

// The copies with an index made of videos without one, in `folder`: the most recently used are
// kept, at most `count` of them and `bytes` in all, and those in `inUse` whatever their age or
// size; the others go, with copies left unfinished for over a day.
void pruneIndexedCopies(const QString& folder, const QStringList& inUse, int count = 5,
                        qint64 bytes = qint64(2) << 30);

// A video surface with its media player: the one wrapper through which the windows drive
// Qt Multimedia. States follow the player's own reports; `finished()` is emitted once when the
// media reaches its end. The back end places its picture and its position each its own way after
// a seek (a transport stream, a browser's WebM without index), so while the video stands still
// the picture is KEL's own decoding of the frame at the position, and while it plays the position
// is that of the frame on screen. The length is measured once, not taken from the header.
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
    // Milliseconds, truncated to 32 bits as every caller computes with them: the position of the
    // frame on screen, and the video's length, which the position never passes.
    int currentTime() const;
    int totalTime() const;
    // The time of the frame `frames` after (before, when negative) the one at `ms`; -1 when there
    // is none. `fallbackMs` is the frame length used while the frames' times are not yet known.
    qint64 frameFrom(qint64 ms, int frames, double fallbackMs) const;
    // The picture on screen, at the video's own size.
    QImage shownPicture() const;
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
    // A copy of the file with an index is being made, for jumps to play from the exact frame;
    // `notice` says so to the teacher, empty once done.
    void preparing(const QString& notice);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyPendingSeek();
    void placeVideo();
    void standStill(double ms);
    void showStill(bool still);
    void onFrame(const QVideoFrame& frame);
    void onState();
    void makeIndexedCopy();
    void stopIndexing();
    void useIndexedCopy(const QString& copy);
    void setCopyInUse(const QString& copy);

    QMediaPlayer* m_player;
    QAudioOutput* m_audio;
    QVideoWidget* m_video;
    QString m_source;
    qint64 m_pendingSeek = -1;
    double m_rate = 1.0;
    double m_displayAspect = 0;

    StillPictures* m_stills;
    StillView* m_stillView;
    std::vector<double> m_frames; // each frame's time, once measured
    double m_lengthMs = 0;        // 0 until measured
    // KEL's picture is (or is about to be) the one shown, for this position.
    bool m_still = false;
    double m_stillMs = 0;
    // The time of the frame the back end last put on screen while playing, and the back end's
    // time of the first frame, which its later frames count from.
    double m_playingMs = -1;
    double m_firstFrameStartMs = -1;
    QProcess* m_indexing = nullptr;
    QString m_copy; // the indexed copy playing, if any
};

} // namespace kel
