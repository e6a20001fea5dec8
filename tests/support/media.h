#pragma once

// Tiny media generated at test time with ffmpeg's lavfi sources.

#include <QProcess>
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

} // namespace testmedia
