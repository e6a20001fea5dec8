#pragma once

#include "export/montage_renderer.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

class QThread;

namespace kel {

// The montage of one export. The window is never shown: the montage is composed off screen by a
// MontageRenderer on a worker thread, so that no window freezes while it renders. It starts at
// construction, unless the project has no annotation it can insert (then it has failed at once,
// with a message). Cancelling, here or at quit, stops ffmpeg too: gently, then by force.
class Mixing : public QMainWindow {
    Q_OBJECT
public:
    // `annotationFiles`: the names of the project's annotation files, to tell why a plan that
    // inserts none is refused.
    Mixing(const MontageJob& job, const QStringList& annotationFiles);
    // Stops a render still going; nothing half written remains.
    ~Mixing() override;

    // The montage this export produces: VideoFinale.avi, montage.avi or montage.mp4.
    QString outputPath() const;

    bool isRendering() const { return m_rendering; }
    bool hasSucceeded() const { return m_succeeded; }
    bool hasFailed() const { return !m_rendering && !m_succeeded; }
    // Stops a running render and waits for it (its partial file is removed).
    void cancel();
    // The same without waiting: exportEnded(false) follows once the render has stopped.
    void requestCancel();

public slots:
    // The render has ended: completion, or the failure told to the user.
    void finExport();

signals:
    void exportEnded(bool succeeded);
    // From the render, 0 to 100.
    void progressChanged(int percent);

private:
    std::unique_ptr<MontageRenderer> m_renderer;
    QThread* m_thread = nullptr;
    bool m_rendering = false;
    bool m_succeeded = false;
};

} // namespace kel
