#pragma once

#include "export/export_settings.h"

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

// H.264 in AVI, or in MP4 with its index first so that it streams: raw frames piped to ffmpeg at
// `fps`, which writes `outputFps`. Waits on ffmpeg are bounded and give up as soon as `cancel` is
// set.
std::unique_ptr<MontageSink> makeEncoderSink(const QString& path, const QString& shownPath,
                                             const MontageGeometry& g, const QString& program,
                                             double fps, int outputFps, bool mp4,
                                             const std::atomic<bool>& cancel);

} // namespace kel
