#pragma once

#include "export/export_settings.h"
#include "export/montage_renderer.h"

#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace kel {

// The export settings window: frame size, compression, file format and inset size, then the
// launch of the montage. Once launched it hides; the montage tells of its end. The choices of the
// last launch are offered again at the next export.
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
    void updatePreview();
    void restoreChoices();
    void saveChoices() const;

    QList<AnnotationInsertion> m_plan;
    QStringList m_annotationFiles;
    QImage m_studentPicture;
};

} // namespace kel
