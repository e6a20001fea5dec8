#pragma once

#include <QString>

#include <opencv2/core.hpp>

#include <atomic>
#include <memory>
#include <vector>

struct AVFrame;

namespace kel {

// Decodes the first video stream of a file with FFmpeg's libraries, frame by frame in
// presentation order, and gives each frame as the viewer sees it: turned upright by the display
// matrix, stretched by the sample aspect ratio. (OpenCV's capture hides the sign of the rotation,
// the aspect ratio and the next frame's time.)
class VideoDecoder {
public:
    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // The matrix of the pictures given: BT.709 rather than BT.601 (before open()). Then a picture
    // that does not tell its own is taken as players take it: BT.709 from 720 lines up.
    void setBt709Output(bool bt709) { m_bt709Out = bt709; }
    // False when the file is not a video that decodes.
    bool open(const QString& path);
    // Makes the next frame current. False at the end (or when decoding cannot go on).
    bool next();
    // The time of the frame after the current one, decoded but not yet current; false when there
    // is none.
    bool peek(double* timeMs);

    // For a player's still pictures: demuxes the whole file once, right after open(), and gives
    // the time of every frame in presentation order and the end of the last one (a file written
    // without duration or index tells neither). False when the file holds no frame, or once
    // `stop` is set.
    bool scanFrames(std::vector<double>* times, double* endMs,
                    const std::atomic<bool>* stop = nullptr);
    // Whether a player can seek in the file straight to a frame: not in a transport stream, nor
    // in one written without length or index (a browser's recording).
    bool hasSeekIndex() const;
    // Makes the frame shown at `ms` current: the last whose time is <= ms, the first before it.
    // Exact where the container's own seeking is not (no index, a transport stream).
    bool seekTo(double ms);

    // Time of the current frame in ms, counted from the first frame.
    double timeMs() const { return m_timeMs; }
    // Usual time between two frames, in ms (for the length of the last one).
    double frameMs() const { return m_frameMs; }
    // The stream's length as its container tells it; 0 when unknown.
    double durationMs() const { return m_durationMs; }
    // Clockwise quarter turns that make the stored picture upright: 0 to 3.
    int quarterTurns() const { return m_quarterTurns; }
    // The upright picture's shape in square pixels (for the current frame).
    cv::Size displaySize() const;

    // The current frame, upright, scaled to `size` (the upright size, rounded down to even), as
    // a 4:2:0 picture of the montage (yuv_picture.h). An interlaced video's frames come
    // deinterlaced.
    cv::Mat picture(cv::Size size);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    bool decodeAhead();
    bool pull(AVFrame* out);
    bool decodeRaw(AVFrame* out);
    bool startDeinterlacer(const AVFrame* first);
    bool seekToKey(double keyMs);
    bool m_bt709Out = false;
    double m_timeMs = 0;
    double m_frameMs = 40;
    double m_durationMs = 0;
    int m_quarterTurns = 0;
};

// Walks a video forwards in time: at time t it shows the last frame whose time is <= t (the
// first frame before that). Frames are converted to pixels only when shown.
class FrameStepper {
public:
    bool open(const QString& path);
    void setBt709Output(bool bt709) { m_decoder.setBt709Output(bt709); }
    // Usual time between two frames, in ms.
    double frameMs() const { return m_decoder.frameMs(); }
    // Moves to the frame shown at `t` ms (never backwards). False once `t` is past the end of the
    // last frame.
    bool advanceTo(double t);
    // Length of the video: the container's figure, or the end of the last frame once reached.
    double durationMs() const;
    // Changes whenever the current frame does.
    quint64 generation() const { return m_generation; }
    cv::Size displaySize() const { return m_decoder.displaySize(); }
    // The current frame at `size` (upright), kept until the frame or the size changes.
    const cv::Mat& picture(cv::Size size);

private:
    VideoDecoder m_decoder;
    bool m_atEnd = false;
    quint64 m_generation = 0;
    quint64 m_pictureGeneration = 0;
    cv::Mat m_picture;
};

} // namespace kel
