#pragma once

#include "export/export_settings.h"

#include <QByteArray>
#include <QString>

#include <opencv2/core.hpp>

#include <atomic>
#include <memory>

namespace kel {

class EncoderJob;

// Where the montage's frames go: a file (a hidden one, until the export takes it), frame by
// frame. Every failure is told at the write that meets it.
class MontageSink {
public:
    virtual ~MontageSink() = default;
    virtual bool open(QString* error) = 0;
    // False at the first frame that cannot be written; `error` empty when cancelled.
    virtual bool write(const cv::Mat& frame, QString* error) = 0;
    // Completes the file. False when cancelled (error left empty) or failed.
    virtual bool finish(QString* error) = 0;
    // Stops; the file is left for its owner to remove.
    virtual void abort() = 0;
};

// The message of a write that failed for lack of room (or of the right to write).
QString diskFullMessage(const QString& path);

// Uncompressed 'DIB ' AVI, 16 fps, written with FFmpeg's muxer, so that a full disk shows at once.
// `shownPath` is the name that messages give (the montage's, not the hidden file's).
std::unique_ptr<MontageSink> makeRawAviSink(const QString& path, const QString& shownPath,
                                            cv::Size size, double fps);

struct EncoderSettings {
    double fps = 16;    // of the frames given
    int outputFps = 25; // of the file
    bool mp4 = false;
    bool faststart = true; // the MP4's index first, so that it streams
    int bitRate = 0;       // kbit/s; 0: by the frame's width
    bool bt709 = false;    // the frames' matrix, written into the MP4 (BT.601 otherwise)
};

// H.264 in AVI, or in MP4: raw frames piped to ffmpeg. Waits on ffmpeg are bounded and give up as
// soon as `cancel` is set.
std::unique_ptr<MontageSink> makeEncoderSink(const QString& path, const QString& shownPath,
                                             const MontageGeometry& g, const QString& program,
                                             const EncoderSettings& settings,
                                             const std::atomic<bool>& cancel);

// Copies the MP4 `in` to `out` with the chapters of `metadata` (in ffmpeg's metadata format), its
// index first. False with `error` set (empty when cancelled).
bool addChapters(const QString& program, const QString& in, const QByteArray& metadata,
                 const QString& out, const QString& shownPath, const std::atomic<bool>& cancel,
                 QString* error);

} // namespace kel
