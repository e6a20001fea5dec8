#pragma once

// Tiny media generated at test time with ffmpeg's lavfi sources.

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace testmedia {

// Runs ffmpeg with `args` (after -y -loglevel error); fails the test when it does not succeed.
inline bool ffmpeg(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-y"), QStringLiteral("-loglevel"),
                                                  QStringLiteral("error")} +
                                          args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("ffmpeg failed: %s", p.readAllStandardError().constData());
        return false;
    }
    return true;
}

// A video of `seconds` from a lavfi `source` (for instance "testsrc" or "color=c=red"),
// MPEG-4 in AVI unless `path` says otherwise.
inline bool makeVideo(const QString& path, const QString& source, double seconds, int fps = 25,
                      const QString& size = QStringLiteral("320x240")) {
    const QString filter =
        QStringLiteral("%1%2size=%3:rate=%4:duration=%5")
            .arg(source, source.contains('=') ? QStringLiteral(":") : QStringLiteral("="), size)
            .arg(fps)
            .arg(seconds);
    QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), filter};
    if (path.endsWith(QLatin1String(".avi")))
        args << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-q:v")
             << QStringLiteral("3");
    args << path;
    return ffmpeg(args);
}

// The `entries` of the first video stream as ffprobe orders them: "h264,160,120,25/1" by default.
inline QString
probe(const QString& path,
      const QString& entries = QStringLiteral("codec_name,width,height,r_frame_rate")) {
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "stream=" + entries, "-of", "csv=p=0", path});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// This environment as on a machine without any screen.
inline QProcessEnvironment withoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

inline QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() &&
           (!executable || f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
}

// Writes `path`, its folder made first; fails the test when it cannot.
inline void touch(const QString& path, const QByteArray& content = "x") {
    QVERIFY(QDir().mkpath(QFileInfo(path).path()) && writeFile(path, content));
}

// A shell script standing for a program such as ffmpeg: `body` runs with $out its last argument.
inline bool writeFake(const QString& path, const QByteArray& body) {
    return writeFile(path, "#!/bin/sh\nfor out; do :; done\n" + body + "\n", true);
}

// PATH starts with `dir` (is `dir` alone when `only`; unchanged when empty) until the returned
// guard goes.
[[nodiscard]] inline auto pathFirst(const QString& dir, bool only = false) {
    const QByteArray path = qgetenv("PATH");
    if (!dir.isEmpty())
        qputenv("PATH", QFile::encodeName(dir) + (only ? QByteArray() : ':' + path));
    return qScopeGuard([path] { qputenv("PATH", path); });
}

} // namespace testmedia
