#pragma once

// Projects and media for montage tests: a student video whose grey level tells its second, and
// annotations of solid, distinct colours.

#include "support/media.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace montagemedia {

// Grey level 60 + 40 x the whole second of the student's video.
inline int studentLevel(int second) {
    return 60 + 40 * second;
}

// A student video of `seconds`, 25 fps, whose picture is grey at studentLevel(second).
inline bool makeStudent(const QString& path, int seconds, const QString& size = "160x120") {
    return testmedia::ffmpeg(
        {"-f", "lavfi", "-i",
         QStringLiteral("color=c=black:size=%1:rate=25:duration=%2,format=gray,"
                        "geq=lum='60+40*floor(T)'")
             .arg(size)
             .arg(seconds),
         "-pix_fmt", "yuv420p", "-c:v", "mpeg4", "-q:v", "2", path});
}

// A one-colour annotation (lavfi colour name) of `seconds`, 25 fps, MPEG-4 in AVI.
inline bool makeAnnotation(const QString& path, const QString& colour, double seconds = 1,
                           const QString& size = "160x120") {
    return testmedia::makeVideo(path, QStringLiteral("color=c=%1").arg(colour), seconds, 25, size);
}

struct Entry {
    int number;
    int position;
    double cutStart = 0;
    double cutEnd = 0;
};

// project.xml as the project file unit writes it.
inline bool writeProject(const QString& dir, const QList<Entry>& entries) {
    QString xml = QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>\n<ANNOTATION>\n");
    for (const Entry& e : entries) {
        xml += QStringLiteral(" <Numero Value=\"%1\">\n  <FramePosition Value=\"%2\"/>\n"
                              "  <Type Value=\"0\"/>\n")
                   .arg(e.number)
                   .arg(e.position);
        if (e.cutStart > 0)
            xml += QStringLiteral("  <CouperAnnotation ValueDebut=\"%1\"/>\n").arg(e.cutStart);
        if (e.cutEnd > 0)
            xml += QStringLiteral("  <CouperAnnotation ValueFin=\"%1\"/>\n").arg(e.cutEnd);
        xml += QStringLiteral(" </Numero>\n");
    }
    xml += QStringLiteral("</ANNOTATION>\n");
    QFile f(QDir(dir).filePath("project.xml"));
    return f.open(QIODevice::WriteOnly) && f.write(xml.toUtf8()) > 0;
}

// "codec_name=rawvideo", "r_frame_rate=16/1", ... of the first video stream.
inline QStringList probe(const QString& path) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_streams", path});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

inline bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() &&
           (!executable || f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
}

// Files standing for the montage of an earlier export.
inline bool writeEarlierMontage(const QString& dir) {
    for (const char* name : {"VideoFinale.avi", "montage.avi", "montage.srt"})
        if (!writeFile(QDir(dir).filePath(name), "earlier"))
            return false;
    return true;
}

// The montage files in `dir`, temporary ones included, "(earlier)" after those writeEarlierMontage
// wrote.
inline QStringList montageFiles(const QString& dir) {
    QStringList names =
        QDir(dir).entryList({"*Finale*", "*montage*"}, QDir::Files | QDir::Hidden, QDir::Name);
    for (QString& name : names) {
        QFile f(QDir(dir).filePath(name));
        if (f.open(QIODevice::ReadOnly) && f.readAll() == "earlier")
            name += " (earlier)";
    }
    return names;
}

inline QList<cv::Mat> readFrames(const QString& path) {
    QList<cv::Mat> frames;
    cv::VideoCapture cap(QFile::encodeName(path).toStdString(), cv::CAP_FFMPEG);
    cv::Mat f;
    while (cap.read(f))
        frames << f.clone();
    return frames;
}

} // namespace montagemedia
