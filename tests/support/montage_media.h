#pragma once

// Projects and media for montage tests: a student video whose grey level tells its second, project
// files, and files standing for the montage of an earlier export.

#include "support/media.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace montagemedia {

// A student video of `seconds`, 160 x 120 at 25 fps, grey at 60 + 40 x its whole second.
inline bool makeStudent(const QString& path, int seconds) {
    return testmedia::ffmpeg({"-f", "lavfi", "-i",
                              QStringLiteral("color=c=black:size=160x120:rate=25:duration=%1,"
                                             "format=gray,geq=lum='60+40*floor(T)'")
                                  .arg(seconds),
                              "-c:v", "mpeg4", "-q:v", "2", path});
}

// A clip of `seconds` at 25 fps whose upright picture, `size` in square pixels, is blue with a
// white bar across its top eighth. `encode` are ffmpeg's output options; `turn` stores the picture
// turned a quarter ("clock" or "cclock") with the rotation that shows it upright again ("90" or
// "270"), as phones do.
inline bool makeUpright(const QString& path, const QString& size, const QStringList& encode,
                        const QString& turn = QString(), const QString& rotate = QString(),
                        double seconds = 1) {
    const QString source =
        QStringLiteral("color=c=blue:size=%1:rate=25:duration=%2,drawbox=x=0:y=0:w=iw:h=ih/8:"
                       "c=white:t=fill")
            .arg(size)
            .arg(seconds);
    if (turn.isEmpty())
        return testmedia::ffmpeg(QStringList{"-f", "lavfi", "-i", source} + encode +
                                 QStringList{path});
    const QString stored = path + ".stored.mp4";
    return testmedia::ffmpeg({"-f", "lavfi", "-i", source, "-vf", "transpose=" + turn, "-c:v",
                              "libx264", "-pix_fmt", "yuv420p", stored}) &&
           testmedia::ffmpeg(
               {"-i", stored, "-c", "copy", "-metadata:s:v", "rotate=" + rotate, path});
}

using testmedia::writeFile;

struct Entry {
    int number;
    int position;
    double cutStart = 0; // 0: not set, so not written
    double cutEnd = 0;
};

// project.xml with these entries, as the project file unit reads it.
inline bool writeProject(const QString& dir, const QList<Entry>& entries) {
    QString xml = "<ANNOTATION>\n";
    for (const Entry& e : entries) {
        xml += QStringLiteral("<Numero Value=\"%1\"><FramePosition Value=\"%2\"/>")
                   .arg(e.number)
                   .arg(e.position);
        if (e.cutStart > 0)
            xml += QStringLiteral("<CouperAnnotation ValueDebut=\"%1\"/>").arg(e.cutStart);
        if (e.cutEnd > 0)
            xml += QStringLiteral("<CouperAnnotation ValueFin=\"%1\"/>").arg(e.cutEnd);
        xml += "</Numero>\n";
    }
    return writeFile(dir + "/project.xml", (xml + "</ANNOTATION>\n").toUtf8());
}

using testmedia::probe;

// Files standing for the montage of an earlier export.
inline bool writeEarlierMontage(const QString& dir) {
    return writeFile(dir + "/VideoFinale.avi", "earlier") &&
           writeFile(dir + "/montage.avi", "earlier") && writeFile(dir + "/montage.srt", "earlier");
}

// What montageFiles() lists when an export left the earlier montage alone.
inline const QStringList kEarlier{"VideoFinale.avi (earlier)", "montage.avi (earlier)",
                                  "montage.srt (earlier)"};

// The montage files in `dir`, temporary ones included, "(earlier)" after those writeEarlierMontage
// wrote.
inline QStringList montageFiles(const QString& dir) {
    QStringList names =
        QDir(dir).entryList({"*Finale*", "*montage*"}, QDir::Files | QDir::Hidden, QDir::Name);
    for (QString& name : names)
        if (testmedia::contents(QDir(dir).filePath(name)) == "earlier")
            name += " (earlier)";
    return names;
}

inline cv::Mat firstFrame(const QString& path) {
    cv::Mat frame;
    cv::VideoCapture(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG).read(frame);
    return frame;
}

// Frame `index` of a video (BGR), empty past its end.
inline cv::Mat frameAt(const QString& path, int index) {
    cv::VideoCapture cap(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    cv::Mat frame;
    for (int i = 0; i <= index; ++i)
        if (!cap.read(frame))
            return {};
    return frame;
}

// ffmpeg's report on a video through `filter` (its log, where filters print their verdicts).
inline QString ffmpegReport(const QString& path, const QString& filter) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"),
            {"-hide_banner", "-nostats", "-i", path, "-vf", filter, "-f", "null", "-"});
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAll());
}

} // namespace montagemedia
