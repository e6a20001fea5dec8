#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

class QThread;

namespace kel {

class MontageRenderer;

// The montage of one export. The window is never shown: the montage is composed off screen by a
// MontageRenderer on a worker thread, so that no window freezes while it renders. It starts at
// construction, unless the project has no annotation it can insert (then it has failed at once,
// with a message). Cancelling, here or at quit, stops ffmpeg too: gently, then by force.
class Mixing : public QMainWindow {
    Q_OBJECT
public:
    Mixing(const QString& studentVideoPath, const QString& projectDir, int frameWidth,
           int frameHeight, int insetTop, int insetWidth, int insetHeight,
           const QStringList& annotationFiles, const QList<int>& annotationSchedule,
           int captionWidth, int captionHeight, int captionFontPx, bool compressMontage,
           const QString& format = QStringLiteral("avi"));
    // Stops a render still going; nothing half written remains.
    ~Mixing() override;

    int frameWidth;
    int frameHeight;
    int insetTop;
    int insetWidth;
    int insetHeight;
    int captionWidth;
    int captionHeight;
    int captionFontPx;
    bool compressMontage;
    // The montage this export produces: VideoFinale.avi, or montage.avi when compressed.
    QString outputPath;
    QString studentVideoPath;
    QString projectDir;
    QStringList annotationFiles;
    QList<int> annotationSchedule;

    bool isRendering() const { return m_rendering; }
    bool hasSucceeded() const { return m_succeeded; }
    bool hasFailed() const { return !m_rendering && !m_succeeded; }
    // Compression was asked for, but without ffmpeg the result is the uncompressed montage.
    bool fellBackToUncompressed() const;
    // 0 to 100.
    int progressPercent() const;
    // Stops a running render and waits for it (its partial file is removed).
    void cancel();
    // The same without waiting: exportEnded(false) follows once the render has stopped.
    void requestCancel();

public slots:
    // The render has ended: completion, or the failure told to the user.
    void finExport();

signals:
    void exportEnded(bool succeeded);

private:
    std::unique_ptr<MontageRenderer> m_renderer;
    QThread* m_thread = nullptr;
    bool m_rendering = false;
    bool m_succeeded = false;
};

} // namespace kel
