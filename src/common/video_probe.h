#pragma once

#include <QString>

namespace kel {

// What opening a file as a video tells: it decodes (one frame read), its rate and length as the
// container gives them (0 when unknown).
struct VideoProbe {
    bool readable = false;
    double fps = 0;
    qint64 frameCount = 0;
    qint64 durationMs() const {
        return fps > 0 && frameCount > 0 ? qint64(frameCount * 1000.0 / fps + 0.5) : 0;
    }
};

// Opens `path` with OpenCV's FFmpeg back end and reads its first frame.
VideoProbe probeVideo(const QString& path);

} // namespace kel
