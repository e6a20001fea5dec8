#pragma once

#include "export/montage_renderer.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QUrl;

namespace kel {

class Export;
class Mixing;
class ProjectSession;

// The one owner of an export's life: the settings window, then the montage it launches, its
// progress, its cancellation and its end. Quitting asks it whether a montage is rendering.
class ExportController : public QObject {
    Q_OBJECT
public:
    explicit ExportController(QObject* parent = nullptr);
    // Stops a montage still rendering; nothing half written remains.
    ~ExportController() override;

    // Opens the settings window for the session's project and `studentVideo`.
    void openSettings(const ProjectSession& session, const QString& studentVideo);
    // The settings window last opened, null before the first.
    Export* settingsWindow() const;
    // The montage last launched, null before the first.
    Mixing* montage() const { return m_montage; }
    bool isRendering() const;
    // Why no export can start now (French), empty when one can: `compressing`, a recording is
    // being compressed, and its file is about to be replaced.
    QString refusal(const ProjectSession& session, const QString& studentVideo,
                    bool compressing) const;
    // Hands a folder or a file to the desktop's file manager or player; false when none took it.
    using UrlOpener = std::function<bool(const QUrl&)>;
    // Tells where the montage is, its size and length, and offers to show or play it with
    // `open` (the desktop's own by default); says so, with the path, when that fails.
    static void showResult(const QString& montagePath, const UrlOpener& open = UrlOpener());
    // Stops the render without waiting: ended(false) follows.
    void requestCancel();
    // Stops the render and waits for it (at quit).
    void cancelAndWait();

signals:
    void started();
    void progressChanged(int percent);
    // `path`: the montage written, when `succeeded`.
    void ended(bool succeeded, const QString& path);

private:
    void launch(const MontageJob& job, const QStringList& annotationFiles);

    QPointer<Export> m_settings;
    Mixing* m_montage = nullptr;
};

// The montage's insertions from what the session holds.
QList<AnnotationInsertion> planInsertions(const ProjectSession& session);

} // namespace kel
