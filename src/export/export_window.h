#pragma once

#include "export/export_settings.h"
#include "export/montage_renderer.h"

#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QSize>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace kel {

// The export settings window: frame size, compression, file format, the MP4's layout and inset
// size, then the launch of the montage. Once launched it hides; the montage tells of its end. The
// choices of the last launch are offered again at the next export.
class Export : public QMainWindow {
    Q_OBJECT
public:
    Export(const QString& projectDir, const QString& studentVideoPath);
    ~Export() override;

    // Widgets, in creation order.
    QRadioButton* rbSansPerte;
    QRadioButton* rbGrandeResolution;
    QRadioButton* rbMoyenneResolution;
    QRadioButton* rbFaibleResolution;
    QCheckBox* cbCompresserMontage;
    QLabel* labelFormat;
    QComboBox* comboFormat;
    // The MP4 only: its hd size and where the comment goes.
    QRadioButton* rbHd;
    QLabel* labelDisposition;
    QComboBox* comboDisposition;
    // The montage's frame to scale, over a picture of the student's video, and its inset.
    QLabel* previewVideo;
    QLabel* previewAnnotation;
    QSlider* sliderTaille;
    QLabel* labelTaille;
    QPushButton* bLancerExportation;
    QPushButton* bAnnuler;

    QString projectDir;
    QString studentVideoPath;
    // The slider has moved since the window opened (or in the last launch's choices).
    bool sizeChanged = false;

    // What the project gives the montage: the insertions, and its annotation files' names.
    void setProject(const QList<AnnotationInsertion>& plan, const QStringList& annotationFiles);
    // The sizes a launch would use now; changes nothing.
    MontageGeometry chosenGeometry() const;
    // "avi" or "mp4".
    QString chosenFormat() const;
    // The MP4's layout (the AVI knows only the inset).
    MontageLayout chosenLayout() const;
    // The MP4 in hd: 1280 x 720 in the orientation of the student's upright picture.
    bool chosenHd() const;
    // The montage the choices describe.
    MontageJob chosenJob() const;

public slots:
    void lancerExportation();
    void annuler();
    void tailleAnnotations(int iValue);

signals:
    // The teacher launched the montage that `job` describes.
    void launched(const kel::MontageJob& job, const QStringList& annotationFiles);

private:
    void createChoices();
    void createPreview();
    void setTexts();
    Resolution checkedResolution() const;
    // The frame the renderer will make: the hd frame in place of the geometry's.
    MontageGeometry filmGeometry() const;
    void choicesChanged();
    void updateControls();
    void updatePreview();
    void restoreChoices();
    void saveChoices() const;

    QList<AnnotationInsertion> m_plan;
    QStringList m_annotationFiles;
    QImage m_studentPicture;
    // The student's picture as the renderer sees it: upright, in square pixels; empty if unread.
    QSize m_studentDisplay;
    bool m_portrait = false;
};

} // namespace kel
