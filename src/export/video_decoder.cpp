#include "video_decoder.h"

#include "export/yuv_picture.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>

namespace kel {

struct VideoDecoder::Impl {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* current = nullptr;
    AVFrame* ahead = nullptr;
    SwsContext* sws = nullptr;
    SwsContext* toYuv = nullptr; // the second half of a change of matrix, through BGR
    AVFrame* raw = nullptr;      // a decoded frame on its way to the deinterlacer
    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int swsKey = -1;
    bool filterDecided = false;
    bool filterFlushed = false;
    bool hasAhead = false;
    bool flushed = false;
    bool ended = false;
    double aheadMs = 0;
    double lastMs = -1;
    int64_t origin = AV_NOPTS_VALUE; // in the stream's time base
    // Key frames met by scanFrames(): time in ms and byte position (-1 unknown).
    std::vector<std::pair<double, int64_t>> keys;
    bool hasCurrent = false;

    ~Impl() {
        avfilter_graph_free(&graph);
        av_frame_free(&raw);
        sws_freeContext(toYuv);
        sws_freeContext(sws);
        av_frame_free(&ahead);
        av_frame_free(&current);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

namespace {

const uint8_t* displayMatrix(const AVStream* stream) {
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
    const AVPacketSideData* sd =
        av_packet_side_data_get(stream->codecpar->coded_side_data,
                                stream->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    return sd && sd->size >= 9 * sizeof(int32_t) ? sd->data : nullptr;
#else
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return size >= 9 * sizeof(int32_t) ? data : nullptr;
#endif
}

// As ffmpeg turns a picture upright: the matrix's counter-clockwise angle, undone clockwise.
int quarterTurnsOf(const AVStream* stream) {
    const uint8_t* matrix = displayMatrix(stream);
    if (!matrix)
        return 0;
    const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(angle))
        return 0;
    const int turns = int(std::lround(-angle / 90.0));
    return ((turns % 4) + 4) % 4;
}

// The matrix a picture was made with (swscale's name). One that does not tell is taken as players
// take it: by its size when the montage is HD, else as SD, as it always was.
int sourceMatrix(const AVFrame* f, bool hdGuess) {
    switch (f->colorspace) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    case AVCOL_SPC_UNSPECIFIED:
        return hdGuess && (f->height >= 720 || f->width >= 1280) ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    default:
        return SWS_CS_DEFAULT;
    }
}

// MJPEG's "yuvj" formats are the plain ones in full range; named so, swscale neither warns nor
// makes a new context for every frame.
AVPixelFormat plainFormat(AVPixelFormat format, bool* fullRange) {
    static const std::pair<AVPixelFormat, AVPixelFormat> kPlain[] = {
        {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P},
        {AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P},
        {AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P},
        {AV_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUV440P},
        {AV_PIX_FMT_YUVJ411P, AV_PIX_FMT_YUV411P}};
    for (const auto& [j, plain] : kPlain)
        if (format == j) {
            *fullRange = true;
            return plain;
        }
    return format;
}

} // namespace

VideoDecoder::VideoDecoder() : d(std::make_unique<Impl>()) {}

VideoDecoder::~VideoDecoder() = default;

bool VideoDecoder::open(const QString& path) {
    d = std::make_unique<Impl>();
    m_timeMs = 0;
    if (!QFileInfo(path).isFile())
        return false;
    // "file:" so that a name such as "pipe:x.avi" is never read as another protocol.
    const QByteArray url = "file:" + QFile::encodeName(QFileInfo(path).absoluteFilePath());
    if (avformat_open_input(&d->format, url.constData(), nullptr, nullptr) < 0)
        return false;
    if (avformat_find_stream_info(d->format, nullptr) < 0)
        return false;
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(d->format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (index < 0 || !decoder)
        return false;
    d->stream = d->format->streams[index];
    for (unsigned i = 0; i < d->format->nb_streams; ++i)
        if (int(i) != index)
            d->format->streams[i]->discard = AVDISCARD_ALL;
    d->codec = avcodec_alloc_context3(decoder);
    if (!d->codec || avcodec_parameters_to_context(d->codec, d->stream->codecpar) < 0)
        return false;
    // The encoder and the composing thread have a core each: decoding threads beyond the rest
    // only fight them (on two cores, one thread is a third faster).
    d->codec->thread_count = std::max(1, QThread::idealThreadCount() - 2);
    if (avcodec_open2(d->codec, decoder, nullptr) < 0)
        return false;
    d->packet = av_packet_alloc();
    d->current = av_frame_alloc();
    d->ahead = av_frame_alloc();
    if (!d->packet || !d->current || !d->ahead)
        return false;

    const AVRational rate = av_guess_frame_rate(d->format, d->stream, nullptr);
    const double fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
    m_frameMs = fps > 1 && fps < 1000 ? 1000.0 / fps : 40.0;
    if (d->stream->duration > 0)
        m_durationMs = d->stream->duration * av_q2d(d->stream->time_base) * 1000;
    else if (d->format->duration > 0)
        m_durationMs = d->format->duration / 1000.0;
    // Times count from the start of the file, as a player's position does.
    if (d->format->start_time != AV_NOPTS_VALUE)
        d->origin = av_rescale_q(d->format->start_time, AV_TIME_BASE_Q, d->stream->time_base);
    m_quarterTurns = quarterTurnsOf(d->stream);
    return true;
}

bool VideoDecoder::decodeRaw(AVFrame* out) {
    for (int errors = 0;;) {
        const int received = avcodec_receive_frame(d->codec, out);
        if (received == 0)
            return true;
        // A frame that does not decode is skipped, not taken for the end of the video.
        const bool damaged = received != AVERROR(EAGAIN) && received != AVERROR_EOF;
        if (damaged && ++errors < 100 && !d->flushed)
            continue;
        if (received != AVERROR(EAGAIN) || d->flushed)
            return false;
        if (av_read_frame(d->format, d->packet) < 0) {
            avcodec_send_packet(d->codec, nullptr);
            d->flushed = true;
            continue;
        }
        // A damaged packet is skipped: the previous picture stays on screen.
        if (d->packet->stream_index == d->stream->index)
            avcodec_send_packet(d->codec, d->packet);
        av_packet_unref(d->packet);
    }
}

// Camcorders film in fields: without deinterlacing, every movement combs. bwdif keeps one frame
// per frame, so that times stay those of the file.
bool VideoDecoder::startDeinterlacer(const AVFrame* first) {
    const AVFieldOrder order = d->stream->codecpar->field_order;
    const bool interlaced =
        first->interlaced_frame || (order != AV_FIELD_UNKNOWN && order != AV_FIELD_PROGRESSIVE);
    if (!interlaced)
        return true;
    d->graph = avfilter_graph_alloc();
    if (!d->graph)
        return false;
    d->graph->nb_threads = 1;
    const AVRational tb = d->stream->time_base;
    const AVRational sar =
        first->sample_aspect_ratio.num > 0 ? first->sample_aspect_ratio : AVRational{1, 1};
    const QByteArray args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:"
                                           "pixel_aspect=%6/%7")
                                .arg(first->width)
                                .arg(first->height)
                                .arg(first->format)
                                .arg(tb.num)
                                .arg(tb.den)
                                .arg(sar.num)
                                .arg(sar.den)
                                .toLatin1();
    AVFilterContext* bwdif = nullptr;
    const bool ok =
        avfilter_graph_create_filter(&d->source, avfilter_get_by_name("buffer"), "in",
                                     args.constData(), nullptr, d->graph) >= 0 &&
        avfilter_graph_create_filter(&d->sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                     nullptr, d->graph) >= 0 &&
        avfilter_graph_create_filter(&bwdif, avfilter_get_by_name("bwdif"), "deinterlace",
                                     "mode=send_frame:parity=auto:deint=all", nullptr,
                                     d->graph) >= 0 &&
        avfilter_link(d->source, 0, bwdif, 0) >= 0 && avfilter_link(bwdif, 0, d->sink, 0) >= 0 &&
        avfilter_graph_config(d->graph, nullptr) >= 0;
    if (!ok)
        avfilter_graph_free(&d->graph); // shown as decoded rather than not at all
    return true;
}

// The next frame as shown: decoded, deinterlaced when it must be.
bool VideoDecoder::pull(AVFrame* out) {
    if (!d->filterDecided) {
        d->filterDecided = true;
        if (!decodeRaw(out))
            return false;
        startDeinterlacer(out);
        if (!d->graph)
            return true;
        out->pts = out->best_effort_timestamp;
        if (av_buffersrc_add_frame(d->source, out) < 0)
            return false;
    }
    if (!d->graph)
        return decodeRaw(out);
    for (;;) {
        const int got = av_buffersink_get_frame(d->sink, out);
        if (got == 0) {
            // The filter counts in half frames.
            out->best_effort_timestamp =
                out->pts == AV_NOPTS_VALUE
                    ? AV_NOPTS_VALUE
                    : av_rescale_q(out->pts, av_buffersink_get_time_base(d->sink),
                                   d->stream->time_base);
            return true;
        }
        if (got != AVERROR(EAGAIN) || d->filterFlushed)
            return false;
        if (!d->raw && !(d->raw = av_frame_alloc()))
            return false;
        if (!decodeRaw(d->raw)) {
            if (av_buffersrc_add_frame(d->source, nullptr) < 0) // the last frames out
                return false;
            d->filterFlushed = true;
            continue;
        }
        d->raw->pts = d->raw->best_effort_timestamp;
        if (av_buffersrc_add_frame(d->source, d->raw) < 0)
            av_frame_unref(d->raw); // a frame the filter refuses is skipped
    }
}

bool VideoDecoder::decodeAhead() {
    if (!d->codec || d->ended)
        return false;
    if (!pull(d->ahead)) {
        d->ended = true;
        return false;
    }
    const int64_t ts = d->ahead->best_effort_timestamp;
    double ms;
    if (ts == AV_NOPTS_VALUE) {
        ms = d->lastMs < 0 ? 0 : d->lastMs + m_frameMs;
    } else {
        if (d->origin == AV_NOPTS_VALUE)
            d->origin = ts;
        ms = (ts - d->origin) * av_q2d(d->stream->time_base) * 1000;
    }
    d->aheadMs = std::max({ms, d->lastMs, 0.0});
    d->lastMs = d->aheadMs;
    d->hasAhead = true;
    return true;
}

bool VideoDecoder::peek(double* timeMs) {
    if (!d->hasAhead && !decodeAhead())
        return false;
    *timeMs = d->aheadMs;
    return true;
}

bool VideoDecoder::next() {
    if (!d->hasAhead && !decodeAhead())
        return false;
    av_frame_unref(d->current);
    av_frame_move_ref(d->current, d->ahead);
    d->hasAhead = false;
    d->hasCurrent = true;
    m_timeMs = d->aheadMs;
    return true;
}

bool VideoDecoder::scanFrames(std::vector<double>* times, double* endMs,
                              const std::atomic<bool>* stop) {
    times->clear();
    *endMs = 0;
    if (!d->codec)
        return false;
    const double tb = av_q2d(d->stream->time_base) * 1000;
    int64_t origin = d->origin;
    std::vector<std::pair<int64_t, int64_t>> stamps; // time, duration
    while (av_read_frame(d->format, d->packet) >= 0) {
        if (stop && *stop) {
            av_packet_unref(d->packet);
            return false;
        }
        const AVPacket* p = d->packet;
        const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        if (p->stream_index == d->stream->index && ts != AV_NOPTS_VALUE) {
            if (origin == AV_NOPTS_VALUE)
                origin = ts;
            stamps.emplace_back(ts, p->duration);
            if (p->flags & AV_PKT_FLAG_KEY)
                d->keys.emplace_back(std::max(0.0, (ts - origin) * tb), p->pos);
        }
        av_packet_unref(d->packet);
    }
    if (stamps.empty())
        return false;
    if (d->origin == AV_NOPTS_VALUE)
        d->origin = origin;
    std::sort(stamps.begin(), stamps.end());
    for (const auto& [ts, duration] : stamps)
        times->push_back(std::max(0.0, (ts - d->origin) * tb));
    const double lastLength = stamps.back().second > 0 ? stamps.back().second * tb : m_frameMs;
    *endMs = times->back() + lastLength;
    std::sort(d->keys.begin(), d->keys.end());
    // Read to the end: the next picture comes through a seek.
    d->hasCurrent = false;
    return true;
}

bool VideoDecoder::hasSeekIndex() const {
    return d->format && !(d->format->iformat->flags & AVFMT_TS_DISCONT) &&
           d->format->duration > 0 && d->format->duration != AV_NOPTS_VALUE;
}

bool VideoDecoder::seekToKey(double keyMs) {
    int64_t pos = -1;
    for (const auto& [ms, bytes] : d->keys)
        if (ms <= keyMs + 1e-6)
            pos = bytes;
    // Transport streams seek by bytes, as players do: their times jump and wrap.
    const bool byBytes = pos >= 0 && (d->format->iformat->flags & AVFMT_TS_DISCONT) &&
                         !(d->format->iformat->flags & AVFMT_NO_BYTE_SEEK);
    const int64_t ts = (d->origin == AV_NOPTS_VALUE ? 0 : d->origin) +
                       int64_t(std::floor(keyMs / 1000 / av_q2d(d->stream->time_base)));
    int r = byBytes ? av_seek_frame(d->format, -1, pos, AVSEEK_FLAG_BYTE)
                    : av_seek_frame(d->format, d->stream->index, ts, AVSEEK_FLAG_BACKWARD);
    if (r < 0)
        r = av_seek_frame(d->format, d->stream->index, ts, AVSEEK_FLAG_BACKWARD);
    if (r < 0)
        return false;
    avcodec_flush_buffers(d->codec);
    // The deinterlacer starts again from the new frames.
    avfilter_graph_free(&d->graph);
    d->source = d->sink = nullptr;
    d->filterDecided = d->filterFlushed = false;
    d->flushed = d->ended = d->hasAhead = d->hasCurrent = false;
    d->lastMs = -1;
    return next();
}

bool VideoDecoder::seekTo(double ms) {
    if (!d->codec)
        return false;
    double keyMs = 0;
    for (const auto& key : d->keys)
        if (key.first <= ms + 1e-6)
            keyMs = key.first;
    // Forwards from the frame shown, a step for instance, decoding on costs less than a seek.
    const bool onwards = d->hasCurrent && m_timeMs <= ms + 1e-6 && keyMs <= m_timeMs + 1e-6;
    if (!onwards && !seekToKey(keyMs))
        return false;
    double nextMs = 0;
    while (peek(&nextMs) && nextMs <= ms + 1e-6)
        if (!next())
            break;
    return d->hasCurrent;
}

cv::Size VideoDecoder::displaySize() const {
    if (!d->current || d->current->width <= 0)
        return {};
    AVRational sar = av_guess_sample_aspect_ratio(d->format, d->stream, d->current);
    double ratio = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
    if (ratio < 0.1 || ratio > 10)
        ratio = 1.0;
    // Players keep the stored height and stretch the width.
    const cv::Size size(std::max(1, int(std::lround(d->current->width * ratio))),
                        d->current->height);
    return m_quarterTurns % 2 ? cv::Size(size.height, size.width) : size;
}

cv::Mat VideoDecoder::picture(cv::Size size) {
    const AVFrame* f = d->current;
    if (!f || f->width <= 0 || size.width <= 0 || size.height <= 0)
        return {};
    size = yuv::evenDown(size);
    const cv::Size stored = m_quarterTurns % 2 ? cv::Size(size.height, size.width) : size;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    const bool rgb = desc && (desc->flags & AV_PIX_FMT_FLAG_RGB);
    bool fullRange = f->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = plainFormat(AVPixelFormat(f->format), &fullRange);
    const int out = m_bt709Out ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    const int in = rgb ? out : sourceMatrix(f, m_bt709Out);
    // swscale does not change matrices between YUV: another matrix goes through BGR.
    const bool viaBgr = in != out;
    // Bilinear down to half size, as a video widget scales; area averaging below, where bilinear
    // would alias.
    const bool shrinksMuch = stored.width * 2 < f->width || stored.height * 2 < f->height;
    SwsContext* before = d->sws;
    d->sws = sws_getCachedContext(d->sws, f->width, f->height, format, stored.width, stored.height,
                                  viaBgr ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUV420P,
                                  shrinksMuch ? SWS_AREA : SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!d->sws)
        return {};
    const int key = in * 4 + int(fullRange) * 2 + int(viaBgr);
    if (d->sws != before || key != d->swsKey) {
        sws_setColorspaceDetails(d->sws, sws_getCoefficients(in), rgb ? 1 : int(fullRange),
                                 sws_getCoefficients(out), viaBgr ? 1 : 0, 0, 1 << 16, 1 << 16);
        d->swsKey = key;
    }
    cv::Mat picture;
    if (viaBgr) {
        cv::Mat bgr(stored, CV_8UC3);
        uint8_t* dst[4] = {bgr.data, nullptr, nullptr, nullptr};
        int dstStride[4] = {int(bgr.step), 0, 0, 0};
        sws_scale(d->sws, f->data, f->linesize, 0, f->height, dst, dstStride);
        if (out == SWS_CS_DEFAULT) {
            cv::cvtColor(bgr, picture, cv::COLOR_BGR2YUV_I420);
        } else {
            d->toYuv = sws_getCachedContext(d->toYuv, stored.width, stored.height, AV_PIX_FMT_BGR24,
                                            stored.width, stored.height, AV_PIX_FMT_YUV420P,
                                            SWS_POINT, nullptr, nullptr, nullptr);
            if (!d->toYuv)
                return {};
            sws_setColorspaceDetails(d->toYuv, sws_getCoefficients(out), 1,
                                     sws_getCoefficients(out), 0, 0, 1 << 16, 1 << 16);
            picture = yuv::picture(stored);
            const yuv::SwsPlanes p = yuv::swsPlanes(picture);
            const uint8_t* src[4] = {bgr.data, nullptr, nullptr, nullptr};
            sws_scale(d->toYuv, src, dstStride, 0, stored.height, p.data, p.linesize);
        }
    } else {
        picture = yuv::picture(stored);
        const yuv::SwsPlanes p = yuv::swsPlanes(picture);
        sws_scale(d->sws, f->data, f->linesize, 0, f->height, p.data, p.linesize);
    }
    return yuv::rotated(picture, m_quarterTurns);
}

bool FrameStepper::open(const QString& path) {
    m_atEnd = false;
    ++m_generation;
    return m_decoder.open(path) && m_decoder.next() && !m_decoder.displaySize().empty();
}

bool FrameStepper::advanceTo(double t) {
    double nextMs = 0;
    while (m_decoder.peek(&nextMs) && nextMs <= t + 1e-6) {
        if (!m_decoder.next())
            break;
        ++m_generation;
    }
    if (m_decoder.peek(&nextMs))
        return true;
    m_atEnd = true;
    return t < m_decoder.timeMs() + m_decoder.frameMs() - 1e-6;
}

double FrameStepper::durationMs() const {
    if (m_atEnd)
        return std::max(m_decoder.durationMs(), m_decoder.timeMs() + m_decoder.frameMs());
    return m_decoder.durationMs();
}

const cv::Mat& FrameStepper::picture(cv::Size size) {
    const cv::Size even = yuv::evenDown(size);
    if (m_pictureGeneration != m_generation || yuv::sizeOf(m_picture) != even) {
        cv::Mat decoded = m_decoder.picture(size);
        if (!decoded.empty()) // a frame that does not convert shows the previous one again
            m_picture = decoded;
        else if (yuv::sizeOf(m_picture) != even)
            m_picture = yuv::black(size);
        m_pictureGeneration = m_generation;
    }
    return m_picture;
}

} // namespace kel
