#include "video_player.h"

#include "still_pictures.h"

#include "common/encoder_job.h"

#include <QAudioOutput>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMediaPlayer>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cmath>

namespace kel {

// The still picture, in the video surface's place: a native video window would cover a widget
// laid over it.
class StillView : public QWidget {
public:
    using QWidget::QWidget;
    QImage picture;
    bool fill = false; // the surface already has the picture's shape

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (picture.isNull())
            return;
        QSize size = picture.size();
        size.scale(this->size(), fill ? Qt::IgnoreAspectRatio : Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                           size);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, picture);
    }
};

QString videoFileFilter() {
    static const char* const kExtensions[] = {"avi", "wmv", "mp4",  "m4v", "mov", "3gp", "webm",
                                              "mkv", "mpg", "mpeg", "vob", "dv",  "mts", "m2ts"};
    QStringList patterns;
    for (const char* e : kExtensions)
        patterns << QStringLiteral("*.%1").arg(QLatin1String(e))
                 << QStringLiteral("*.%1").arg(QLatin1String(e).toString().toUpper());
    return QStringLiteral("Fichiers vidéo (%1);;Tous les fichiers (*)").arg(patterns.join(' '));
}

namespace {
// The indexed copies the players of this process are playing, each with its number of players.
QHash<QString, int>& copiesInUse() {
    static QHash<QString, int> copies;
    return copies;
}
} // namespace

void pruneIndexedCopies(const QString& folder, const QStringList& inUse, int count, qint64 bytes) {
    const QDir dir(folder);
    const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1);
    // One being written grows, so its time is recent.
    for (const QFileInfo& part : dir.entryInfoList({"*.mkv.part"}, QDir::Files | QDir::NoSymLinks))
        if (part.lastModified() < dayAgo)
            QFile::remove(part.absoluteFilePath());
    QFileInfoList copies = dir.entryInfoList({"*.mkv"}, QDir::Files | QDir::NoSymLinks, QDir::Time);
    const auto used = [&](const QFileInfo& f) {
        return inUse.contains(f.absoluteFilePath()) || inUse.contains(f.filePath());
    };
    int kept = 0;
    qint64 keptBytes = 0;
    for (const QFileInfo& f : copies)
        if (used(f)) {
            ++kept;
            keptBytes += f.size();
        }
    for (const QFileInfo& f : copies) { // most recently used first
        if (used(f))
            continue;
        if (kept < count && keptBytes + f.size() <= bytes) {
            ++kept;
            keptBytes += f.size();
        } else {
            QFile::remove(f.absoluteFilePath());
        }
    }
}

VideoPlayer::VideoPlayer(QWidget* parent)
    : QWidget(parent), m_player(new QMediaPlayer(this)), m_audio(new QAudioOutput(this)),
      m_video(new QVideoWidget(this)), m_stills(new StillPictures(this)),
      m_stillView(new StillView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The bars of a picture whose pixels are not square.
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    layout->addWidget(m_video);
    // The still stands in the surface's place, which stays laid out while hidden.
    m_stillView->hide();
    QSizePolicy policy = m_video->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_video->setSizePolicy(policy);
    m_player->setAudioOutput(m_audio);
    m_player->setVideoOutput(m_video);

    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus s) {
        if (s == QMediaPlayer::LoadedMedia || s == QMediaPlayer::BufferedMedia)
            applyPendingSeek();
        if (s == QMediaPlayer::EndOfMedia) {
            // The last frame stays, whatever the back end leaves on its surface.
            standStill(totalTime());
            emit finished();
        } else if (s == QMediaPlayer::InvalidMedia)
            emit failed(m_player->errorString());
    });
    connect(m_player, &QMediaPlayer::seekableChanged, this, &VideoPlayer::applyPendingSeek);
    connect(m_player, &QMediaPlayer::positionChanged, this,
            [this] { emit positionChanged(currentTime()); });
    connect(m_player, &QMediaPlayer::durationChanged, this, [this](qint64 ms) {
        if (m_lengthMs <= 0)
            emit durationChanged(ms);
    });
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, [this] {
        onState();
        emit stateChanged();
    });
    connect(m_video->videoSink(), &QVideoSink::videoFrameChanged, this, &VideoPlayer::onFrame);
    connect(m_stills, &StillPictures::scanned, this,
            [this](const std::vector<double>& times, double endMs, bool seekable) {
                m_frames = times;
                m_lengthMs = endMs;
                emit durationChanged(totalTime());
                if (!seekable)
                    makeIndexedCopy();
            });
    connect(m_stills, &StillPictures::decoded, this,
            [this](double requestMs, double, const QImage& picture) {
                if (!m_still || requestMs != m_stillMs)
                    return; // a position asked for earlier
                m_stillView->picture = picture;
                m_stillView->update();
                showStill(true);
            });
}

// The back end lands seconds away from a jump in a transport stream or a file without index, and
// plays from there: a copy with an index, made once and kept in the cache, plays from the frame.
void VideoPlayer::makeIndexedCopy() {
    const QFileInfo info(m_source);
    const QString ffmpeg = EncoderJob::findFfmpeg();
    const QString folder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)).filePath("indexed");
    if (ffmpeg.isEmpty() || !QDir().mkpath(folder))
        return;
    const QByteArray key = (info.absoluteFilePath() + QString::number(info.size()) +
                            QString::number(info.lastModified().toMSecsSinceEpoch()))
                               .toUtf8();
    const QString copy = QDir(folder).filePath(
        QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex() + ".mkv");
    if (QFileInfo(copy).isFile()) {
        useIndexedCopy(copy);
        pruneIndexedCopies(folder, copiesInUse().keys());
        return;
    }
    const QString part = copy + ".part";
    QFile::remove(part);
    m_indexing = new QProcess(this);
    const QString source = m_source;
    connect(m_indexing, &QProcess::finished, this,
            [this, process = m_indexing, source, folder, part, copy](int code,
                                                                     QProcess::ExitStatus status) {
                process->deleteLater();
                if (m_indexing == process)
                    m_indexing = nullptr;
                emit preparing(QString());
                if (status != QProcess::NormalExit || code != 0 || !QFile::rename(part, copy)) {
                    QFile::remove(part);
                    return;
                }
                if (source == m_source)
                    useIndexedCopy(copy);
                pruneIndexedCopies(folder, copiesInUse().keys() << copy);
            });
    emit preparing(QStringLiteral("Préparation des sauts précis dans cette vidéo…"));
    m_indexing->start(ffmpeg,
                      {"-nostdin", "-y", "-loglevel", "error", "-i", m_source, "-map", "0:v:0",
                       "-map", "0:a?", "-c", "copy", "-dn", "-sn", "-f", "matroska", part});
}

// The copies' times say which were used last.
void VideoPlayer::setCopyInUse(const QString& copy) {
    if (copy == m_copy)
        return;
    if (!m_copy.isEmpty() && --copiesInUse()[m_copy] <= 0)
        copiesInUse().remove(m_copy);
    m_copy = copy;
    if (copy.isEmpty())
        return;
    ++copiesInUse()[copy];
    QFile file(copy);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
}

void VideoPlayer::useIndexedCopy(const QString& copy) {
    setCopyInUse(copy);
    const bool playing = isPlaying();
    const qint64 position = currentTime();
    m_player->setSource(QUrl::fromLocalFile(copy));
    m_player->setPlaybackRate(m_rate);
    // The copy's frames carry the times KEL reads.
    m_firstFrameStartMs = m_frames.empty() ? 0 : m_frames.front();
    m_pendingSeek = position;
    if (playing) {
        m_player->play();
    } else {
        m_player->pause();
        standStill(double(position));
    }
    applyPendingSeek();
}

void VideoPlayer::showStill(bool still) {
    m_stillView->setVisible(still);
    m_video->setVisible(!still);
}

// Asks for KEL's picture of the frame at `ms`; the position is that from now on.
void VideoPlayer::standStill(double ms) {
    // A time cut to the millisecond (a position, the back end's frame time) stands for the frame
    // that starts within that millisecond, as for a step from it.
    const auto next = std::lower_bound(m_frames.begin(), m_frames.end(), ms);
    if (next != m_frames.end() && *next < ms + 1)
        ms = *next;
    m_still = true;
    m_stillMs = totalTime() > 0 ? std::clamp(ms, 0.0, double(totalTime())) : std::max(ms, 0.0);
    m_stills->request(m_stillMs);
}

void VideoPlayer::onFrame(const QVideoFrame& frame) {
    if (!frame.isValid() || frame.startTime() < 0)
        return;
    const double start = frame.startTime() / 1000.0;
    // The first frame after a load is the video's first.
    if (m_firstFrameStartMs < 0)
        m_firstFrameStartMs = start;
    if (!isPlaying())
        return; // a picture made ready by a seek, covered by KEL's own
    m_playingMs = start - m_firstFrameStartMs + (m_frames.empty() ? 0 : m_frames.front());
    if (m_still) {
        // Playing: the back end's pictures take over from the first new one.
        m_still = false;
        showStill(false);
    }
}

void VideoPlayer::onState() {
    const QMediaPlayer::PlaybackState state = m_player->playbackState();
    if (state == QMediaPlayer::PausedState && !m_still) {
        // The frame last on screen, or the one a jump asked for while the pause was on its way.
        if (m_pendingSeek >= 0)
            standStill(double(m_pendingSeek));
        else
            standStill(m_playingMs >= 0 ? m_playingMs : double(m_player->position()));
    } else if (state == QMediaPlayer::StoppedState &&
               m_player->mediaStatus() != QMediaPlayer::EndOfMedia) {
        m_still = false;
        m_playingMs = -1;
        showStill(false);
    }
}

VideoPlayer::~VideoPlayer() {
    stopIndexing();
    setCopyInUse(QString());
    // The media player and its surface go after this object: what they report then is not heard.
    m_video->videoSink()->disconnect(this);
    m_player->disconnect(this);
    m_stills->disconnect(this);
    m_player->stop();
}

// The copy of another file is not waited for; its part is removed when the process ends.
void VideoPlayer::stopIndexing() {
    if (QProcess* process = m_indexing) {
        process->kill();
        process->waitForFinished(1000);
    }
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
        m_stillView->setGeometry(rect());
        return;
    }
    // Bars around a surface of the picture's shape, which the picture then fills.
    m_video->setAspectRatioMode(Qt::IgnoreAspectRatio);
    const int w = qMin(width(), int(std::lround(height() * m_displayAspect)));
    const int h = qMin(height(), int(std::lround(width() / m_displayAspect)));
    const int x = (width() - w) / 2;
    const int y = (height() - h) / 2;
    box->setContentsMargins(x, y, width() - w - x, height() - h - y);
    m_stillView->setGeometry(x, y, w, h);
}

void VideoPlayer::load(const QString& path) {
    m_displayAspect = nonSquareDisplayAspect(path);
    placeVideo();
    m_source = path;
    m_pendingSeek = -1;
    m_frames.clear();
    m_lengthMs = 0;
    m_firstFrameStartMs = -1;
    stopIndexing();
    setCopyInUse(QString());
    m_stillView->fill = m_displayAspect > 0;
    m_stills->open(path);
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
    if (m_lengthMs > 0)
        ms = std::min(ms, qint64(m_lengthMs));
    ms = std::max<qint64>(ms, 0);
    if (isPlaying())
        m_playingMs = double(ms); // until the back end shows its first frame from there
    else
        standStill(double(ms));
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
    double ms = double(m_player->position());
    if (m_still)
        ms = m_stillMs;
    else if (m_pendingSeek >= 0)
        ms = double(m_pendingSeek);
    else if (isPlaying() && m_playingMs >= 0)
        ms = m_playingMs;
    // A length not known yet bounds nothing.
    const int length = totalTime();
    return int(length > 0 ? std::clamp(ms, 0.0, double(length)) : std::max(ms, 0.0));
}

int VideoPlayer::totalTime() const {
    return int(m_lengthMs > 0 ? m_lengthMs : m_player->duration());
}

qint64 VideoPlayer::frameFrom(qint64 ms, int frames, double fallbackMs) const {
    if (m_frames.empty()) {
        const qint64 n = qint64(ms + frames * fallbackMs);
        return n >= 0 ? n : -1;
    }
    // The frame shown at `ms` is the last one that starts at or before it.
    const auto after = std::upper_bound(m_frames.begin(), m_frames.end(), double(ms) + 0.999);
    const qint64 i = qint64(after - m_frames.begin()) - 1 + frames;
    if (i < 0 || i >= qint64(m_frames.size()))
        return -1;
    // Rounded up: truncated back, the time still falls in that frame.
    return qint64(std::ceil(m_frames[size_t(i)]));
}

QImage VideoPlayer::shownPicture() const {
    if (!m_stillView->isHidden())
        return m_stillView->picture;
    return m_video->videoSink()->videoFrame().toImage();
}

void VideoPlayer::setMuted(bool muted) {
    m_audio->setMuted(muted);
}
void VideoPlayer::setPlaybackRate(double rate) {
    m_rate = rate;
    m_player->setPlaybackRate(rate);
}

} // namespace kel
