#include "montage_sinks.h"

#include "common/encoder_job.h"
#include "export/yuv_picture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace kel {

namespace {

const char* const kX264Preset = "veryfast";

class RawAviSink : public MontageSink {
public:
    RawAviSink(QString path, QString shownPath, cv::Size size, double fps)
        : m_path(std::move(path)), m_shown(std::move(shownPath)), m_size(size), m_fps(fps) {}
    ~RawAviSink() override {
        close();
        sws_freeContext(m_toBgr);
    }

    bool open(QString* error) override {
        const QByteArray url = "file:" + QFile::encodeName(QFileInfo(m_path).absoluteFilePath());
        AVStream* stream = nullptr;
        bool ok = avformat_alloc_output_context2(&m_out, nullptr, "avi", nullptr) >= 0 &&
                  (stream = avformat_new_stream(m_out, nullptr)) != nullptr;
        if (ok) {
            stream->time_base = AVRational{1, int(m_fps)};
            stream->avg_frame_rate = stream->r_frame_rate = AVRational{int(m_fps), 1};
            AVCodecParameters* p = stream->codecpar;
            p->codec_type = AVMEDIA_TYPE_VIDEO;
            p->codec_id = AV_CODEC_ID_RAWVIDEO;
            // An uncompressed DIB (the muxer writes the tag BI_RGB), stored bottom up as
            // players expect it, so that the header keeps a positive height.
            static const char kBottomUp[] = "BottomUp";
            p->extradata =
                static_cast<uint8_t*>(av_mallocz(sizeof(kBottomUp) + AV_INPUT_BUFFER_PADDING_SIZE));
            if (p->extradata) {
                std::memcpy(p->extradata, kBottomUp, sizeof(kBottomUp));
                p->extradata_size = int(sizeof(kBottomUp));
            }
            p->format = AV_PIX_FMT_BGR24;
            p->bits_per_coded_sample = 24;
            p->width = m_size.width;
            p->height = m_size.height;
            ok = avio_open(&m_out->pb, url.constData(), AVIO_FLAG_WRITE) >= 0 &&
                 avformat_write_header(m_out, nullptr) >= 0;
        }
        if (!ok) {
            *error = QStringLiteral("Impossible de créer le fichier « %1 ». L'export est annulé.")
                         .arg(QDir::toNativeSeparators(m_shown));
            close();
            return false;
        }
        m_toBgr =
            sws_getContext(m_size.width, m_size.height, AV_PIX_FMT_YUV420P, m_size.width,
                           m_size.height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_toBgr) {
            *error = QStringLiteral("La conversion des images du montage n'a pas pu démarrer.");
            close();
            return false;
        }
        m_stream = stream;
        // Rows padded to 4 bytes, as in any DIB.
        m_rowBytes = (m_size.width * 3 + 3) & ~3;
        m_buffer.resize(qsizetype(m_rowBytes) * m_size.height);
        m_buffer.fill(0);
        return true;
    }

    bool write(const cv::Mat& frame, QString* error) override {
        // Converted as ffmpeg converts, so that what reads the file back as 4:2:0 finds the
        // montage's own pixels; written bottom up straight into the packet.
        const yuv::SwsPlanes src = yuv::swsPlanes(frame);
        uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(m_buffer.data()) +
                               qsizetype(m_size.height - 1) * m_rowBytes,
                           nullptr, nullptr, nullptr};
        const int dstStride[4] = {-m_rowBytes, 0, 0, 0};
        sws_scale(m_toBgr, src.data, src.linesize, 0, m_size.height, dst, dstStride);
        AVPacket* packet = av_packet_alloc();
        packet->data = reinterpret_cast<uint8_t*>(m_buffer.data());
        packet->size = int(m_buffer.size());
        packet->stream_index = m_stream->index;
        packet->pts = packet->dts = m_frames;
        packet->duration = 1;
        packet->flags |= AV_PKT_FLAG_KEY;
        av_packet_rescale_ts(packet, AVRational{1, int(m_fps)}, m_stream->time_base);
        const int written = av_write_frame(m_out, packet);
        av_packet_free(&packet);
        if (written < 0 || m_out->pb->error < 0) {
            *error = diskFullMessage(m_shown);
            return false;
        }
        ++m_frames;
        return true;
    }

    bool finish(QString* error) override {
        bool ok = av_write_trailer(m_out) >= 0;
        avio_flush(m_out->pb);
        ok = ok && m_out->pb->error >= 0;
        ok = avio_closep(&m_out->pb) >= 0 && ok;
        close();
        if (!ok)
            *error = diskFullMessage(m_shown);
        return ok;
    }

    void abort() override { close(); }

private:
    void close() {
        if (!m_out)
            return;
        if (m_out->pb)
            avio_closep(&m_out->pb);
        avformat_free_context(m_out);
        m_out = nullptr;
    }

    QString m_path;
    QString m_shown;
    cv::Size m_size;
    double m_fps;
    AVFormatContext* m_out = nullptr;
    AVStream* m_stream = nullptr;
    int m_rowBytes = 0;
    SwsContext* m_toBgr = nullptr;
    QByteArray m_buffer;
    int64_t m_frames = 0;
};

class EncoderSink : public MontageSink {
public:
    EncoderSink(QString path, QString shownPath, const MontageGeometry& g, QString program,
                const EncoderSettings& settings, const std::atomic<bool>& cancel)
        : m_path(std::move(path)), m_shown(std::move(shownPath)), m_g(g),
          m_program(std::move(program)), m_s(settings), m_cancel(cancel) {}

    bool open(QString* error) override {
        m_job = std::make_unique<EncoderJob>();
        m_job->setProgram(m_program);
        m_job->setFeedsInput(true);
        m_job->setCancelFlag(&m_cancel);
        m_job->setOutputPath(m_path);
        const QString size = QStringLiteral("%1x%2").arg(m_g.frameWidth).arg(m_g.frameHeight);
        m_job->setArguments(
            {QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-nostats"),
             QStringLiteral("-loglevel"), QStringLiteral("error"),
             // input: the montage's raw frames
             QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
             QStringLiteral("yuv420p"), QStringLiteral("-s"), size, QStringLiteral("-r"),
             QString::number(m_s.fps), QStringLiteral("-i"), QStringLiteral("pipe:0"),
             // output
             QStringLiteral("-an"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
             QStringLiteral("-preset"), QString::fromLatin1(kX264Preset),
             // AVI keeps no presentation times: with B-frames a player shows every picture a few
             // frames late, behind the subtitles.
             QStringLiteral("-bf"), QStringLiteral("0"), QStringLiteral("-b:v"),
             QStringLiteral("%1k").arg(m_s.bitRate > 0 ? m_s.bitRate
                                                       : montageBitRate(m_g.frameWidth)),
             QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-r"),
             QString::number(m_s.outputFps)});
        QStringList container{QStringLiteral("-f"), QStringLiteral("avi")};
        if (m_s.mp4) {
            // Players guess an untagged picture's matrix by its size: the frames' own is told.
            const QString matrix =
                m_s.bt709 ? QStringLiteral("bt709") : QStringLiteral("smpte170m");
            container = QStringList{QStringLiteral("-colorspace"),  matrix,
                                    QStringLiteral("-color_range"), QStringLiteral("tv"),
                                    QStringLiteral("-f"),           QStringLiteral("mp4")};
            // The index first, so that a browser or a phone plays while it downloads.
            if (m_s.faststart)
                container << QStringLiteral("-movflags") << QStringLiteral("+faststart");
        }
        m_job->setArguments(m_job->arguments() + container +
                            QStringList{QFileInfo(m_path).absoluteFilePath()});
        if (!m_job->start()) {
            *error = QStringLiteral("La compression du montage n'a pas pu démarrer : %1")
                         .arg(m_job->errorText());
            return false;
        }
        return true;
    }

    bool write(const cv::Mat& frame, QString* error) override {
        // The frames are already the 4:2:0 that ffmpeg reads: half the bytes of BGR through the
        // pipe, and ffmpeg's time left to the encoder.
        if (frame.cols != m_g.frameWidth || frame.rows != m_g.frameHeight * 3 / 2) {
            *error = QStringLiteral("Image du montage de taille inattendue.");
            return false;
        }
        if (m_job->writeFrame(frame))
            return true;
        if (m_cancel)
            return false;
        if (m_job->isRunning() && !m_job->hasStalled())
            m_job->waitForFinished(5000); // ffmpeg ending on an error: its last words
        *error = failure();
        return false;
    }

    bool finish(QString* error) override {
        if (!m_job->closeInput() || !m_job->waitForFinished(kFinishMs)) {
            if (!m_cancel)
                *error = failure();
            return false;
        }
        if (m_job->result() == EncoderJob::Result::Succeeded)
            return true;
        *error = failure();
        return false;
    }

    void abort() override {
        if (m_job)
            m_job->stop(1000);
    }

private:
    // After its input has ended, ffmpeg only writes what it holds.
    static constexpr int kFinishMs = 60000;

    QString failure() const {
        const QString log = m_job->log().join(QLatin1Char('\n'));
        if (log.contains(QLatin1String("No space left")) ||
            log.contains(QLatin1String("File too large")))
            return diskFullMessage(m_shown);
        if (m_job->isRunning() || m_job->hasStalled())
            return QStringLiteral("ffmpeg ne répond plus : la compression du montage est "
                                  "abandonnée.");
        return QStringLiteral("La compression du montage par ffmpeg a échoué. %1")
            .arg(m_job->errorText());
    }

    QString m_path;
    QString m_shown;
    MontageGeometry m_g;
    QString m_program;
    EncoderSettings m_s;
    const std::atomic<bool>& m_cancel;
    std::unique_ptr<EncoderJob> m_job;
};

} // namespace

QString diskFullMessage(const QString& path) {
    return QStringLiteral("L'écriture du fichier « %1 » a échoué (disque plein ?). L'export est "
                          "annulé.")
        .arg(QDir::toNativeSeparators(path));
}

std::unique_ptr<MontageSink> makeRawAviSink(const QString& path, const QString& shownPath,
                                            cv::Size size, double fps) {
    return std::make_unique<RawAviSink>(path, shownPath, size, fps);
}

std::unique_ptr<MontageSink> makeEncoderSink(const QString& path, const QString& shownPath,
                                             const MontageGeometry& g, const QString& program,
                                             const EncoderSettings& settings,
                                             const std::atomic<bool>& cancel) {
    return std::make_unique<EncoderSink>(path, shownPath, g, program, settings, cancel);
}

bool addChapters(const QString& program, const QString& in, const QByteArray& metadata,
                 const QString& out, const QString& shownPath, const std::atomic<bool>& cancel,
                 QString* error) {
    EncoderJob job;
    job.setProgram(program);
    job.setCancelFlag(&cancel);
    job.setFeedsInput(true); // the chapters, through a pipe: no file of ours to leave behind
    job.setOutputPath(out);
    job.setArguments({QStringLiteral("-y"),
                      QStringLiteral("-hide_banner"),
                      QStringLiteral("-nostats"),
                      QStringLiteral("-loglevel"),
                      QStringLiteral("error"),
                      QStringLiteral("-i"),
                      QStringLiteral("file:") + QFileInfo(in).absoluteFilePath(),
                      QStringLiteral("-f"),
                      QStringLiteral("ffmetadata"),
                      QStringLiteral("-i"),
                      QStringLiteral("pipe:0"),
                      QStringLiteral("-map"),
                      QStringLiteral("0"),
                      QStringLiteral("-map_metadata"),
                      QStringLiteral("1"),
                      QStringLiteral("-map_chapters"),
                      QStringLiteral("1"),
                      QStringLiteral("-c"),
                      QStringLiteral("copy"),
                      QStringLiteral("-movflags"),
                      QStringLiteral("+faststart"),
                      QStringLiteral("-f"),
                      QStringLiteral("mp4"),
                      QStringLiteral("file:") + QFileInfo(out).absoluteFilePath()});
    const cv::Mat bytes(1, int(metadata.size()), CV_8UC1, const_cast<char*>(metadata.constData()));
    if (job.start() && job.writeFrame(bytes) && job.closeInput() && job.waitForFinished(120000) &&
        job.result() == EncoderJob::Result::Succeeded)
        return true;
    job.stop(1000);
    if (cancel)
        error->clear();
    else if (job.log().join(QLatin1Char('\n')).contains(QLatin1String("No space left")))
        *error = diskFullMessage(shownPath);
    else
        *error = QStringLiteral("Les chapitres du montage n'ont pas pu être ajoutés par ffmpeg. %1")
                     .arg(job.errorText());
    return false;
}

} // namespace kel
